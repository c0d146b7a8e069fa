// Test reference: a faithful re-implementation of the published 1988 LZHUF
// program: its greedy encoder (binary-tree match finder, adaptive Huffman
// symbols) and its decoder.
#ifndef VELK_TESTS_REFERENCE_LZHUF1988_H
#define VELK_TESTS_REFERENCE_LZHUF1988_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

// The 4-byte little-endian length header followed by the code bytes,
// exactly as the 1988 program writes them (empty input: the header only).
// `symbolCount`, when given, receives the number of symbols coded (literals
// plus matches), which tells where the decoder's tree rebuilds fall.
std::vector<uint8_t> EncodeLzhuf1988(const uint8_t* data, size_t size, size_t* symbolCount = nullptr);

// The 1988 decoder: reads the length header and the code bytes from `in`
// with getc, writes the decoded bytes to `out` with putc, as the program
// does. Missing input reads as zero bits; a last match is copied whole.
// Returns 1 after the declared length has been written, 0 when the header
// cannot be read or declares 0 bytes (nothing written) or a write failed.
int DecodeLzhuf1988(FILE* in, FILE* out);

#endif
