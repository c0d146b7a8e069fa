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
// 0 otherwise. Opens and closes nothing. Input that ends before the
// declared length reads as zero bytes. The decoder reads `in` in blocks of
// its own and gives back, on return, what it read ahead but did not use.
int DecodeSegment(FILE* in, FILE* out);

// Results of DecodeSegmentChecked.
enum DecodeResult {
    DecodeFailed = 0,    // no header, a length of 0, or a failed write
    DecodeComplete = 1,  // the declared number of bytes has been written
    DecodeTruncated = 2, // a symbol needed code bits past the end of the input
};

// The decoder's account of one checked decoding.
struct DecodeAccount {
    uint32_t length;   // declared length (0 when there was no header)
    uint32_t written;  // bytes written; more than `length` when the last match runs past it
    uint64_t usedBits; // code bits (after the header) that the written symbols used
};

// For the tools, which judge streams rather than install them: decodes like
// DecodeSegment, but a complete stream never needs a bit past its last
// byte, so once the symbols have used one the decoding ends as
// DecodeTruncated (seen within a ring's worth of output, 4156 bytes, which
// is written too and is of no use). Time and output are thus bounded by the
// input, whatever length the header declares. `account` may be null.
// Progress hooks are used as by DecodeSegment.
int DecodeSegmentChecked(FILE* in, FILE* out, DecodeAccount* account);

#endif
