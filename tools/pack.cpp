#include "tools/pack.h"

#include <cstdio>
#include <cstring>

#include "payload/crc32.h"
#include "payload/crc_place.h"
#include "payload/lzhuf_decoder.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tools/file_io.h"
#include "tools/lzhuf_encoder.h"

namespace {

// Variants tried per file before the builder gives up steering the CRC.
const unsigned kMaxCrcVariants = 64;

// The packer's line for a file that has no clean encoding.
std::string CleanSegmentError(const PackedFile& file, int problem)
{
    std::string text = file.name + ": " + CleanSegmentProblemText(problem);
    if (problem == CleanSegmentHeaderHoldsMarker || problem == CleanSegmentHeaderStartsMarker) {
        char header[64];
        const uint32_t size = static_cast<uint32_t>(file.input.size());
        snprintf(header, sizeof header, " (%u bytes give the header %02X %02X %02X %02X)", size,
                 size & 0xFF, size >> 8 & 0xFF, size >> 16 & 0xFF, size >> 24);
        text += header;
    }
    return text;
}

int EncodeFile(PackedFile* file, const char* marker, unsigned variant, int* problem)
{
    return EncodeCleanSegment(file->input.data(), static_cast<uint32_t>(file->input.size()), marker,
                              variant, &file->stream, problem);
}

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

// Reads the whole of `stream` into `data`, in one read of its known size;
// 0 on an error.
int ReadBack(FILE* stream, std::vector<uint8_t>* data)
{
    if (fflush(stream) != 0 || fseek(stream, 0, SEEK_END) != 0)
        return 0;
    long size = ftell(stream);
    if (size < 0)
        return 0;
    rewind(stream);
    data->resize(static_cast<size_t>(size));
    return size == 0 || fread(data->data(), 1, data->size(), stream) == data->size();
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

int CrcAllowed(const CrcRules& rules, uint32_t crc)
{
    if (crc == 0 || (rules.forbiddenCrc != 0 && crc == rules.forbiddenCrc))
        return 0;
    if (rules.avoidMarkerHead) {
        const uint8_t head = static_cast<uint8_t>(kMarkerHead[0]);
        for (int b = 0; b < 4; b++)
            if ((crc >> (8 * b) & 0xFF) == head)
                return 0;
    }
    if (rules.refuse && rules.refuse(crc, rules.context))
        return 0;
    return 1;
}

int BuildPayload(PackedPayload* payload, std::string* error, const CrcRules& rules)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    int problem = CleanSegmentOk;
    for (PackedFile& file : payload->files) {
        file.variant = 0;
        if (!EncodeFile(&file, marker, 0, &problem)) {
            *error = CleanSegmentError(file, problem);
            return ToolMalformed;
        }
    }
    JoinContainer(payload, marker);
    if (CrcAllowed(rules, payload->crc))
        return ToolOk;

    // One file at a time takes its next variant, the others keeping their
    // default encoding. The table ends with the small settings files, which
    // cost least to encode again, so the search goes from the last file to
    // the first; a file without further variants drops out.
    bool exhausted[kInstallFileCount] = {};
    unsigned tried = 0;
    for (unsigned variant = 1; variant <= kMaxCrcVariants; variant++) {
        bool anyLeft = false;
        for (int k = kInstallFileCount - 1; k >= 0; k--) {
            if (exhausted[k])
                continue;
            PackedFile& file = payload->files[k];
            std::vector<uint8_t> kept = file.stream;
            if (!EncodeFile(&file, marker, variant, &problem)) {
                if (problem != CleanSegmentNoSuchVariant) {
                    *error = CleanSegmentError(file, problem);
                    return ToolMalformed;
                }
                exhausted[k] = true;
                file.stream.swap(kept);
                continue;
            }
            anyLeft = true;
            tried++;
            file.variant = variant;
            JoinContainer(payload, marker);
            if (CrcAllowed(rules, payload->crc))
                return ToolOk;
            file.stream.swap(kept);
            file.variant = 0;
        }
        if (!anyLeft)
            break;
    }
    JoinContainer(payload, marker);
    *error = "no encoding of the ten files gives the payload a checksum the rules allow (the "
             "default and " + std::to_string(tried) + " other encodings tried)";
    return ToolMalformed;
}

namespace {

// A usable-checksum predicate as a refusing rule.
int RefuseUnusable(uint32_t crc, void* context)
{
    int (*crcUsable)(uint32_t) = *static_cast<int (**)(uint32_t)>(context);
    return !crcUsable(crc);
}

} // namespace

int BuildPayload(PackedPayload* payload, std::string* error, uint32_t forbiddenCrc,
                 int (*crcUsable)(uint32_t crc))
{
    CrcRules rules = {forbiddenCrc, 0, crcUsable ? RefuseUnusable : nullptr, &crcUsable};
    return BuildPayload(payload, error, rules);
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
    // One checked decoding: it stops where the symbols need bits past the
    // stream's last byte, which a complete stream never does, so time and
    // output stay bounded by the stream whatever length its header declares.
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    int ok = in && out && fwrite(stream.data(), 1, stream.size(), in) == stream.size() &&
             fflush(in) == 0;
    DecodeAccount account = {0, 0, 0};
    int result = DecodeFailed;
    if (ok) {
        rewind(in);
        result = DecodeSegmentChecked(in, out, &account);
        ok = result != DecodeFailed && ReadBack(out, output);
    }
    if (in)
        fclose(in);
    if (out)
        fclose(out);
    if (!ok) {
        *error = "stream could not be decoded through temporary files";
        return ToolIoError;
    }
    if (result == DecodeTruncated || account.usedBits > 8 * (uint64_t)(stream.size() - 4)) {
        *error = "stream is truncated: its code ends before the declared length of " +
                 std::to_string(length) + " bytes";
        return ToolMalformed;
    }
    if (account.written != length) {
        *error = "stream's last match runs " + std::to_string(account.written - length) +
                 " bytes past the declared length of " + std::to_string(length) + " bytes";
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
               "// the installer's integrity check must compute from its own image. The\n"
               "// installer reads the value from its CRC place, the image section\n"
               "// " VELK_CRC_SECTION_NAME ", where velkpack build writes it; this header gives the\n"
               "// same value to other tools.\n"
               "#ifndef VELK_EXPECTED_PAYLOAD_CRC_H\n"
               "#define VELK_EXPECTED_PAYLOAD_CRC_H\n\n"
               "#define VELK_EXPECTED_PAYLOAD_CRC ") +
           value + "\n\n#endif\n";
}
