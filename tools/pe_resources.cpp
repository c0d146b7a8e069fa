#include "tools/pe_resources.h"

#include <algorithm>

#include "tools/file_io.h"

namespace {

const uint32_t kDirectoryHeaderSize = 16;
const uint32_t kEntrySize = 8;
const uint32_t kDataEntrySize = 16;
const uint32_t kHighBit = 0x80000000UL;
const uint32_t kDataAlignment = 8;
// A sound tree visits each table once; more than this means loops.
const uint32_t kMaxTables = 65536;

int Fail(std::string* error, const std::string& message)
{
    *error = message;
    return ToolMalformed;
}

// Reading: offsets in the tree are relative to the resource directory's
// start; `base` is its file offset and `limit` the end of its section's
// data in the file.
struct TreeReader {
    const std::vector<uint8_t>& file;
    const PeImage& image;
    uint32_t base;
    uint32_t limit;
    std::vector<PeResource>* out;
    uint32_t* tablesSeen;
};

int ReadKey(const TreeReader& tree, uint32_t raw, PeResourceKey* key, std::string* error)
{
    key->name.clear();
    key->id = 0;
    if (!(raw & kHighBit)) {
        key->id = raw;
        return ToolOk;
    }
    uint64_t at = static_cast<uint64_t>(tree.base) + (raw & ~kHighBit);
    if (at + 2 > tree.limit)
        return Fail(error, "a resource name lies outside the resource section");
    uint32_t length = tree.file[at] | tree.file[at + 1] << 8;
    if (length == 0 || at + 2 + 2ULL * length > tree.limit)
        return Fail(error, "a resource name runs past the resource section");
    for (uint32_t i = 0; i < length; i++)
        key->name.push_back(static_cast<uint16_t>(tree.file[at + 2 + 2 * i] | tree.file[at + 3 + 2 * i] << 8));
    return ToolOk;
}

// Entry order of a directory: names first, compared code unit by code
// unit, then numbers ascending.
int CompareKeys(const PeResourceKey& a, const PeResourceKey& b)
{
    if (!a.name.empty() || !b.name.empty()) {
        if (a.name.empty())
            return 1;
        if (b.name.empty())
            return -1;
        if (a.name == b.name)
            return 0;
        return a.name < b.name ? -1 : 1;
    }
    return a.id == b.id ? 0 : a.id < b.id ? -1 : 1;
}

int SameKey(const PeResourceKey& a, const PeResourceKey& b)
{
    return CompareKeys(a, b) == 0;
}

// Reads the directory at `offset` of tree level `level` (0 types, 1 names,
// 2 languages), with the keys of the levels above in `leaf`.
int ReadDirectory(const TreeReader& tree, uint32_t offset, int level, PeResource* leaf, std::string* error)
{
    if (++*tree.tablesSeen > kMaxTables)
        return Fail(error, "the resource tree has more tables than any image (it loops)");
    uint64_t at = static_cast<uint64_t>(tree.base) + offset;
    if (at + kDirectoryHeaderSize > tree.limit)
        return Fail(error, "a resource directory lies outside the resource section");
    uint32_t count = (tree.file[at + 12] | tree.file[at + 13] << 8) + (tree.file[at + 14] | tree.file[at + 15] << 8);
    if (at + kDirectoryHeaderSize + static_cast<uint64_t>(count) * kEntrySize > tree.limit)
        return Fail(error, "a resource directory runs past the resource section");
    // A key twice in one directory: the loader finds only one of them, and
    // a rewritten tree, which has one entry per key, would lose the other.
    std::vector<PeResourceKey> keys(count);
    for (uint32_t i = 0; i < count; i++) {
        int status = ReadKey(tree, PeRead32(tree.file, static_cast<uint32_t>(at + kDirectoryHeaderSize + i * kEntrySize)),
                             &keys[i], error);
        if (status != ToolOk)
            return status;
    }
    std::sort(keys.begin(), keys.end(),
              [](const PeResourceKey& a, const PeResourceKey& b) { return CompareKeys(a, b) < 0; });
    for (uint32_t i = 1; i < count; i++)
        if (SameKey(keys[i - 1], keys[i]))
            return Fail(error, std::string("a resource directory holds the same ") +
                                   (level == 0 ? "type" : level == 1 ? "name" : "language") + " twice");
    for (uint32_t i = 0; i < count; i++) {
        uint32_t entry = static_cast<uint32_t>(at + kDirectoryHeaderSize + i * kEntrySize);
        PeResourceKey* key = level == 0 ? &leaf->type : level == 1 ? &leaf->name : &leaf->language;
        int status = ReadKey(tree, PeRead32(tree.file, entry), key, error);
        if (status != ToolOk)
            return status;
        uint32_t target = PeRead32(tree.file, entry + 4);
        if (level < 2) {
            if (!(target & kHighBit))
                return Fail(error, "the resource tree has data where a directory belongs");
            status = ReadDirectory(tree, target & ~kHighBit, level + 1, leaf, error);
            if (status != ToolOk)
                return status;
            continue;
        }
        if (target & kHighBit)
            return Fail(error, "the resource tree is deeper than type, name and language");
        uint64_t data = static_cast<uint64_t>(tree.base) + target;
        if (data + kDataEntrySize > tree.limit)
            return Fail(error, "a resource data entry lies outside the resource section");
        leaf->dataRva = PeRead32(tree.file, static_cast<uint32_t>(data));
        uint32_t size = PeRead32(tree.file, static_cast<uint32_t>(data + 4));
        leaf->codePage = PeRead32(tree.file, static_cast<uint32_t>(data + 8));
        uint32_t fileOffset;
        if (!PeRvaToOffset(tree.image, leaf->dataRva, size, &fileOffset))
            return Fail(error, "the data of a resource lies outside the image's sections");
        leaf->data.assign(tree.file.begin() + fileOffset, tree.file.begin() + fileOffset + size);
        tree.out->push_back(*leaf);
    }
    return ToolOk;
}

bool LeafBefore(const PeResource& a, const PeResource& b)
{
    int c = CompareKeys(a.type, b.type);
    if (c == 0)
        c = CompareKeys(a.name, b.name);
    if (c == 0)
        c = CompareKeys(a.language, b.language);
    return c < 0;
}

void Put16(std::vector<uint8_t>* out, uint32_t at, uint32_t value)
{
    (*out)[at] = static_cast<uint8_t>(value);
    (*out)[at + 1] = static_cast<uint8_t>(value >> 8);
}

// One directory table of the tree being written: its entries' keys and, for
// each, the first leaf below it and the number of leaves below it.
struct Table {
    int level;
    std::vector<size_t> firstLeaf;
    std::vector<size_t> leafCount;
    uint32_t offset;
};

// The tables of the tree breadth first: the root, the name tables of each
// type, the language tables of each name.
void PlanTables(const std::vector<PeResource>& leaves, std::vector<Table>* tables)
{
    Table root = {0, {}, {}, 0};
    for (size_t i = 0; i < leaves.size(); i++) {
        if (i == 0 || !SameKey(leaves[i].type, leaves[i - 1].type)) {
            root.firstLeaf.push_back(i);
            root.leafCount.push_back(0);
        }
        root.leafCount.back()++;
    }
    tables->push_back(root);
    for (size_t t = 0; t < tables->size(); t++) {
        if ((*tables)[t].level == 2)
            continue;
        Table parent = (*tables)[t];
        for (size_t e = 0; e < parent.firstLeaf.size(); e++) {
            Table child = {parent.level + 1, {}, {}, 0};
            size_t end = parent.firstLeaf[e] + parent.leafCount[e];
            for (size_t i = parent.firstLeaf[e]; i < end; i++) {
                // The previous leaf is looked at only when there is one in
                // this entry (the first leaf of all has none).
                bool first = i == parent.firstLeaf[e];
                bool opens = first;
                if (!first) {
                    const PeResourceKey& key = child.level == 1 ? leaves[i].name : leaves[i].language;
                    const PeResourceKey& previous = child.level == 1 ? leaves[i - 1].name : leaves[i - 1].language;
                    opens = !SameKey(key, previous);
                }
                if (opens) {
                    child.firstLeaf.push_back(i);
                    child.leafCount.push_back(0);
                }
                child.leafCount.back()++;
            }
            tables->push_back(child);
        }
    }
}

} // namespace

