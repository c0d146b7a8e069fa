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

// Compresses the inputs and joins them. `forbiddenCrc` is a checksum to
// steer away from besides 0 (tests use it to exercise the steering);
// `crcUsable`, when given, must accept the checksum too (the installer
// builder steers away from checksums whose bytes could form a marker in
// the image).
int BuildPayload(PackedPayload* payload, std::string* error, uint32_t forbiddenCrc = 0,
                 int (*crcUsable)(uint32_t crc) = NULL);

// Proves a container: scanning it as the installer does yields exactly ten
// segments equal to the streams, the final pair, the CRC; and every stream
// decodes back to its input. ToolOk, or ToolMalformed with the reason.
int VerifyPayload(const PackedPayload& payload, std::string* error);

// Decodes one stream (length header first) into `output`. A stream whose
// code bits run out before its declared length is refused as truncated.
int DecodeStream(const std::vector<uint8_t>& stream, std::vector<uint8_t>* output,
                 std::string* error);

// The C++ header holding the payload's CRC for the installer build.
std::string CrcHeaderText(uint32_t crc);

#endif
