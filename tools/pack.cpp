#include "tools/pack.h"

#include <cstdio>
#include <cstring>

#include "payload/crc32.h"
#include "payload/lzhuf_decoder.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tools/file_io.h"
#include "tools/lzhuf_encoder.h"

namespace {

// Variants tried per file before the builder gives up steering the CRC.
const unsigned kMaxCrcVariants = 64;

void AppendMarker(std::vector<uint8_t>* bytes, const char* marker)
{
    bytes->insert(bytes->end(), marker, marker + kMarkerLength);
}

void JoinContainer(PackedPayload* payload, const char* marker)
{
    std::vector<uint8_t>& bytes = payload->bytes;
    bytes.clear();
    std::vector<uint8_t> joined;
    for (const PackedFile& file : payload->files) {
        AppendMarker(&bytes, marker);
        bytes.insert(bytes.end(), file.stream.begin(), file.stream.end());
        joined.insert(joined.end(), file.stream.begin(), file.stream.end());
    }
    AppendMarker(&bytes, marker);
    AppendMarker(&bytes, marker);
    bytes.push_back('\r');
    bytes.push_back('\n');
    payload->crc = Crc32(joined.data(), joined.size());
}

// Runs DecodeSegment over `stream` with `pad` bytes of value `fill` after it.
int DecodeThroughFiles(const std::vector<uint8_t>& stream, uint8_t fill, size_t pad,
                       std::vector<uint8_t>* output)
{
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    int ok = in && out;
    if (ok) {
        ok = fwrite(stream.data(), 1, stream.size(), in) == stream.size();
        for (size_t i = 0; ok && i < pad; i++)
            ok = putc(fill, in) != EOF;
        ok = ok && fflush(in) == 0;
        rewind(in);
    }
    if (ok)
        ok = DecodeSegment(in, out);
    if (ok) {
        ok = fflush(out) == 0;
        rewind(out);
        output->clear();
        uint8_t buffer[65536];
        size_t got;
        while (ok && (got = fread(buffer, 1, sizeof buffer, out)) > 0)
            output->insert(output->end(), buffer, buffer + got);
        ok = ok && !ferror(out);
    }
    if (in)
        fclose(in);
    if (out)
        fclose(out);
    return ok;
}

} // namespace

int ReadPayloadInputs(const std::string& dir, PackedPayload* payload, std::string* error)
{
    if (!CheckFolder(dir, error))
        return ToolIoError;
    int status;
    for (int k = 0; k < kInstallFileCount; k++) {
        PackedFile& file = payload->files[k];
        file.name = InstallFileTable[k];
        std::string path = dir + "/" + file.name;
        status = ReadWholeFile(path, kMaxInputSize, &file.input, error);
        if (status != ToolOk)
            return status;
        if (file.input.empty()) {
            *error = path + ": file is empty (an empty file cannot be installed: a stream of length 0 is refused by the decoder)";
            return ToolMalformed;
        }
    }
    return ToolOk;
}

int BuildPayload(PackedPayload* payload, std::string* error, uint32_t forbiddenCrc,
                 int (*crcUsable)(uint32_t crc))
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    for (PackedFile& file : payload->files) {
        file.variant = 0;
        if (!EncodeCleanSegment(file.input.data(), static_cast<uint32_t>(file.input.size()),
                                marker, 0, &file.stream)) {
            *error = file.name + ": no encoding free of the segment marker was found";
            return ToolMalformed;
        }
    }
    JoinContainer(payload, marker);

    // A checksum of 0 cannot be told from a failed scan: re-encode the last
    // file with another variant until the checksum moves away from it.
    PackedFile& last = payload->files[kInstallFileCount - 1];
    while (payload->crc == 0 || payload->crc == forbiddenCrc ||
           (crcUsable && !crcUsable(payload->crc))) {
        if (++last.variant > kMaxCrcVariants) {
            *error = last.name + ": no encoding gives the payload a usable checksum";
            return ToolMalformed;
        }
        if (!EncodeCleanSegment(last.input.data(), static_cast<uint32_t>(last.input.size()),
                                marker, last.variant, &last.stream)) {
            *error = last.name + ": no encoding free of the segment marker was found";
            return ToolMalformed;
        }
        JoinContainer(payload, marker);
    }
    return ToolOk;
}

