// LZHUF stream decoder: turns one compressed segment (4-byte little-endian
// decoded length, then adaptive-Huffman coded LZSS symbols) into the file.
#ifndef VELK_PAYLOAD_LZHUF_DECODER_H
#define VELK_PAYLOAD_LZHUF_DECODER_H

#include <cstdint>
#include <cstdio>

// What the decoder needs from its surroundings to drive a per-file progress bar.
struct DecodeProgress {
    int (*barWidth)();                                 // bar width in pixels, read once per segment
    void (*report)(uint32_t written, uint32_t length); // progress report
    void (*wipe)();                                    // wipe the bar after the last byte
};

// Installs the progress hooks used by every later DecodeSegment call.
// nullptr (the default): no progress at all, as the tools want it.
// The struct must outlive the decoding; it is not copied.
void SetDecodeProgress(const DecodeProgress* progress);

// Decodes one segment from `in` (positioned at its length header) into
// `out`. Returns 1 when the declared number of bytes has been written,
// 0 otherwise. Opens and closes nothing.
int DecodeSegment(FILE* in, FILE* out);

#endif
