#include "tools/pe_image.h"

#include <cstdio>
#include <cstring>

#include "tools/file_io.h"

namespace {

// Offsets inside the headers.
const uint32_t kDosLfanew = 0x3C;
const uint32_t kFileHeaderSize = 20;
const uint32_t kSectionRowSize = 40;
const uint32_t kSymbolSize = 18;
// In the file header.
const uint32_t kFhSectionCount = 2;
const uint32_t kFhSymbolTable = 8;
const uint32_t kFhSymbolCount = 12;
const uint32_t kFhOptionalSize = 16;
// In the optional header (the same for PE32 and PE32+ unless noted).
const uint32_t kOhInitializedData = 8;
const uint32_t kOhImageBase32 = 28;
const uint32_t kOhImageBase64 = 24;
const uint32_t kOhSectionAlignment = 32;
const uint32_t kOhFileAlignment = 36;
const uint32_t kOhSizeOfImage = 56;
const uint32_t kOhSizeOfHeaders = 60;
const uint32_t kOhCheckSum = 64;
const uint32_t kOhDirectoryCount32 = 92;
const uint32_t kOhDirectoryCount64 = 108;
// In a section row.
const uint32_t kShVirtualSize = 8;
const uint32_t kShVirtualAddress = 12;
const uint32_t kShRawSize = 16;
const uint32_t kShRawPointer = 20;
const uint32_t kShCharacteristics = 36;

// Base relocation types.
const int kRelocAbsolute = 0; // padding
const int kRelocHighLow = 3;  // 32-bit address
const int kRelocDir64 = 10;   // 64-bit address

// The data directories' names, for messages.
const char* const kDirectoryNames[kPeMaxDirectories] = {
    "export", "import", "resource", "exception", "security", "base relocation",
    "debug", "architecture", "global pointer", "TLS", "load configuration",
    "bound import", "import address table", "delay import", "CLR runtime header",
    "reserved",
};

uint16_t Read16(const std::vector<uint8_t>& file, uint64_t offset)
{
    return static_cast<uint16_t>(file[offset] | file[offset + 1] << 8);
}

uint64_t Read64(const std::vector<uint8_t>& file, uint32_t offset)
{
    return PeRead32(file, offset) | static_cast<uint64_t>(PeRead32(file, offset + 4)) << 32;
}

uint64_t AlignUp(uint64_t value, uint32_t alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

int IsPowerOfTwo(uint32_t value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

std::string Hex(uint64_t value)
{
    char text[24];
    snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

int Fail(std::string* error, const std::string& message)
{
    *error = message;
    return ToolMalformed;
}

// Extent of a section in memory: its virtual size, or its data when the
// virtual size is not given.
uint32_t MemorySize(const PeSection& section)
{
    return section.virtualSize ? section.virtualSize : section.rawSize;
}

uint32_t DirectoryOffset(const PeImage& image, int index)
{
    return image.optionalHeaderOffset + (image.is64 ? kOhDirectoryCount64 : kOhDirectoryCount32) + 4 +
           8 * index;
}

uint32_t SectionRowOffset(const PeImage& image, size_t index)
{
    return image.sectionTableOffset + static_cast<uint32_t>(index) * kSectionRowSize;
}

// The section's name: eight bytes, or "/N" for the name at offset N of the
// string table that follows the symbols.
std::string SectionName(const std::vector<uint8_t>& file, uint32_t row, const PeImage& image)
{
    char raw[9] = {0};
    memcpy(raw, &file[row], 8);
    std::string name = raw;
    if (name.size() < 2 || name[0] != '/' || !image.symbolTable)
        return name;
    uint64_t offset = strtoul(raw + 1, NULL, 10);
    uint64_t strings = image.symbolTable + static_cast<uint64_t>(image.symbolCount) * kSymbolSize;
    if (strings + offset >= image.symbolsEnd)
        return name;
    std::string resolved;
    for (uint64_t at = strings + offset; at < image.symbolsEnd && file[at]; at++)
        resolved += static_cast<char>(file[at]);
    return resolved;
}

// Region of the image that a resource rewrite changes: the resource
// section and everything after it in memory.
struct MovedRegion {
    uint32_t start; // the resource section's address
    uint64_t end;   // end of the last section in memory
};

int InRegion(const MovedRegion& region, uint64_t rva)
{
    return rva >= region.start && rva < region.end;
}

// The base relocations must neither patch the rewritten region nor hold an
// address inside it: such an address would be wrong once the region moves.
int CheckRelocations(const std::vector<uint8_t>& file, const PeImage& image,
                     const MovedRegion& region, std::string* error)
{
    const PeDirectory& relocs = image.directories[PeRelocationDirectory];
    if (image.directoryCount <= PeRelocationDirectory || relocs.size == 0)
        return ToolOk;
    uint32_t at;
    if (!PeRvaToOffset(image, relocs.rva, relocs.size, &at))
        return Fail(error, "its base relocations lie outside the sections' data");
    const uint32_t end = at + relocs.size;
    while (at + 8 <= end) {
        uint32_t page = PeRead32(file, at);
        uint32_t blockSize = PeRead32(file, at + 4);
        if (blockSize < 8 || blockSize > end - at)
            return Fail(error, "its base relocation block at " + Hex(at) + " has a bad size");
        for (uint32_t entry = at + 8; entry + 2 <= at + blockSize; entry += 2) {
            uint16_t value = Read16(file, entry);
            int type = value >> 12;
            uint32_t place = page + (value & 0x0FFF);
            if (type == kRelocAbsolute)
                continue;
            if (type != kRelocHighLow && type != kRelocDir64)
                return Fail(error, "its base relocations use type " + std::to_string(type) +
                                       ", which the builder does not know");
            if (InRegion(region, place))
                return Fail(error, "a base relocation patches address " + Hex(place) +
                                       ", inside the resources or a section after them");
            uint32_t width = type == kRelocDir64 ? 8 : 4;
            uint32_t offset;
            if (!PeRvaToOffset(image, place, width, &offset))
                continue; // uninitialised data: no address stored in the file
            uint64_t address = width == 8 ? Read64(file, offset) : PeRead32(file, offset);
            if (address >= image.imageBase && InRegion(region, address - image.imageBase))
                return Fail(error, "the program holds the address " + Hex(address) +
                                       " of the resources or of a section after them");
        }
        at += blockSize;
    }
    return ToolOk;
}

} // namespace

uint32_t PeRead32(const std::vector<uint8_t>& file, uint32_t offset)
{
    return file[offset] | file[offset + 1] << 8 | file[offset + 2] << 16 |
           static_cast<uint32_t>(file[offset + 3]) << 24;
}

void PeWrite32(std::vector<uint8_t>* file, uint32_t offset, uint32_t value)
{
    for (int i = 0; i < 4; i++)
        (*file)[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

int ParsePeImage(const std::vector<uint8_t>& file, PeImage* image, std::string* error)
{
    const uint64_t size = file.size();
    if (size < 2 || file[0] != 'M' || file[1] != 'Z')
        return Fail(error, "not a PE file (no MZ header)");
    if (size < kDosLfanew + 4)
        return Fail(error, "truncated: the file ends inside its MZ header");
    const uint32_t pe = PeRead32(file, kDosLfanew);
    if (pe + 4ULL + kFileHeaderSize > size)
        return Fail(error, "truncated: the PE header lies beyond the end of the file");
    if (memcmp(&file[pe], "PE\0\0", 4) != 0)
        return Fail(error, "not a PE file (no PE signature after the MZ header)");

    *image = PeImage();
    image->fileHeaderOffset = pe + 4;
    const uint32_t fh = image->fileHeaderOffset;
    image->machine = Read16(file, fh);
    if (image->machine != kPeMachineI386 && image->machine != kPeMachineAmd64)
        return Fail(error, "machine " + Hex(image->machine) + " is neither i386 nor x86-64");
    const uint32_t sectionCount = Read16(file, fh + kFhSectionCount);
    image->symbolTable = PeRead32(file, fh + kFhSymbolTable);
    image->symbolCount = PeRead32(file, fh + kFhSymbolCount);
    const uint32_t optionalSize = Read16(file, fh + kFhOptionalSize);
    image->optionalHeaderOffset = fh + kFileHeaderSize;
    const uint32_t oh = image->optionalHeaderOffset;
    if (optionalSize < kOhDirectoryCount32 + 4 || oh + static_cast<uint64_t>(optionalSize) > size)
        return Fail(error, "truncated: the optional header ends beyond the file or is too short");
    const uint16_t magic = Read16(file, oh);
    if (magic != 0x10B && magic != 0x20B)
        return Fail(error, "unknown optional header magic " + Hex(magic));
    image->is64 = magic == 0x20B;
    if (image->is64 != (image->machine == kPeMachineAmd64))
        return Fail(error, "optional header and machine disagree (PE32 against PE32+)");
    const uint32_t countAt = image->is64 ? kOhDirectoryCount64 : kOhDirectoryCount32;
    if (optionalSize < countAt + 4)
        return Fail(error, "the optional header is too short for its data directories");
    image->imageBase = image->is64 ? Read64(file, oh + kOhImageBase64) : PeRead32(file, oh + kOhImageBase32);
    image->sectionAlignment = PeRead32(file, oh + kOhSectionAlignment);
    image->fileAlignment = PeRead32(file, oh + kOhFileAlignment);
    image->sizeOfImage = PeRead32(file, oh + kOhSizeOfImage);
    image->sizeOfHeaders = PeRead32(file, oh + kOhSizeOfHeaders);
    image->checkSum = PeRead32(file, oh + kOhCheckSum);
    image->directoryCount = PeRead32(file, oh + countAt);
    if (image->directoryCount > kPeMaxDirectories)
        image->directoryCount = kPeMaxDirectories;
    if (countAt + 4 + 8ULL * image->directoryCount > optionalSize)
        return Fail(error, "the data directories run past the optional header");
    for (uint32_t i = 0; i < image->directoryCount; i++) {
        image->directories[i].rva = PeRead32(file, DirectoryOffset(*image, i));
        image->directories[i].size = PeRead32(file, DirectoryOffset(*image, i) + 4);
    }
    if (!IsPowerOfTwo(image->fileAlignment) || !IsPowerOfTwo(image->sectionAlignment) ||
        image->sectionAlignment < image->fileAlignment)
        return Fail(error, "bad alignments (file " + Hex(image->fileAlignment) + ", sections " +
                               Hex(image->sectionAlignment) + ")");

    // The symbol table and the string table after it (whose first four
    // bytes give its size, themselves included).
    if (image->symbolTable) {
        uint64_t strings = image->symbolTable + static_cast<uint64_t>(image->symbolCount) * kSymbolSize;
        if (strings + 4 > size)
            return Fail(error, "truncated: the symbol table ends beyond the file");
        uint64_t end = strings + PeRead32(file, static_cast<uint32_t>(strings));
        if (end > size || end < strings + 4)
            return Fail(error, "truncated: the string table ends beyond the file");
        image->symbolsEnd = static_cast<uint32_t>(end);
    }

    image->sectionTableOffset = oh + optionalSize;
    const uint64_t tableEnd = image->sectionTableOffset + static_cast<uint64_t>(sectionCount) * kSectionRowSize;
    if (tableEnd > size)
        return Fail(error, "truncated: the section table ends beyond the file");
    if (tableEnd > image->sizeOfHeaders)
        return Fail(error, "the section table runs past the headers' size");
    uint64_t memoryEnd = AlignUp(image->sizeOfHeaders, image->sectionAlignment);
    for (uint32_t i = 0; i < sectionCount; i++) {
        const uint32_t row = SectionRowOffset(*image, i);
        PeSection section;
        section.name = SectionName(file, row, *image);
        section.virtualSize = PeRead32(file, row + kShVirtualSize);
        section.virtualAddress = PeRead32(file, row + kShVirtualAddress);
        section.rawSize = PeRead32(file, row + kShRawSize);
        section.rawPointer = PeRead32(file, row + kShRawPointer);
        section.characteristics = PeRead32(file, row + kShCharacteristics);
        if (section.rawSize && static_cast<uint64_t>(section.rawPointer) + section.rawSize > size)
            return Fail(error, "truncated: section " + section.name + " ends at offset " +
                                   std::to_string(static_cast<uint64_t>(section.rawPointer) + section.rawSize) +
                                   ", the file at " + std::to_string(size));
        if (section.virtualAddress < memoryEnd || section.virtualAddress % image->sectionAlignment)
            return Fail(error, "section " + section.name + " at " + Hex(section.virtualAddress) +
                                   " overlaps the one before it or is not aligned");
        memoryEnd = AlignUp(static_cast<uint64_t>(section.virtualAddress) + MemorySize(section),
                            image->sectionAlignment);
        image->sections.push_back(section);
    }
    if (image->sizeOfImage < memoryEnd)
        return Fail(error, "the image size " + Hex(image->sizeOfImage) + " does not cover its sections (" +
                               Hex(memoryEnd) + ")");
    if (image->directoryCount > PeSecurityDirectory) {
        const PeDirectory& signature = image->directories[PeSecurityDirectory];
        if (signature.size && static_cast<uint64_t>(signature.rva) + signature.size > size)
            return Fail(error, "truncated: its signature ends beyond the file");
    }
    return ToolOk;
}

int FindPeSection(const PeImage& image, const char* name)
{
    for (size_t i = 0; i < image.sections.size(); i++)
        if (image.sections[i].name == name)
            return static_cast<int>(i);
    return -1;
}

int PeSectionOfRva(const PeImage& image, uint32_t rva)
{
    for (size_t i = 0; i < image.sections.size(); i++) {
        const PeSection& s = image.sections[i];
        if (rva >= s.virtualAddress && rva - s.virtualAddress < MemorySize(s))
            return static_cast<int>(i);
    }
    return -1;
}

int PeRvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, uint32_t* offset)
{
    int index = PeSectionOfRva(image, rva);
    if (index < 0)
        return 0;
    const PeSection& s = image.sections[index];
    uint64_t inside = rva - s.virtualAddress;
    if (inside + size > s.rawSize || inside + size > MemorySize(s))
        return 0;
    *offset = static_cast<uint32_t>(s.rawPointer + inside);
    return 1;
}

uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, const PeImage& image)
{
    const uint64_t field = image.optionalHeaderOffset + kOhCheckSum;
    uint64_t sum = 0;
    const size_t size = file.size();
    for (size_t i = 0; i + 1 < size; i += 2) {
        if (i == field || i == field + 2)
            continue;
        sum += file[i] | file[i + 1] << 8;
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    if (size % 2) {
        sum += file[size - 1];
        sum = (sum & 0xFFFF) + (sum >> 16);
    }
    sum = (sum & 0xFFFF) + (sum >> 16);
    return static_cast<uint32_t>(sum + size);
}

void UpdatePeChecksum(std::vector<uint8_t>* file, const PeImage& image)
{
    PeWrite32(file, image.optionalHeaderOffset + kOhCheckSum, ComputePeChecksum(*file, image));
}

int ReplacePeResources(const std::vector<uint8_t>& file, const PeImage& image,
                       const std::vector<uint8_t>& resources, std::vector<uint8_t>* out,
                       std::string* error)
{
    if (image.directoryCount <= PeResourceDirectory || image.directories[PeResourceDirectory].size == 0)
        return Fail(error, "it has no resources");
    const uint32_t resourceRva = image.directories[PeResourceDirectory].rva;
    const int r = PeSectionOfRva(image, resourceRva);
    if (r < 0 || image.sections[r].virtualAddress != resourceRva)
        return Fail(error, "its resources do not fill a section of their own");
    const PeSection& rsrc = image.sections[r];
    if (rsrc.rawPointer % image.fileAlignment || rsrc.rawSize % image.fileAlignment)
        return Fail(error, "its resource section is not aligned in the file");

    // What moves: every section after the resources. Only what the program
    // cannot address may move.
    const PeSection& last = image.sections.back();
    MovedRegion region = {rsrc.virtualAddress,
                          AlignUp(static_cast<uint64_t>(last.virtualAddress) + MemorySize(last),
                                  image.sectionAlignment)};
    const uint32_t tailStart = rsrc.rawPointer + rsrc.rawSize;
    // The sections before the resources stay where they are in the file, so
    // their data must end where the resources begin: data that reached into
    // or past them would be cut or shifted away from its section.
    for (int i = 0; i < r; i++) {
        const PeSection& s = image.sections[i];
        if (s.rawSize && static_cast<uint64_t>(s.rawPointer) + s.rawSize > rsrc.rawPointer)
            return Fail(error, "section " + s.name + " precedes the resources in memory, but its data reach "
                                                     "into or past them in the file");
    }
    for (size_t i = r + 1; i < image.sections.size(); i++) {
        const PeSection& s = image.sections[i];
        if (!(s.characteristics & kPeSectionDiscardable))
            return Fail(error, "section " + s.name + " follows the resources and is not discardable: "
                                                     "the program may address it, so it cannot be moved");
        if (s.rawSize && s.rawPointer < tailStart)
            return Fail(error, "section " + s.name + " follows the resources in memory but not in the file");
    }
    for (uint32_t d = 0; d < image.directoryCount; d++) {
        const PeDirectory& dir = image.directories[d];
        if (d == PeResourceDirectory || d == PeSecurityDirectory || dir.size == 0)
            continue;
        if (d == PeRelocationDirectory && dir.rva > resourceRva &&
            PeSectionOfRva(image, dir.rva) > r)
            continue; // moves with its section; updated below
        if (InRegion(region, dir.rva) || InRegion(region, static_cast<uint64_t>(dir.rva) + dir.size - 1))
            return Fail(error, std::string("its ") + kDirectoryNames[d] +
                                   " directory lies in the resources or a section after them");
    }
    int status = CheckRelocations(file, image, region, error);
    if (status != ToolOk)
        return status;
    if (image.symbolTable && image.symbolTable < tailStart)
        return Fail(error, "its symbol table lies before the end of the resources");

    // The file's end: a signature (always last) and the zero padding that a
    // signer puts before it to align it are dropped.
    uint64_t contentEnd = file.size();
    if (image.directoryCount > PeSecurityDirectory && image.directories[PeSecurityDirectory].size) {
        const PeDirectory& signature = image.directories[PeSecurityDirectory];
        if (static_cast<uint64_t>(signature.rva) + signature.size != file.size())
            return Fail(error, "its signature is not at the end of the file");
        contentEnd = signature.rva;
        uint64_t known = tailStart;
        for (const PeSection& s : image.sections)
            if (s.rawSize && static_cast<uint64_t>(s.rawPointer) + s.rawSize > known)
                known = static_cast<uint64_t>(s.rawPointer) + s.rawSize;
        if (image.symbolsEnd > known)
            known = image.symbolsEnd;
        for (int pad = 0; pad < 7 && contentEnd > known && file[contentEnd - 1] == 0; pad++)
            contentEnd--;
    }
    if (contentEnd < tailStart)
        return Fail(error, "its signature begins inside the resources");

    // The new layout: the resource section gets its new size; everything
    // after it shifts by the change, rounded to the alignments.
    const uint32_t newRawSize = static_cast<uint32_t>(AlignUp(resources.size(), image.fileAlignment));
    const int64_t fileDelta = static_cast<int64_t>(rsrc.rawPointer) + newRawSize - tailStart;
    const int64_t memoryDelta =
        static_cast<int64_t>(AlignUp(static_cast<uint64_t>(rsrc.virtualAddress) + resources.size(),
                                     image.sectionAlignment)) -
        static_cast<int64_t>(AlignUp(static_cast<uint64_t>(rsrc.virtualAddress) + MemorySize(rsrc),
                                     image.sectionAlignment));
    if (resources.empty() || static_cast<uint64_t>(rsrc.rawPointer) + newRawSize + (contentEnd - tailStart) > 0xFFFFFFFFULL ||
        region.end + memoryDelta > 0xFFFFFFFFULL)
        return Fail(error, "the new resources do not fit a PE image");

    out->clear();
    out->reserve(rsrc.rawPointer + newRawSize + (contentEnd - tailStart));
    out->insert(out->end(), file.begin(), file.begin() + rsrc.rawPointer);
    out->insert(out->end(), resources.begin(), resources.end());
    out->resize(rsrc.rawPointer + newRawSize, 0);
    out->insert(out->end(), file.begin() + tailStart, file.begin() + contentEnd);

    const uint32_t oh = image.optionalHeaderOffset;
    uint32_t row = SectionRowOffset(image, r);
    PeWrite32(out, row + kShVirtualSize, static_cast<uint32_t>(resources.size()));
    PeWrite32(out, row + kShRawSize, newRawSize);
    uint64_t memoryEnd = AlignUp(static_cast<uint64_t>(rsrc.virtualAddress) + resources.size(), image.sectionAlignment);
    for (size_t i = r + 1; i < image.sections.size(); i++) {
        const PeSection& s = image.sections[i];
        row = SectionRowOffset(image, i);
        PeWrite32(out, row + kShVirtualAddress, static_cast<uint32_t>(s.virtualAddress + memoryDelta));
        if (s.rawSize)
            PeWrite32(out, row + kShRawPointer, static_cast<uint32_t>(s.rawPointer + fileDelta));
        memoryEnd = AlignUp(s.virtualAddress + memoryDelta + MemorySize(s), image.sectionAlignment);
    }
    PeWrite32(out, oh + kOhSizeOfImage, static_cast<uint32_t>(memoryEnd));
    if (rsrc.characteristics & kPeSectionInitializedData)
        PeWrite32(out, oh + kOhInitializedData, PeRead32(file, oh + kOhInitializedData) - rsrc.rawSize + newRawSize);
    PeWrite32(out, DirectoryOffset(image, PeResourceDirectory) + 4, static_cast<uint32_t>(resources.size()));
    const PeDirectory& relocs = image.directories[PeRelocationDirectory];
    if (image.directoryCount > PeRelocationDirectory && relocs.size && relocs.rva > resourceRva)
        PeWrite32(out, DirectoryOffset(image, PeRelocationDirectory), static_cast<uint32_t>(relocs.rva + memoryDelta));
    if (image.directoryCount > PeSecurityDirectory) {
        PeWrite32(out, DirectoryOffset(image, PeSecurityDirectory), 0);
        PeWrite32(out, DirectoryOffset(image, PeSecurityDirectory) + 4, 0);
    }
    if (image.symbolTable)
        PeWrite32(out, image.fileHeaderOffset + kFhSymbolTable, static_cast<uint32_t>(image.symbolTable + fileDelta));
    return ToolOk;
}
