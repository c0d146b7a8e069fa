// The image builder's payload: ten files compressed and joined into the
// marked container that the installer scans.
//
// Container: for each file index k = 0..9 the marker and the LZHUF stream of
// file k, then two markers (the final pair), then CR LF. The builder keeps
// the container's constraints: no stream contains the marker or ends with a
// proper prefix of it, no stream is empty, and the CRC-32 of the joined
// streams is never 0 (the installer reads 0 as a failed scan).
#ifndef VELK_TOOLS_PACK_H
#define VELK_TOOLS_PACK_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "payload/install_file_table.h"

struct PackedFile {
    std::string name;
    std::vector<uint8_t> input;
    std::vector<uint8_t> stream; // length header and code bits
    unsigned variant;            // encoder variant that gave a clean result
};

struct PackedPayload {
    PackedFile files[kInstallFileCount];
    std::vector<uint8_t> bytes; // the whole container
    uint32_t crc;               // CRC-32 of the ten streams joined
};

// Reads the ten files of the install file table from `dir` by their exact
// names. ToolOk, or an error naming the file and the problem.
int ReadPayloadInputs(const std::string& dir, PackedPayload* payload, std::string* error);

// What the payload's CRC-32 must not be. 0 is always refused (the installer
// cannot tell it from a failed scan); the rules refuse more.
struct CrcRules {
    uint32_t forbiddenCrc;                      // one more value to refuse; 0: none
    int avoidMarkerHead;                        // refuse a CRC any of whose four little-endian
                                                // bytes is the marker's first character, so that
                                                // the CRC stored in the image never starts a marker
    int (*refuse)(uint32_t crc, void* context); // any further rule (1: refuse); null: none
    void* context;
};

// 1 when the rules allow `crc` as the payload's checksum.
int CrcAllowed(const CrcRules& rules, uint32_t crc);

// Compresses the inputs and joins them, steering the CRC by the rules: when
// the default encodings give a refused CRC, one file at a time is encoded
// in another of its clean variants (the last file first, every variant of
// every file before giving up) until the CRC is allowed. ToolOk, or
// ToolMalformed with a message naming the file or saying that no encoding
// gives an allowed CRC.
int BuildPayload(PackedPayload* payload, std::string* error, const CrcRules& rules);

// The same with one value to refuse besides 0 (tests use it to exercise
// the steering) and, when given, `crcUsable`, which must accept the
// checksum too.
int BuildPayload(PackedPayload* payload, std::string* error, uint32_t forbiddenCrc = 0,
                 int (*crcUsable)(uint32_t crc) = NULL);

// Proves a container: scanning it as the installer does yields exactly ten
// segments equal to the streams, the final pair, the CRC; and every stream
// decodes back to its input. ToolOk, or ToolMalformed with the reason.
int VerifyPayload(const PackedPayload& payload, std::string* error);

// Decodes one stream (length header first) into `output`, once. A stream
// whose code bits run out before its declared length is refused as
// truncated, and so is one whose last match runs past that length (which
// the installer would write whole); either way the decoding stops at once,
// so a huge declared length costs no more than the stream's own bits.
int DecodeStream(const std::vector<uint8_t>& stream, std::vector<uint8_t>* output,
                 std::string* error);

// The C++ header holding the payload's CRC for the installer build.
std::string CrcHeaderText(uint32_t crc);

#endif
