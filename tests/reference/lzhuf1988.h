// Test reference: a faithful re-implementation of the published 1988 LZHUF
// greedy encoder (binary-tree match finder, adaptive Huffman symbols).
#ifndef VELK_TESTS_REFERENCE_LZHUF1988_H
#define VELK_TESTS_REFERENCE_LZHUF1988_H

#include <cstddef>
#include <cstdint>
#include <vector>

// The 4-byte little-endian length header followed by the code bytes,
// exactly as the 1988 program writes them (empty input: the header only).
// `symbolCount`, when given, receives the number of symbols coded (literals
// plus matches), which tells where the decoder's tree rebuilds fall.
std::vector<uint8_t> EncodeLzhuf1988(const uint8_t* data, size_t size, size_t* symbolCount = nullptr);

#endif
