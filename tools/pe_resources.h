// The resource tree of a PE image (type, name, language, data) read as a
// list of leaves, and written back as a new resource section.
#ifndef VELK_TOOLS_PE_RESOURCES_H
#define VELK_TOOLS_PE_RESOURCES_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pe_image.h"

const uint32_t kPeResourceRcData = 10; // RT_RCDATA

// A directory entry's key: a number, or a name (UTF-16) when `name` is not
// empty.
struct PeResourceKey {
    uint32_t id;
    std::vector<uint16_t> name;
};

struct PeResource {
    PeResourceKey type;
    PeResourceKey name;
    PeResourceKey language;
    uint32_t codePage;
    uint32_t dataRva; // where the data lies (as read; set again by the writer)
    std::vector<uint8_t> data;
};

// Reads the whole tree of the image's resource directory, leaves in tree
// order. ToolOk, or ToolMalformed with the reason.
int ReadPeResources(const std::vector<uint8_t>& file, const PeImage& image,
                    std::vector<PeResource>* resources, std::string* error);

// The resources with this numeric type and name, in tree order.
std::vector<const PeResource*> FindPeResources(const std::vector<PeResource>& resources, uint32_t type,
                                               uint32_t name);

// The content of a resource section at address `sectionRva` holding the
// resources: the directory tables (entries sorted as the loader's lookup
// needs: names first, ordinally, then numbers ascending), the data entries,
// the name strings, then every data blob on an 8-byte boundary. The blobs
// follow the sorted order, except that the raw data `lastNames` go last, in
// the order given (so the licence's data ends directly before the
// payload's). Deterministic: the same resources give the same bytes. Sets
// each resource's dataRva.
void WritePeResources(std::vector<PeResource>* resources, uint32_t sectionRva,
                      const std::vector<uint32_t>& lastNames, std::vector<uint8_t>* content);

#endif
