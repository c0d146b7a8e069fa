// A full engine run on a realistic image (about 1.1 MB, a client of about
// 1.6 MB): the time spent in the extraction steps themselves, without the
// wizard's 25 ms pauses, next to the time of decoding the same ten streams
// alone, and the peak memory. Prints figures; never fails.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <string>

#include "install/extraction.h"
#include "install/install_state.h"
#include "install/payload_check.h"
#include "payload/lzhuf_decoder.h"
#include "tests/test_files.h"
#include "tests/win/host_window.h"
#include "tests/win/installer_image.h"
#include "ui/progress_display.h"

namespace {

double Seconds(LARGE_INTEGER from, LARGE_INTEGER to)
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return double(to.QuadPart - from.QuadPart) / double(f.QuadPart);
}

} // namespace

int main()
{
    std::string payload = OwnPayload();
    if (payload.empty()) {
        printf("engine_bench: the program carries no payload\n");
        return 0;
    }
    // The image as the installer carries it: code and resources around it.
    std::string image = std::string(60000, 'c') + "***\r\n" + payload + std::string(20000, 'r');
    char cwd[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, cwd);
    std::string imagePath = std::string(cwd) + "\\bench-image.bin";
    FILE* f = fopen(imagePath.c_str(), "wb");
    fwrite(image.data(), 1, image.size(), f);
    fclose(f);

    gInstall.wizard = CreateHostWindow();
    ConnectDecoderToFileBar();
    std::string dir = std::string(cwd) + "\\bench-install";
    lstrcpynA(gInstall.installDir, dir.c_str(), kPathSize);
    gInstall.backupFlag = gInstall.keepSettingsFlag = 0;

    const int runs = 3;
    double bestSteps = 1e9, bestCheck = 1e9;
    int steps = 0;
    for (int run = 0; run < runs; run++) {
        ResetInstallState();
        CreateInstallDirectory();
        SetInstallerImageForTests(imagePath.c_str());
        LARGE_INTEGER t0, t1, t2;
        QueryPerformanceCounter(&t0);
        if (!CheckPayload()) {
            printf("engine_bench: the image does not pass its check\n");
            return 0;
        }
        QueryPerformanceCounter(&t1);
        double inSteps = 0;
        int result;
        steps = 0;
        do {
            LARGE_INTEGER s0, s1;
            QueryPerformanceCounter(&s0);
            result = ExtractStep();
            QueryPerformanceCounter(&s1);
            inSteps += Seconds(s0, s1);
            steps++;
            MSG msg;
            while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE))
                DispatchMessageA(&msg);
        } while (result == MoreWork);
        QueryPerformanceCounter(&t2);
        if (Seconds(t0, t1) < bestCheck)
            bestCheck = Seconds(t0, t1);
        if (inSteps < bestSteps)
            bestSteps = inSteps;
        gInstall.createdDirFlag = 1;
        CleanUpInstallation();
    }

    // The same ten streams decoded alone, from temporary files to a file.
    double bestDecode = 1e9;
    uint64_t decoded = 0;
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    for (int run = 0; run < runs; run++) {
        double total = 0;
        decoded = 0;
        size_t at = payload.find(marker) + 4;
        for (int k = 0; k < kInstallFileCount; k++) {
            size_t next = payload.find(marker, at);
            FILE* in = fopen("bench-stream.tmp", "wb");
            fwrite(payload.data() + at, 1, next - at, in);
            fclose(in);
            in = fopen("bench-stream.tmp", "rb");
            FILE* out = fopen("bench-out.tmp", "wb");
            LARGE_INTEGER s0, s1;
            QueryPerformanceCounter(&s0);
            DecodeSegment(in, out);
            QueryPerformanceCounter(&s1);
            decoded += ftell(out);
            fclose(out);
            fclose(in);
            total += Seconds(s0, s1);
            at = next + 4;
        }
        if (total < bestDecode)
            bestDecode = total;
    }
    DeleteFileA("bench-stream.tmp");
    DeleteFileA("bench-out.tmp");
    DeleteFileA(imagePath.c_str());

    PROCESS_MEMORY_COUNTERS memory = {};
    memory.cb = sizeof memory;
    GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);

    printf("image: %zu bytes, payload %zu bytes, %llu bytes installed\n", image.size(), payload.size(),
           (unsigned long long)decoded);
    printf("integrity check (scan + open):  %8.1f ms\n", bestCheck * 1000);
    printf("extraction steps: %d steps,     %8.1f ms in the steps (best of %d)\n", steps,
           bestSteps * 1000, runs);
    printf("decoding the ten streams alone: %8.1f ms\n", bestDecode * 1000);
    printf("steps / decode alone:           %8.2f\n", bestSteps / bestDecode);
    printf("wizard pauses (steps x 25 ms):  %8.1f ms, not included above\n", steps * 25.0);
    printf("peak working set:               %8.1f MB\n", memory.PeakWorkingSetSize / 1048576.0);
    return 0;
}
