// velkpack build's PE reader on hostile stubs: the headers, the section
// table and the resource tree of arbitrary bytes are read without a fault;
// and when an image is accepted and its resource section can be replaced,
// the resources written back in its place read back the same (as a set:
// the writer sorts the entries the way the loader looks them up).
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "tools/file_io.h"
#include "tools/pe_image.h"
#include "tools/pe_resources.h"

namespace {

typedef std::tuple<uint32_t, std::vector<uint16_t>, uint32_t, std::vector<uint16_t>, uint32_t,
                   std::vector<uint16_t>, uint32_t, std::vector<uint8_t>>
    Leaf;

std::vector<Leaf> Leaves(const std::vector<PeResource>& resources)
{
    std::vector<Leaf> leaves;
    for (const PeResource& r : resources)
        leaves.emplace_back(r.type.id, r.type.name, r.name.id, r.name.name, r.language.id,
                            r.language.name, r.codePage, r.data);
    std::sort(leaves.begin(), leaves.end());
    return leaves;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static std::vector<uint8_t> file;
    file.assign(data, data + size);
    PeImage image;
    std::string why;
    if (ParsePeImage(file, &image, &why) != ToolOk)
        return 0;
    ComputePeChecksum(file, image);
    std::vector<PeResource> resources;
    if (ReadPeResources(file, image, &resources, &why) != ToolOk)
        return 0;

    std::vector<PeResource> written = resources;
    std::vector<uint8_t> content, rewritten;
    WritePeResources(&written, image.directories[PeResourceDirectory].rva, {}, &content);
    if (ReplacePeResources(file, image, content, &rewritten, &why) != ToolOk)
        return 0;
    PeImage again;
    std::vector<PeResource> back;
    if (ParsePeImage(rewritten, &again, &why) != ToolOk ||
        ReadPeResources(rewritten, again, &back, &why) != ToolOk)
        abort(); // the builder's own rewrite must read back
    if (Leaves(back) != Leaves(resources))
        abort();
    return 0;
}