int VerifyPayload(const PackedPayload& payload, std::string* error)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);

    FILE* stream = tmpfile();
    if (!stream) {
        *error = "cannot create a temporary file to verify the payload";
        return ToolIoError;
    }
    int ok = fwrite(payload.bytes.data(), 1, payload.bytes.size(), stream) == payload.bytes.size()
             && fflush(stream) == 0;
    rewind(stream);
    PayloadScanReport report;
    uint32_t crc = ok ? ScanPayloadStream(stream, marker, &report) : 0;
    fclose(stream);
    if (!ok) {
        *error = "cannot write a temporary file to verify the payload";
        return ToolIoError;
    }

    if (report.segmentCount != kInstallFileCount || !report.finalPairFound) {
        *error = "payload scan found " + std::to_string(report.segmentCount) + " segments" +
                 (report.finalPairFound ? "" : " and no final pair of markers");
        return ToolMalformed;
    }
    uint32_t joinedCrc = kCrc32Initial;
    for (int k = 0; k < kInstallFileCount; k++) {
        const PackedFile& file = payload.files[k];
        if (report.segmentSize[k] != file.stream.size() ||
            memcmp(&payload.bytes[report.segmentOffset[k]], file.stream.data(),
                   file.stream.size()) != 0) {
            *error = file.name + ": its segment does not scan back as written";
            return ToolMalformed;
        }
        joinedCrc = Crc32Update(joinedCrc, file.stream.data(), file.stream.size());
        std::vector<uint8_t> decoded;
        std::string decodeError;
        if (DecodeStream(file.stream, &decoded, &decodeError) != ToolOk || decoded != file.input) {
            *error = file.name + ": its stream does not decode back to the input";
            return ToolMalformed;
        }
    }
    if (crc != ~joinedCrc || crc != payload.crc || crc == 0) {
        *error = "payload checksum does not match the segments";
        return ToolMalformed;
    }
    return ToolOk;
}

int DecodeStream(const std::vector<uint8_t>& stream, std::vector<uint8_t>* output,
                 std::string* error)
{
    if (stream.size() < 4) {
        *error = stream.empty() ? "stream is empty" : "stream is shorter than its 4-byte length header";
        return ToolMalformed;
    }
    uint32_t length = stream[0] | stream[1] << 8 | stream[2] << 16 |
                      static_cast<uint32_t>(stream[3]) << 24;
    if (length == 0) {
        *error = "stream declares a length of 0";
        return ToolMalformed;
    }
    // The decoder reads missing input as zero bits and cannot see a stream
    // cut short. Decode once more with one-bits after the end: a complete
    // stream never uses the bits past its last byte, so both agree.
    std::vector<uint8_t> checked;
    if (!DecodeThroughFiles(stream, 0x00, 0, output) ||
        !DecodeThroughFiles(stream, 0xFF, 8, &checked)) {
        *error = "stream could not be decoded";
        return ToolIoError;
    }
    if (*output != checked || output->size() != length) {
        *error = "stream is truncated: its code ends before the declared length of " +
                 std::to_string(length) + " bytes";
        return ToolMalformed;
    }
    return ToolOk;
}

std::string CrcHeaderText(uint32_t crc)
{
    char value[16];
    snprintf(value, sizeof value, "0x%08XUL", crc);
    return std::string(
               "// Written by velkpack pack: the CRC-32 of the payload's segments, which\n"
               "// the installer's integrity check must compute from its own image.\n"
               "#ifndef VELK_EXPECTED_PAYLOAD_CRC_H\n"
               "#define VELK_EXPECTED_PAYLOAD_CRC_H\n\n"
               "#include <cstdint>\n\n"
               "// Included by exactly one source file of the program, which thereby\n"
               "// defines the constant for the whole program.\n"
               "extern const uint32_t ExpectedPayloadCrc;\n"
               "const uint32_t ExpectedPayloadCrc = ") +
           value + ";\n\n#endif\n";
}
