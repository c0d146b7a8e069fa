// The installer's LZHUF decoder on arbitrary bytes. Whatever the stream, the
// decoder must end without a fault, write only into its output stream, and
// succeed only by writing its declared length, plus at most the rest of one
// last match (59 bytes). A header that declares more than the sink takes
// ends at the sink's refusal, as at a full disk. The sink's bound grows with
// the input (16 bytes of output per byte), so that the many inputs whose
// header declares gigabytes cost little, while inputs of 2 KiB and more
// still reach the tree's rebuild at 32768 symbols.
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "payload/lzhuf_decoder.h"
#include "tests/fuzz/fuzz_streams.h"

namespace {

const size_t kSinkBase = 4096;
const size_t kSinkPerInputByte = 16;
const size_t kSinkLimit = 1 << 16;
const uint32_t kLongestOverrun = 59;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* in = OpenMemoryInput(data, size);
    static BoundedSink sink;
    size_t bound = kSinkBase + kSinkPerInputByte * size;
    FILE* out = OpenSink(&sink, bound < kSinkLimit ? bound : kSinkLimit);
    if (!in || !out)
        abort();
    int ok = DecodeSegment(in, out);
    fflush(out);
    if (ok) {
        if (size < 4)
            abort(); // a stream without a whole header never succeeds
        uint32_t length = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
        if (length == 0 || sink.offered < length || sink.offered > length + kLongestOverrun)
            abort();
    }
    fclose(in);
    fclose(out);
    return 0;
}
