// CRC-32 of ISO-HDLC (the checksum of zlib and PKZIP): reflected polynomial
// 0xEDB88320, register starts at 0xFFFFFFFF, final complement.
#ifndef VELK_PAYLOAD_CRC32_H
#define VELK_PAYLOAD_CRC32_H

#include <cstddef>
#include <cstdint>

// The standard 256-entry table for the reflected polynomial; constant data.
extern const uint32_t kCrc32Table[256];

const uint32_t kCrc32Initial = 0xFFFFFFFFUL;

// One table step: the register after folding in one byte.
inline uint32_t Crc32Step(uint32_t reg, uint8_t byte)
{
    return kCrc32Table[(reg ^ byte) & 0xFF] ^ (reg >> 8);
}

// Folds `size` bytes into a running register (not complemented).
uint32_t Crc32Update(uint32_t reg, const uint8_t* data, size_t size);

// The finished checksum of one whole buffer.
uint32_t Crc32(const uint8_t* data, size_t size);

#endif
