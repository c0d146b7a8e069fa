// LZHUF encoder of the image builder (tools only, never part of the
// installer). Produces streams that the installer's DecodeSegment reads.
#ifndef VELK_TOOLS_LZHUF_ENCODER_H
#define VELK_TOOLS_LZHUF_ENCODER_H

#include <cstdint>
#include <vector>

// One LZHUF stream: 4-byte little-endian length header, then the code bits.
// 1 ok, 0 failure (size 0 is a failure: the decoder rejects length 0).
// `out` is replaced, not appended to.
int EncodeLzhuf(const uint8_t* data, uint32_t size, std::vector<uint8_t>* out);

// Why EncodeCleanSegment gave no stream.
enum CleanSegmentProblem {
    CleanSegmentOk = 0,
    CleanSegmentBadArguments = 1,       // no data or output, or an unusable marker
    CleanSegmentHeaderHoldsMarker = 2,  // the length header holds the marker: no clean encoding exists
    CleanSegmentHeaderStartsMarker = 3, // a marker from the header into the code cannot be avoided
    CleanSegmentNoRepair = 4,           // no clean encoding found within the repair attempts
    CleanSegmentNoSuchVariant = 5,      // fewer clean variants than the one asked for
};

// Like EncodeLzhuf, but the whole stream, length header included, never
// contains `marker` (NUL-terminated, 1..4 chars, no repeated char) and
// never ends with a proper prefix of it. `variant` 0 gives the default
// encoding; each variant > 0 gives a different, equally valid and clean
// stream (the packer uses them to steer the payload's CRC): first those
// that differ only in the spare bits of the last byte, then re-encodings
// with one decision changed. Deterministic: same inputs, same bytes.
// 1 ok; 0 on failure, and `problem` (may be null) says why.
int EncodeCleanSegment(const uint8_t* data, uint32_t size, const char* marker, unsigned variant,
                       std::vector<uint8_t>* out, int* problem = nullptr);

// One line for a CleanSegmentProblem, for the packer's messages.
const char* CleanSegmentProblemText(int problem);

#endif
