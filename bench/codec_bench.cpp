// Codec figures on real data: compression ratio of the builder's encoder
// next to the 1988 greedy encoder, encoder and decoder throughput, and the
// CRC-32 throughput of the payload check. Prints a table; never fails.
//
//   codec_bench [file...]   (default: the files listed below that exist)
#include "payload/crc32.h"
#include "payload/lzhuf_decoder.h"
#include "tests/reference/lzhuf1988.h"
#include "tools/lzhuf_encoder.h"

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

struct Input {
    std::string name;
    Bytes data;
};

bool ReadFile(const std::string& path, size_t limit, Bytes* out)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return false;
    int c;
    while (out->size() < limit && (c = getc(f)) != EOF)
        out->push_back((uint8_t)c);
    fclose(f);
    return !out->empty();
}

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Best time of repeated runs, repeating for at least `minimum` seconds.
template <typename Fn>
double BestSeconds(Fn fn, double minimum = 0.5)
{
    double best = 1e30, start = Now();
    int runs = 0;
    do {
        double t0 = Now();
        fn();
        double t = Now() - t0;
        if (t < best)
            best = t;
        runs++;
    } while (Now() - start < minimum || runs < 2);
    return best;
}

double MegabytesPerSecond(size_t bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0.0;
}

void Measure(const Input& in)
{
    Bytes ours, reference = EncodeLzhuf1988(in.data.data(), in.data.size());
    if (!EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &ours)) {
        printf("%-28s encoder failed\n", in.name.c_str());
        return;
    }
    double encode = BestSeconds([&] { EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &ours); });
    Bytes clean;
    double encodeClean = BestSeconds(
        [&] { EncodeCleanSegment(in.data.data(), (uint32_t)in.data.size(), "KWAZ", 0, &clean); });
    double encodeReference = BestSeconds([&] { EncodeLzhuf1988(in.data.data(), in.data.size()); });

    // Decoding as the installer does it: buffered file streams, byte by byte.
    FILE* stream = tmpfile();
    FILE* sink = tmpfile();
    if (!stream || !sink) {
        printf("%-28s no temporary files\n", in.name.c_str());
        return;
    }
    fwrite(ours.data(), 1, ours.size(), stream);
    int decodedOk = 1;
    double decode = BestSeconds([&] {
        rewind(stream);
        rewind(sink);
        decodedOk &= DecodeSegment(stream, sink);
    });
    fclose(stream);
    fclose(sink);

    uint32_t crc = 0;
    double crcTime = BestSeconds([&] { crc = Crc32(ours.data(), ours.size()); }, 0.2);

    printf("%-28s %10zu %10zu %10zu %7.2f%% %7.3f %7.3f | enc %6.2f clean %6.2f ref %6.2f dec %6.2f%s crc %7.1f MB/s\n",
           in.name.c_str(), in.data.size(), ours.size(), reference.size(), 100.0 * ours.size() / reference.size(),
           (double)ours.size() / in.data.size(), (double)reference.size() / in.data.size(),
           MegabytesPerSecond(in.data.size(), encode), MegabytesPerSecond(in.data.size(), encodeClean),
           MegabytesPerSecond(in.data.size(), encodeReference), MegabytesPerSecond(in.data.size(), decode),
           decodedOk ? "" : " (decode FAILED)", MegabytesPerSecond(ours.size(), crcTime));
    (void)crc;
}

} // namespace

int main(int argc, char** argv)
{
    std::vector<Input> inputs;
    if (argc > 1) {
        for (int i = 1; i < argc; i++) {
            Input in{argv[i], Bytes()};
            if (ReadFile(argv[i], 0xFFFFFFFFu, &in.data))
                inputs.push_back(in);
        }
    } else {
        Input user32{"user32.dll (first 1.6 MB)", Bytes()};
        if (ReadFile("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/user32.dll", 1600000, &user32.data))
            inputs.push_back(user32);
        // The licence texts in C-locale glob order.
        const char* const names[] = {
            "Apache-2.0", "Artistic", "BSD", "CC0-1.0", "GFDL", "GFDL-1.2", "GFDL-1.3", "GPL", "GPL-1",
            "GPL-2", "GPL-3", "LGPL", "LGPL-2", "LGPL-2.1", "LGPL-3", "MPL-1.1", "MPL-2.0",
        };
        Input licences{"common-licenses/*", Bytes()};
        for (const char* name : names)
            ReadFile(std::string("/usr/share/common-licenses/") + name, 0xFFFFFFFFu, &licences.data);
        if (!licences.data.empty())
            inputs.push_back(licences);
        const char* const binaries[] = {"/usr/bin/bash", "/usr/bin/cmake", "/usr/bin/perl"};
        for (const char* path : binaries) {
            Input in{path, Bytes()};
            if (ReadFile(path, 4000000, &in.data))
                inputs.push_back(in);
        }
    }
    printf("%-28s %10s %10s %10s %8s %7s %7s | throughput in MB/s of input (crc: of stream)\n", "input", "bytes",
           "ours", "1988", "ours/88", "ratio", "ratio88");
    for (const Input& in : inputs)
        Measure(in);
    if (inputs.empty())
        printf("no input files found\n");
    return 0;
}