int ReadPeResources(const std::vector<uint8_t>& file, const PeImage& image,
                    std::vector<PeResource>* resources, std::string* error)
{
    resources->clear();
    if (image.directoryCount <= PeResourceDirectory || image.directories[PeResourceDirectory].size == 0)
        return Fail(error, "it has no resources");
    const uint32_t rva = image.directories[PeResourceDirectory].rva;
    int index = PeSectionOfRva(image, rva);
    uint32_t base;
    if (index < 0 || !PeRvaToOffset(image, rva, kDirectoryHeaderSize, &base))
        return Fail(error, "its resource directory lies outside the sections' data");
    const PeSection& section = image.sections[index];
    uint32_t tablesSeen = 0;
    const uint32_t inFile = section.virtualSize ? std::min(section.rawSize, section.virtualSize) : section.rawSize;
    TreeReader tree = {file, image, base, section.rawPointer + inFile, resources, &tablesSeen};
    PeResource leaf;
    leaf.type.id = leaf.name.id = leaf.language.id = 0;
    leaf.codePage = leaf.dataRva = 0;
    return ReadDirectory(tree, 0, 0, &leaf, error);
}

std::vector<const PeResource*> FindPeResources(const std::vector<PeResource>& resources, uint32_t type,
                                               uint32_t name)
{
    std::vector<const PeResource*> found;
    for (const PeResource& r : resources)
        if (r.type.name.empty() && r.type.id == type && r.name.name.empty() && r.name.id == name)
            found.push_back(&r);
    return found;
}

