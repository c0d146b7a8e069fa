// The image builder's encoder on arbitrary content: every stream decodes
// back bit for bit through the installer's decoder and uses no bit past
// its last byte (decoding with one-bits after the end gives the same
// file), and a clean segment holds no marker, not even in its length
// header, and ends with no proper prefix of it.
//
// Input: one control byte, then the content (at most kMaxContent bytes).
//   bits 0-1  marker: "KWAZ", or the shorter "KWA", "KW", "K", under which
//             clean segments are hard to get and the header may hold one
//   bits 2-3  variant of the clean segment (0 to 3)
//   bit 4     follow the content with kExpansion pseudo-random bytes drawn
//             from it (an alphabet of 16 to 256 values, seeded by the
//             content), so that short inputs reach the adaptive tree's
//             rebuild, which comes after 32768 symbols: repeating a short
//             input would not, its copies are a few long matches
// The encoder costs far more per byte than the other targets, so content
// is bounded to 4 KiB (and 40 KiB expanded); a run makes tens of
// executions a second under the sanitizers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "payload/lzhuf_decoder.h"
#include "tests/fuzz/fuzz_streams.h"
#include "tools/lzhuf_encoder.h"

namespace {

const size_t kMaxContent = 4096;
const size_t kExpansion = 40 * 1024;

// Decodes `stream` followed by `pad` bytes of `fill`; the decoded bytes
// must be exactly `content`.
void ExpectDecodesTo(const std::vector<uint8_t>& stream, uint8_t fill, size_t pad,
                     const std::vector<uint8_t>& content)
{
    std::vector<uint8_t> padded(stream);
    padded.insert(padded.end(), pad, fill);
    FILE* in = OpenMemoryInput(padded.data(), padded.size());
    static BoundedSink sink;
    FILE* out = OpenSink(&sink, content.size() + 64);
    if (!in || !out)
        abort();
    int ok = DecodeSegment(in, out);
    fclose(in);
    fclose(out);
    if (!ok || sink.bytes != content)
        abort();
}

void ExpectRoundTrip(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& content)
{
    ExpectDecodesTo(stream, 0x00, 0, content);
    ExpectDecodesTo(stream, 0xFF, 8, content);
}

// The length header is fixed by the content's size: when it holds the
// marker, no clean segment exists.
bool HeaderHoldsMarker(uint32_t size, const char* marker)
{
    const uint8_t header[4] = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                               static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    return memmem(header, sizeof header, marker, strlen(marker)) != NULL;
}

void ExpectClean(const std::vector<uint8_t>& stream, const char* marker)
{
    size_t length = strlen(marker);
    if (memmem(stream.data(), stream.size(), marker, length))
        abort();
    for (size_t prefix = 1; prefix < length && prefix <= stream.size(); prefix++)
        if (memcmp(stream.data() + stream.size() - prefix, marker, prefix) == 0)
            abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2 || size - 1 > kMaxContent)
        return 0;
    static const char* const markers[] = {"KWAZ", "KWA", "KW", "K"};
    const char* marker = markers[data[0] & 3];
    unsigned variant = (data[0] >> 2) & 3;
    static std::vector<uint8_t> content;
    content.assign(data + 1, data + size);
    if (data[0] & 0x10) {
        uint32_t x = 2166136261u;
        for (size_t i = 1; i < size; i++)
            x = (x ^ data[i]) * 16777619u;
        unsigned alphabet = 16 + (data[1] & 0xF0);
        for (size_t i = 0; i < kExpansion; i++) {
            x = x * 1103515245u + 12345u;
            content.push_back(static_cast<uint8_t>(((x >> 16) & 0xFFFF) % alphabet));
        }
    }

    static std::vector<uint8_t> stream, plain;
    if (!EncodeLzhuf(content.data(), static_cast<uint32_t>(content.size()), &plain))
        abort();
    ExpectRoundTrip(plain, content);

    uint32_t contentSize = static_cast<uint32_t>(content.size());
    int problem = CleanSegmentOk;
    if (EncodeCleanSegment(content.data(), contentSize, marker, variant, &stream, &problem)) {
        if (HeaderHoldsMarker(contentSize, marker))
            abort(); // a success that cannot be clean
        ExpectClean(stream, marker);
        ExpectRoundTrip(stream, content);
        if (variant > 0) {
            static std::vector<uint8_t> first;
            if (EncodeCleanSegment(content.data(), contentSize, marker, 0, &first) &&
                first == stream)
                abort(); // a variant must differ from the default encoding
        }
    } else if (strcmp(marker, "KWAZ") == 0 && variant == 0) {
        abort(); // the payload's own marker always has a clean default encoding
    } else if ((problem == CleanSegmentHeaderHoldsMarker) != HeaderHoldsMarker(contentSize, marker)) {
        abort(); // the reason given must be the true one
    }
    return 0;
}
