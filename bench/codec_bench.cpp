// Codec figures on real data, each next to its 1988 baseline from the same
// run: the builder's encoder against the 1988 greedy encoder (output size
// and throughput), the installer's decoder against the 1988 decoder
// (throughput, both through buffered files as in the installer, on the
// builder's stream of the input), and the CRC-32 throughput of the payload
// check. Prints a table; never fails.
//
// Throughput is input bytes per second of process CPU time, the best of
// repeated runs, so that other work on a shared machine skews it as little
// as possible; each figure and its baseline are timed in alternation, so
// that their ratio holds while the machine's speed drifts.
//
//   codec_bench [file...]   (default: the five inputs listed below that exist)
#include "payload/crc32.h"
#include "payload/lzhuf_decoder.h"
#include "tests/reference/lzhuf1988.h"
#include "tools/lzhuf_encoder.h"

#include <cstdio>
#include <ctime>
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
    uint8_t buffer[65536];
    size_t got;
    while (out->size() < limit && (got = fread(buffer, 1, sizeof buffer, f)) > 0)
        out->insert(out->end(), buffer, buffer + got);
    fclose(f);
    if (out->size() > limit)
        out->resize(limit);
    return !out->empty();
}

double CpuSeconds()
{
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec + t.tv_nsec * 1e-9;
}

// Best time of repeated runs, repeating for at least `minimum` seconds.
template <typename Fn>
double BestSeconds(Fn fn, double minimum = 0.5)
{
    double best = 1e30, start = CpuSeconds();
    int runs = 0;
    do {
        double t0 = CpuSeconds();
        fn();
        double t = CpuSeconds() - t0;
        if (t < best)
            best = t;
        runs++;
    } while (CpuSeconds() - start < minimum || runs < 3);
    return best;
}

double MegabytesPerSecond(size_t bytes, double seconds)
{
    return seconds > 0 ? bytes / seconds / 1e6 : 0.0;
}

// Best times of two pieces of work timed in alternation, round after
// round, for at least `minimum` seconds in all: a machine whose speed
// drifts (other work, a shared host) slows both alike, so their ratio
// holds where two separate series would not.
template <typename FnA, typename FnB>
void BestSecondsAlternating(FnA a, FnB b, double* bestA, double* bestB, double minimum = 1.5)
{
    *bestA = *bestB = 1e30;
    double start = CpuSeconds();
    int rounds = 0;
    do {
        double t0 = CpuSeconds();
        a();
        double t1 = CpuSeconds();
        b();
        double t2 = CpuSeconds();
        if (t1 - t0 < *bestA)
            *bestA = t1 - t0;
        if (t2 - t1 < *bestB)
            *bestB = t2 - t1;
        rounds++;
    } while (CpuSeconds() - start < minimum || rounds < 5);
}

// One decoding of `stream` from a buffered file into another, as the
// installer does, with the given decoder.
struct DecodeFiles {
    FILE* in;
    FILE* out;
};

void DecodeThrough(DecodeFiles* files, int (*decode)(FILE*, FILE*), int* ok)
{
    rewind(files->in);
    rewind(files->out);
    *ok &= decode(files->in, files->out) == 1;
    fflush(files->out);
}

int DecodeInstaller(FILE* in, FILE* out)
{
    return DecodeSegment(in, out);
}

void Measure(const Input& in)
{
    const uint32_t size = (uint32_t)in.data.size();
    Bytes ours, clean, reference = EncodeLzhuf1988(in.data.data(), in.data.size());
    if (!EncodeLzhuf(in.data.data(), size, &ours)) {
        printf("%-26s encoder failed\n", in.name.c_str());
        return;
    }
    double encode, encode1988;
    BestSecondsAlternating([&] { EncodeLzhuf(in.data.data(), size, &ours); },
                           [&] { EncodeLzhuf1988(in.data.data(), in.data.size()); }, &encode, &encode1988);
    double encodeClean = BestSeconds([&] { EncodeCleanSegment(in.data.data(), size, "KWAZ", 0, &clean); });

    int ok = 1;
    double decode = 0, decode1988 = 0;
    DecodeFiles files = {tmpfile(), tmpfile()};
    if (files.in && files.out) {
        fwrite(ours.data(), 1, ours.size(), files.in);
        fflush(files.in);
        BestSecondsAlternating([&] { DecodeThrough(&files, DecodeInstaller, &ok); },
                               [&] { DecodeThrough(&files, DecodeLzhuf1988, &ok); }, &decode, &decode1988);
    } else {
        ok = 0;
    }
    if (files.in)
        fclose(files.in);
    if (files.out)
        fclose(files.out);

    uint32_t crc = 0;
    double crcTime = BestSeconds([&] { crc = Crc32(ours.data(), ours.size()); }, 0.2);
    (void)crc;

    const double enc = MegabytesPerSecond(size, encode), enc88 = MegabytesPerSecond(size, encode1988);
    const double dec = MegabytesPerSecond(size, decode), dec88 = MegabytesPerSecond(size, decode1988);
    printf("%-26s %9u %9zu %9zu %6.3f | %6.2f %6.2f %5.2f %6.2f | %6.1f %6.1f %5.2f%s | %6.0f\n",
           in.name.c_str(), size, ours.size(), reference.size(), (double)ours.size() / reference.size(),
           enc, enc88, enc / enc88, MegabytesPerSecond(size, encodeClean), dec, dec88, dec / dec88,
           ok ? "" : " (decode FAILED)", MegabytesPerSecond(ours.size(), crcTime));
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
    printf("%-26s %9s %9s %9s %6s | %-27s | %-20s | %6s\n", "", "", "", "", "", "encoder MB/s (CPU time)",
           "decoder MB/s", "crc");
    printf("%-26s %9s %9s %9s %6s | %6s %6s %5s %6s | %6s %6s %5s | %6s\n", "input", "bytes", "ours", "1988",
           "ours/88", "ours", "1988", "x", "clean", "ours", "1988", "x", "MB/s");
    for (const Input& in : inputs)
        Measure(in);
    if (inputs.empty())
        printf("no input files found\n");
    return 0;
}