void WritePeResources(std::vector<PeResource>* resources, uint32_t sectionRva,
                      const std::vector<uint32_t>& lastNames, std::vector<uint8_t>* content)
{
    std::vector<PeResource>& leaves = *resources;
    std::stable_sort(leaves.begin(), leaves.end(), LeafBefore);
    std::vector<Table> tables;
    PlanTables(leaves, &tables);

    // Sizes and places: tables, data entries, name strings, data.
    uint32_t at = 0;
    for (Table& table : tables) {
        table.offset = at;
        at += kDirectoryHeaderSize + kEntrySize * static_cast<uint32_t>(table.firstLeaf.size());
    }
    const uint32_t dataEntries = at;
    at += kDataEntrySize * static_cast<uint32_t>(leaves.size());
    std::vector<uint32_t> nameOffsets; // one per table entry with a name, in table order
    for (const Table& table : tables)
        for (size_t e = 0; e < table.firstLeaf.size(); e++) {
            const PeResource& leaf = leaves[table.firstLeaf[e]];
            const PeResourceKey& key = table.level == 0 ? leaf.type : table.level == 1 ? leaf.name : leaf.language;
            nameOffsets.push_back(at);
            if (!key.name.empty())
                at += 2 + 2 * static_cast<uint32_t>(key.name.size());
        }

    // Data order: sorted, with the named raw data last.
    std::vector<size_t> dataOrder;
    for (size_t i = 0; i < leaves.size(); i++) {
        const PeResource& leaf = leaves[i];
        bool last = leaf.type.name.empty() && leaf.type.id == kPeResourceRcData && leaf.name.name.empty() &&
                    std::find(lastNames.begin(), lastNames.end(), leaf.name.id) != lastNames.end();
        if (!last)
            dataOrder.push_back(i);
    }
    for (uint32_t name : lastNames)
        for (size_t i = 0; i < leaves.size(); i++)
            if (leaves[i].type.name.empty() && leaves[i].type.id == kPeResourceRcData &&
                leaves[i].name.name.empty() && leaves[i].name.id == name)
                dataOrder.push_back(i);
    std::vector<uint32_t> dataOffsets(leaves.size());
    for (size_t i : dataOrder) {
        at = (at + kDataAlignment - 1) / kDataAlignment * kDataAlignment;
        dataOffsets[i] = at;
        at += static_cast<uint32_t>(leaves[i].data.size());
    }
    // An empty datum still needs an address inside the section: when it
    // would lie at the very end, padding follows it.
    for (size_t i : dataOrder)
        if (leaves[i].data.empty() && dataOffsets[i] == at)
            at += kDataAlignment;

    content->assign(at, 0);
    size_t nameIndex = 0;
    for (const Table& table : tables) {
        uint32_t named = 0, numbered = 0;
        for (size_t e = 0; e < table.firstLeaf.size(); e++) {
            const PeResource& leaf = leaves[table.firstLeaf[e]];
            const PeResourceKey& key = table.level == 0 ? leaf.type : table.level == 1 ? leaf.name : leaf.language;
            (key.name.empty() ? numbered : named)++;
        }
        Put16(content, table.offset + 12, named);
        Put16(content, table.offset + 14, numbered);
        for (size_t e = 0; e < table.firstLeaf.size(); e++) {
            const size_t first = table.firstLeaf[e];
            const PeResource& leaf = leaves[first];
            const PeResourceKey& key = table.level == 0 ? leaf.type : table.level == 1 ? leaf.name : leaf.language;
            const uint32_t entry = table.offset + kDirectoryHeaderSize + kEntrySize * static_cast<uint32_t>(e);
            const uint32_t nameAt = nameOffsets[nameIndex++];
            if (key.name.empty()) {
                PeWrite32(content, entry, key.id);
            } else {
                PeWrite32(content, entry, kHighBit | nameAt);
                Put16(content, nameAt, static_cast<uint32_t>(key.name.size()));
                for (size_t c = 0; c < key.name.size(); c++)
                    Put16(content, nameAt + 2 + 2 * static_cast<uint32_t>(c), key.name[c]);
            }
            if (table.level == 2) {
                PeWrite32(content, entry + 4, dataEntries + kDataEntrySize * static_cast<uint32_t>(first));
                continue;
            }
            // The child table of this entry: the next table of the level
            // below whose first leaf is this entry's.
            for (const Table& child : tables)
                if (child.level == table.level + 1 && child.firstLeaf.front() == first) {
                    PeWrite32(content, entry + 4, kHighBit | child.offset);
                    break;
                }
        }
    }
    for (size_t i = 0; i < leaves.size(); i++) {
        const uint32_t entry = dataEntries + kDataEntrySize * static_cast<uint32_t>(i);
        leaves[i].dataRva = sectionRva + dataOffsets[i];
        PeWrite32(content, entry, leaves[i].dataRva);
        PeWrite32(content, entry + 4, static_cast<uint32_t>(leaves[i].data.size()));
        PeWrite32(content, entry + 8, leaves[i].codePage);
        std::copy(leaves[i].data.begin(), leaves[i].data.end(), content->begin() + dataOffsets[i]);
    }
}
