// One codec run through files, one per process, for instruction counts
// under callgrind (scripts/bench.sh): the installer's decoder and the 1988
// program's decoder and encoder, all built -O2.
//
//   lzhuf_file decode IN OUT        DecodeSegment, as the installer calls it
//   lzhuf_file decode1988 IN OUT    the 1988 decoder (getc/putc)
//   lzhuf_file encode1988 IN OUT [BYTES]
//                                   the 1988 encoder on the first BYTES of IN
//
// Exit status 0 on success, 1 when the codec failed, 2 on a usage or file
// error.
#include "payload/lzhuf_decoder.h"
#include "tests/reference/lzhuf1988.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

int Usage()
{
    fputs("usage: lzhuf_file decode|decode1988 IN OUT | encode1988 IN OUT [BYTES]\n", stderr);
    return 2;
}

int Decode(const char* mode, const char* inPath, const char* outPath)
{
    FILE* in = fopen(inPath, "rb");
    FILE* out = fopen(outPath, "wb");
    if (!in || !out) {
        fprintf(stderr, "lzhuf_file: cannot open %s\n", in ? outPath : inPath);
        return 2;
    }
    int ok = strcmp(mode, "decode") == 0 ? DecodeSegment(in, out) : DecodeLzhuf1988(in, out);
    if (fclose(out) != 0)
        ok = 0;
    fclose(in);
    return ok == 1 ? 0 : 1;
}

int Encode1988(const char* inPath, const char* outPath, size_t limit)
{
    FILE* in = fopen(inPath, "rb");
    if (!in) {
        fprintf(stderr, "lzhuf_file: cannot open %s\n", inPath);
        return 2;
    }
    std::vector<uint8_t> data;
    int c;
    while (data.size() < limit && (c = getc(in)) != EOF)
        data.push_back((uint8_t)c);
    fclose(in);
    std::vector<uint8_t> stream = EncodeLzhuf1988(data.data(), data.size());
    FILE* out = fopen(outPath, "wb");
    if (!out || fwrite(stream.data(), 1, stream.size(), out) != stream.size() || fclose(out) != 0) {
        fprintf(stderr, "lzhuf_file: cannot write %s\n", outPath);
        return 2;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 4)
        return Usage();
    if (strcmp(argv[1], "decode") == 0 || strcmp(argv[1], "decode1988") == 0)
        return argc == 4 ? Decode(argv[1], argv[2], argv[3]) : Usage();
    if (strcmp(argv[1], "encode1988") == 0 && argc <= 5)
        return Encode1988(argv[2], argv[3], argc == 5 ? strtoul(argv[4], nullptr, 10) : (size_t)-1);
    return Usage();
}
