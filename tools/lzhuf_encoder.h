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

// Like EncodeLzhuf, but the stream never contains `marker` (NUL-terminated,
// 1..4 chars, no repeated char) and never ends with a proper prefix of it.
// `variant` 0 gives the default encoding; each variant > 0 gives a
// different, equally valid and clean stream (the packer uses this to steer
// the payload's CRC away from 0). Deterministic: same inputs, same bytes.
// 1 ok, 0 when no clean encoding was found within a bounded number of
// attempts (or the length header itself holds the marker).
int EncodeCleanSegment(const uint8_t* data, uint32_t size, const char* marker, unsigned variant,
                       std::vector<uint8_t>* out);

#endif
