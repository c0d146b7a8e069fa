// The installer's LZHUF decoder on arbitrary bytes. Whatever the stream, the
// decoder must end without a fault, write only into its output stream, and
// succeed only by writing its declared length, plus at most the rest of one
// last match (59 bytes). A header that declares more than the sink takes
// ends at the sink's refusal, as at a full disk. The sink's bound grows with
// the input (16 bytes of output per byte), so that the many inputs whose
// header declares gigabytes cost little, while inputs of 2 KiB and more
// still reach the tree's rebuild at 32768 symbols.
//
// The checked decoding that velkpack uses on streams it is given is run
// too: its output is bounded by the input whatever the header declares (a
// symbol takes at least one bit and writes at most 60 bytes, and running
// out of bits is seen within 4156 bytes more), and a stream it calls
// complete used only bits that it has. (Its bytes are not compared with the
// first decoding's: ring positions 4036 to 4095 are not reset between
// segments, so a hostile stream that reads them sees what the decoding
// before it left there.)
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
const uint64_t kLongestMatch = 60;
const uint64_t kTruncationSeenWithin = 4156;

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

    uint64_t codeBits = size > 4 ? 8 * static_cast<uint64_t>(size - 4) : 0;
    size_t checkedBound = static_cast<size_t>(kLongestMatch * codeBits + kTruncationSeenWithin + kLongestMatch);
    static BoundedSink checked;
    in = OpenMemoryInput(data, size);
    out = OpenSink(&checked, checkedBound + 1);
    if (!in || !out)
        abort();
    DecodeAccount account;
    int result = DecodeSegmentChecked(in, out, &account);
    fclose(in);
    fclose(out);
    if (checked.offered > checkedBound)
        abort(); // more output than the input can pay for
    if (result == DecodeComplete) {
        if (account.written < account.length || account.written > account.length + kLongestOverrun ||
            account.usedBits > codeBits || checked.bytes.size() != account.written)
            abort();
    }
    return 0;
}
