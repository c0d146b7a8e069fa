// Reading and rewriting a PE image file (PE32 for i386, PE32+ for x86-64),
// as far as the image builder needs: the headers, the section table, the
// data directories, the COFF symbol table that MinGW leaves at the end, an
// Authenticode signature, and the checksum.
//
// The one rewrite is putting a new resource section in place of the old:
// the sections that follow it move in the file and in memory by whole
// alignment units, and every header field that describes them follows.
#ifndef VELK_TOOLS_PE_IMAGE_H
#define VELK_TOOLS_PE_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

const uint16_t kPeMachineI386 = 0x014C;
const uint16_t kPeMachineAmd64 = 0x8664;

// Data directories by index.
enum PeDirectoryIndex {
    PeResourceDirectory = 2,
    PeSecurityDirectory = 4, // the signature; its "address" is a file offset
    PeRelocationDirectory = 5,
};
const int kPeMaxDirectories = 16;

// Section flags the builder looks at.
const uint32_t kPeSectionInitializedData = 0x00000040;
const uint32_t kPeSectionDiscardable = 0x02000000;

struct PeSection {
    std::string name;          // long names ("/4") resolved from the string table
    uint32_t virtualSize;
    uint32_t virtualAddress;
    uint32_t rawSize;
    uint32_t rawPointer;
    uint32_t characteristics;
};

struct PeDirectory {
    uint32_t rva;
    uint32_t size;
};

struct PeImage {
    uint16_t machine;
    int is64;                       // PE32+
    uint32_t fileHeaderOffset;      // after "PE\0\0"
    uint32_t optionalHeaderOffset;
    uint32_t sectionTableOffset;
    uint32_t fileAlignment;
    uint32_t sectionAlignment;
    uint32_t sizeOfHeaders;
    uint32_t sizeOfImage;
    uint32_t checkSum;
    uint64_t imageBase;
    uint32_t directoryCount;
    PeDirectory directories[kPeMaxDirectories];
    std::vector<PeSection> sections;
    uint32_t symbolTable;           // COFF symbols, then the string table; 0: none
    uint32_t symbolCount;
    uint32_t symbolsEnd;            // end of the string table
};

// Reads the headers of `file` and checks that they describe the file: the
// section table, every section's data and the symbol table lie inside it,
// sections ascend in memory without overlapping, the image size covers
// them. ToolOk, or ToolMalformed with the reason ("not a PE file (no MZ
// header)", "truncated: ...").
int ParsePeImage(const std::vector<uint8_t>& file, PeImage* image, std::string* error);

// Index of the section with this name, or -1.
int FindPeSection(const PeImage& image, const char* name);

// Index of the section whose memory holds `rva`, or -1.
int PeSectionOfRva(const PeImage& image, uint32_t rva);

// The file offset of `size` bytes at `rva`: 1 when they lie whole in one
// section's data in the file, else 0.
int PeRvaToOffset(const PeImage& image, uint32_t rva, uint32_t size, uint32_t* offset);

// The PE checksum of the file: 16-bit one's-complement sum of the file with
// the checksum field taken as 0, plus the file length.
uint32_t ComputePeChecksum(const std::vector<uint8_t>& file, const PeImage& image);

// Writes the computed checksum into the header.
void UpdatePeChecksum(std::vector<uint8_t>* file, const PeImage& image);

// Writes `out`: `file` with `resources` (the new resource section's
// content, built for the section's unchanged address) in place of its
// resource section. The sections after the resources move; that is allowed
// only for sections that the program cannot address (discardable ones that
// no data directory but the base relocations' points into, and that no
// base relocation patches or points into); a stub where another section
// follows the resources is refused. A signature is dropped (it would not
// match the new image). The checksum is left for UpdatePeChecksum.
// ToolOk, or ToolMalformed with the reason.
int ReplacePeResources(const std::vector<uint8_t>& file, const PeImage& image,
                       const std::vector<uint8_t>& resources, std::vector<uint8_t>* out,
                       std::string* error);

// Little-endian access to image bytes (the caller checks the bounds).
uint32_t PeRead32(const std::vector<uint8_t>& file, uint32_t offset);
void PeWrite32(std::vector<uint8_t>* file, uint32_t offset, uint32_t value);

#endif
