// The cost of velkpack build next to velkpack pack on one payload folder:
// pack (encode the ten files and verify the container by decoding it) and
// build (encode, rewrite the stub's PE and prove the installer, which
// decodes the segments from the finished image). Reading and writing files
// is left out. Prints figures; never fails.
//
//   build_bench STUB.exe PAYLOAD_DIR
#include <chrono>
#include <cstdio>
#include <string>

#include "tools/build_installer.h"
#include "tools/file_io.h"
#include "tools/pack.h"

namespace {

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        printf("usage: build_bench STUB.exe PAYLOAD_DIR\n");
        return 0;
    }
    static InstallerBuild build;
    static PackedPayload inputs;
    std::string error;
    if (ReadInstallerStub(argv[1], &build, &error) != ToolOk || ReadPayloadInputs(argv[2], &inputs, &error) != ToolOk) {
        printf("build_bench: %s\n", error.c_str());
        return 0;
    }
    uint64_t inputBytes = 0;
    for (const PackedFile& file : inputs.files)
        inputBytes += file.input.size();

    const int runs = 3;
    double bestEncode = 1e9, bestPack = 1e9, bestBuild = 1e9;
    static PackedPayload payload;
    for (int run = 0; run < runs; run++) {
        payload = inputs;
        double t0 = Now();
        int ok = BuildPayload(&payload, &error) == ToolOk;
        double t1 = Now();
        ok = ok && VerifyPayload(payload, &error) == ToolOk;
        double t2 = Now();
        build.payload = inputs;
        double t3 = Now();
        ok = ok && BuildInstallerImage(&build, &error) == ToolOk;
        double t4 = Now();
        if (!ok) {
            printf("build_bench: %s\n", error.c_str());
            return 0;
        }
        if (t1 - t0 < bestEncode)
            bestEncode = t1 - t0;
        if (t2 - t0 < bestPack)
            bestPack = t2 - t0;
        if (t4 - t3 < bestBuild)
            bestBuild = t4 - t3;
    }
    printf("payload: %llu bytes in, %zu bytes packed; installer %zu bytes (best of %d)\n",
           static_cast<unsigned long long>(inputBytes), payload.bytes.size(), build.image.size(), runs);
    printf("encode:                        %8.1f ms\n", bestEncode * 1000);
    printf("pack  (encode + verify):       %8.1f ms\n", bestPack * 1000);
    printf("build (encode + PE + proof):   %8.1f ms\n", bestBuild * 1000);
    printf("build beyond encoding:         %8.1f ms (%.0f%% of encoding)\n", (bestBuild - bestEncode) * 1000,
           100.0 * (bestBuild - bestEncode) / bestEncode);
    printf("build / pack:                  %8.2f\n", bestBuild / bestPack);
    return 0;
}
