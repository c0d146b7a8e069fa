#include "tools/build_installer.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

#include "payload/crc_place.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tools/file_io.h"

namespace {

// Larger stubs are no installer this project builds.
const uint64_t kMaxStubSize = 256ULL << 20;

const uint32_t kLicenceId = 3;
const uint32_t kPayloadId = 4;

std::string NotAnInstaller(const std::string& path, const std::string& why)
{
    return path + ": not a Velk installer image: " + why;
}

// A checksum the image can hold: none of its bytes is the marker's first
// character, so the CRC place can neither hold a marker nor begin one.
int CrcFitsImage(uint32_t crc)
{
    for (int i = 0; i < kCrcPlaceSize; i++)
        if (static_cast<uint8_t>(crc >> (8 * i)) == static_cast<uint8_t>(kMarkerHead[0]))
            return 0;
    return 1;
}

std::string ByteText(uint8_t byte)
{
    char text[8];
    snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// The file offset of a resource's data in an image.
int DataOffset(const PeImage& image, const PeResource& resource, uint32_t* offset)
{
    return PeRvaToOffset(image, resource.dataRva, static_cast<uint32_t>(resource.data.size()), offset);
}

const PeResource* OnlyRawData(const std::vector<PeResource>& resources, uint32_t id)
{
    std::vector<const PeResource*> found = FindPeResources(resources, kPeResourceRcData, id);
    return found.size() == 1 ? found[0] : NULL;
}

// 1 when both paths name one existing file.
int SameFile(const std::string& a, const std::string& b)
{
    struct stat first, second;
    if (stat(a.c_str(), &first) != 0 || stat(b.c_str(), &second) != 0)
        return 0;
#ifdef _WIN32
    return a == b; // no inode numbers
#else
    return first.st_dev == second.st_dev && first.st_ino == second.st_ino;
#endif
}

int ProofFails(std::string* error, const std::string& why)
{
    *error = "the installer fails its proof: " + why;
    return ToolMalformed;
}

} // namespace

int ReadInstallerStub(const std::string& path, InstallerBuild* build, std::string* error)
{
    build->stubPath = path;
    int status = ReadWholeFile(path, kMaxStubSize, &build->stub, error);
    if (status != ToolOk)
        return status;
    std::string why;
    if (ParsePeImage(build->stub, &build->stubImage, &why) != ToolOk) {
        *error = NotAnInstaller(path, why);
        return ToolMalformed;
    }
    int place = FindPeSection(build->stubImage, VELK_CRC_SECTION_NAME);
    if (place < 0 || build->stubImage.sections[place].virtualSize != static_cast<uint32_t>(kCrcPlaceSize) ||
        build->stubImage.sections[place].rawSize < static_cast<uint32_t>(kCrcPlaceSize)) {
        *error = NotAnInstaller(path, "no section " VELK_CRC_SECTION_NAME " of 4 bytes (the place of the payload's CRC)");
        return ToolMalformed;
    }
    if (ReadPeResources(build->stub, build->stubImage, &build->stubResources, &why) != ToolOk) {
        *error = NotAnInstaller(path, why);
        return ToolMalformed;
    }
    const struct {
        uint32_t id;
        const char* what;
    } wanted[] = {{kLicenceId, "the licence"}, {kPayloadId, "the payload"}};
    for (const auto& w : wanted) {
        size_t count = FindPeResources(build->stubResources, kPeResourceRcData, w.id).size();
        if (count != 1) {
            *error = NotAnInstaller(path, count == 0 ? "no raw data resource " + std::to_string(w.id) + " (" + w.what + ")"
                                                     : "raw data resource " + std::to_string(w.id) + " comes in " +
                                                           std::to_string(count) + " languages instead of one");
            return ToolMalformed;
        }
    }
    build->licence = OnlyRawData(build->stubResources, kLicenceId)->data;
    return ToolOk;
}

int CheckLicence(const std::vector<uint8_t>& text, std::string* problem)
{
    if (text.empty()) {
        *problem = "is empty: the licence page would show nothing";
        return 0;
    }
    if (text.size() > kMaxLicenceSize) {
        *problem = "is " + std::to_string(text.size()) + " bytes; the wizard shows at most " +
                   std::to_string(kMaxLicenceSize);
        return 0;
    }
    for (size_t i = 0; i < text.size(); i++) {
        uint8_t c = text[i];
        std::string at = " at offset " + std::to_string(i);
        if (c == 0) {
            *problem = "holds a NUL byte" + at + ": the wizard would show the text only up to it";
            return 0;
        }
        if (c == '\r' && (i + 1 == text.size() || text[i + 1] != '\n')) {
            *problem = "has a CR without LF" + at + ": lines must end with CR LF";
            return 0;
        }
        if (c == '\n' && (i == 0 || text[i - 1] != '\r')) {
            *problem = "has a line end without CR" + at +
                       ": lines must end with CR LF, the only line break of the wizard's text box";
            return 0;
        }
        if ((c < 0x20 && c != '\t' && c != '\r' && c != '\n') || c == 0x7F) {
            *problem = "holds the control character " + ByteText(c) + at + ": not plain text";
            return 0;
        }
    }
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    std::string body(text.begin(), text.end());
    size_t found = body.find(marker);
    if (found != std::string::npos) {
        *problem = "holds the segment marker at offset " + std::to_string(found) +
                   ": the installer would take it for the payload's start";
        return 0;
    }
    for (int n = kMarkerLength - 1; n >= 1; n--)
        if (body.size() >= static_cast<size_t>(n) && body.compare(body.size() - n, n, marker, n) == 0) {
            *problem = "ends with \"" + std::string(marker, n) +
                       "\", the start of the segment marker: it would hide the payload's first marker";
            return 0;
        }
    return 1;
}

int ReadLicence(const std::string& path, InstallerBuild* build, std::string* error)
{
    int status = ReadWholeFile(path, kMaxInputSize, &build->licence, error);
    if (status != ToolOk)
        return status;
    std::string problem;
    if (!CheckLicence(build->licence, &problem)) {
        *error = path + ": the licence " + problem;
        return ToolMalformed;
    }
    return ToolOk;
}

int BuildInstallerImage(InstallerBuild* build, std::string* error)
{
    std::string problem;
    if (!CheckLicence(build->licence, &problem)) {
        *error = build->stubPath + ": its licence (raw data 3) " + problem;
        return ToolMalformed;
    }
    int status = BuildPayload(&build->payload, error, 0, CrcFitsImage);
    if (status != ToolOk)
        return status;

    std::vector<PeResource> resources = build->stubResources;
    for (PeResource& r : resources) {
        if (r.type.name.empty() && r.type.id == kPeResourceRcData && r.name.name.empty()) {
            if (r.name.id == kLicenceId)
                r.data = build->licence;
            else if (r.name.id == kPayloadId)
                r.data = build->payload.bytes;
        }
    }
    const PeImage& stub = build->stubImage;
    std::vector<uint8_t> content;
    WritePeResources(&resources, stub.directories[PeResourceDirectory].rva, {kLicenceId, kPayloadId}, &content);
    std::string why;
    if (ReplacePeResources(build->stub, stub, content, &build->image, &why) != ToolOk) {
        *error = build->stubPath + ": cannot take the new resources: " + why;
        return ToolMalformed;
    }
    PeImage image;
    if (ParsePeImage(build->image, &image, &why) != ToolOk)
        return ProofFails(error, "the rewritten image does not parse: " + why);
    const PeSection& place = image.sections[FindPeSection(image, VELK_CRC_SECTION_NAME)];
    PeWrite32(&build->image, place.rawPointer, build->payload.crc);
    UpdatePeChecksum(&build->image, image);
    return ProveInstallerImage(build->image, build->payload, build->licence, error);
}

int ProveInstallerImage(const std::vector<uint8_t>& file, const PackedPayload& payload,
                        const std::vector<uint8_t>& licence, std::string* error)
{
    PeImage image;
    std::string why;
    if (ParsePeImage(file, &image, &why) != ToolOk)
        return ProofFails(error, "it does not parse as a PE image: " + why);
    if (ComputePeChecksum(file, image) != image.checkSum)
        return ProofFails(error, "its checksum does not match its bytes");
    int place = FindPeSection(image, VELK_CRC_SECTION_NAME);
    if (place < 0)
        return ProofFails(error, "it has no CRC place");
    const uint32_t storedCrc = PeRead32(file, image.sections[place].rawPointer);
    if (storedCrc != payload.crc)
        return ProofFails(error, "its CRC place does not hold the payload's CRC");

    std::vector<PeResource> resources;
    if (ReadPeResources(file, image, &resources, &why) != ToolOk)
        return ProofFails(error, "its resources do not read back: " + why);
    const PeResource* licenceData = OnlyRawData(resources, kLicenceId);
    const PeResource* payloadData = OnlyRawData(resources, kPayloadId);
    uint32_t licenceAt, payloadAt;
    if (!licenceData || licenceData->data != licence || !DataOffset(image, *licenceData, &licenceAt))
        return ProofFails(error, "raw data 3 does not read back as the licence");
    if (!payloadData || payloadData->data != payload.bytes || !DataOffset(image, *payloadData, &payloadAt))
        return ProofFails(error, "raw data 4 does not read back as the payload");
    if (licenceAt + licence.size() > payloadAt || payloadAt - (licenceAt + licence.size()) >= 8)
        return ProofFails(error, "the licence's data does not end directly before the payload's");
    for (uint32_t i = licenceAt + static_cast<uint32_t>(licence.size()); i < payloadAt; i++)
        if (file[i] != 0)
            return ProofFails(error, "the bytes between the licence and the payload are not zero");

    // The installer's own scan, from offset 0 of the whole file.
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    FILE* stream = tmpfile();
    if (!stream) {
        *error = std::string("cannot create a temporary file to prove the installer: ") + strerror(errno);
        return ToolIoError;
    }
    int written = fwrite(file.data(), 1, file.size(), stream) == file.size() && fflush(stream) == 0;
    rewind(stream);
    static PayloadScanReport report;
    uint32_t crc = written ? ScanPayloadStream(stream, marker, &report) : 0;
    fclose(stream);
    if (!written || report.readError) {
        *error = "cannot write a temporary file to prove the installer";
        return ToolIoError;
    }
    if (!report.firstMarkerFound || report.segmentOffset[0] != static_cast<long>(payloadAt) + kMarkerLength) {
        long first = report.firstMarkerFound ? report.segmentOffset[0] - kMarkerLength : -1;
        int section = -1;
        for (size_t i = 0; i < image.sections.size(); i++) {
            const PeSection& s = image.sections[i];
            if (first >= static_cast<long>(s.rawPointer) && first < static_cast<long>(s.rawPointer + s.rawSize))
                section = static_cast<int>(i);
        }
        return ProofFails(error, report.firstMarkerFound
                                     ? "a segment marker stands at offset " + std::to_string(first) +
                                           (section >= 0 ? " (section " + image.sections[section].name + ")" : "") +
                                           ", before the payload at " + std::to_string(payloadAt) +
                                           ": the installer would take it for the payload's start"
                                     : "the scan finds no segment marker");
    }
    if (report.segmentCount != kInstallFileCount || !report.finalPairFound)
        return ProofFails(error, "the scan finds " + std::to_string(report.segmentCount) + " segments" +
                                     (report.finalPairFound ? "" : " and no final pair of markers"));
    for (int k = 0; k < kInstallFileCount; k++) {
        const PackedFile& input = payload.files[k];
        std::vector<uint8_t> segment(file.begin() + report.segmentOffset[k],
                                     file.begin() + report.segmentOffset[k] + report.segmentSize[k]);
        std::vector<uint8_t> decoded;
        std::string decodeError;
        if (DecodeStream(segment, &decoded, &decodeError) != ToolOk || decoded != input.input)
            return ProofFails(error, "segment " + std::to_string(k) + " does not decode back to " + input.name);
    }
    if (crc != payload.crc || crc == 0)
        return ProofFails(error, "the scan's CRC differs from the CRC place's");
    if (image.directoryCount > PeSecurityDirectory && image.directories[PeSecurityDirectory].size &&
        image.directories[PeSecurityDirectory].rva < payloadAt + payload.bytes.size())
        return ProofFails(error, "its signature begins before the end of the payload");
    return ToolOk;
}

int CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs, std::string* error)
{
    size_t slash = output.find_last_of('/');
    std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : output.substr(0, slash);
    struct stat info;
    if (stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = output + ": cannot be written: its folder " + folder + " does not exist";
        return ToolIoError;
    }
    for (const std::string& input : inputs) {
        if (!input.empty() && SameFile(output, input)) {
            *error = output + ": is the input " + input + "; write the installer to a file of its own";
            return ToolIoError;
        }
    }
    return ToolOk;
}
