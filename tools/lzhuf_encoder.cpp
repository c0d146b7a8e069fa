// LZHUF encoder for the image builder.
//
// The stream format is fixed by the installer's decoder: a 4096-byte ring
// whose positions 0..4035 start as spaces and whose writing starts at 4036,
// matches of 3..60 bytes at distances 1..4096, symbols (256 literals, then
// match lengths 3..60) coded with an adaptive Huffman tree that is rebuilt
// when the root frequency reaches 0x8000, and a position code of a
// variable-length upper six bits plus six raw bits.
//
// The encoder sees the data behind a virtual prefix of 4036 spaces, so that
// distances into the pre-filled ring come out naturally and nothing ever
// refers to ring positions 4036..4095 before they are written. A binary-tree
// match finder lists, for every position, the longest match at each of a few
// increasing lengths (each at the nearest distance it found), running ahead
// of the parse only as far as the parse looks. The parse is cost-based and
// runs chunk by chunk: every match length is weighed at the nearest distance
// that reaches it; the symbol costs come from the adaptive tree as it stands
// at the chunk start (the mean of a leaf's depth and log2 of root over leaf
// frequency), the position costs are the exact position code lengths; the
// chosen tokens are then coded with the real adaptive tree. Parsing again
// with the tree as it stands after the chunk, a second pass over the whole
// input, more match cycles, finer chunks or a longer lookahead each changed
// the output by less than 0.1% on real inputs, so none is done.
//
// Clean segments: the payload marker must not appear in a segment, and a
// segment must not end with a proper prefix of it. The encoder first tries
// the spare bits of the last byte (the decoder ignores them); otherwise it
// forbids one parse decision at or before the offending bytes and codes the
// rest again from the chunk that holds that decision.
#include "lzhuf_encoder.h"

#include <algorithm>
#include <cstring>

namespace {

const int kRingSize = 4096;
const int kMaxMatch = 60;
const int kMinMatch = 3;
const int kSymbolCount = 314;
const int kNodeCount = 2 * kSymbolCount - 1;
const int kRoot = kNodeCount - 1;
const unsigned kMaxFreq = 0x8000;
const uint32_t kPrefilled = kRingSize - kMaxMatch; // 4036 spaces in front of the data

const uint32_t kChunk = 2048;     // positions whose parse is committed per round
const uint32_t kLookahead = 512;  // parsed beyond the chunk so its end is not cut blindly
const int kMatchCycles = 128;     // tree nodes visited per position
const int kHashBits = 16;
const unsigned kMaxCleanAttempts = 1000; // forbidden decisions per segment
const uint32_t kUnreachable = 0xFFFFFFFFu;

// Position code of the upper six bits: length in bits, and the code itself
// top-aligned in a byte.
const uint8_t kPositionCodeLength[64] = {
    3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};
const uint8_t kPositionCode[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68,
    0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC,
    0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE,
    0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
    0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

// The adaptive Huffman tree, kept exactly as the decoder keeps it.
struct HuffTree {
    uint16_t freq[kNodeCount + 1];
    int16_t child[kNodeCount];
    int16_t parent[kNodeCount + kSymbolCount];
};

struct BitWriter {
    std::vector<uint8_t> bytes; // finished bytes, header included
    uint8_t pending;            // the byte being filled, from the top bit down
    int pendingBits;
};

// One parse decision. length 1 is a literal; distance is 1..4096.
struct Token {
    uint32_t pos;
    uint16_t length;
    uint16_t distance;
};

// A forbidden decision: the token with this position, length and distance
// may not be chosen again.
typedef Token Ban;

// Encoder state at the start of one chunk, to code again from there.
struct ChunkMark {
    uint32_t pos;
    uint32_t tokenIndex;
    size_t byteCount;
    uint8_t pending;
    int pendingBits;
    HuffTree tree;
};

struct EncoderRun {
    const uint8_t* data;
    uint32_t size;
    // Match finder: the text it searches (the virtual prefix, then the
    // data), its hash heads and tree links, and how much of the text it has
    // taken in.
    std::vector<uint8_t> text;
    std::vector<int32_t> head;
    std::vector<int32_t> son;
    uint32_t inserted;
    // Match lists of the data positions from matchBase on that the finder
    // has reached: matchStart[pos - matchBase] is the first entry of pos in
    // matchList, and its last element ends the list of the last position.
    // Without a marker nothing is coded again, so lists behind the parse
    // are dropped and the lists held stay within about one chunk.
    uint32_t matchBase;
    std::vector<uint32_t> matchStart;
    std::vector<uint32_t> matchList;  // length << 12 | (distance - 1), lengths increasing
    // Repair bookkeeping, kept only with a marker to avoid.
    std::vector<Ban> bans;            // sorted by position, length, distance
    std::vector<Token> tokens;
    std::vector<uint64_t> tokenBit;   // stream bit offset where each token's code starts
    std::vector<ChunkMark> marks;     // without a marker only the first
    HuffTree tree;
    BitWriter writer;
    // Parse scratch, reused from chunk to chunk.
    std::vector<uint32_t> price;
    std::vector<uint16_t> stepLength;
    std::vector<uint16_t> stepDistance;
    std::vector<Token> path;
    // Clean-segment repair; markerLength 0: no marker to avoid.
    const char* marker;
    size_t markerLength;
    unsigned attempts;
    size_t lowestRewind; // lowest chunk mark rewound to, for the variants
    int problem;         // why a clean encoding failed (CleanSegmentProblem)
};

bool BanLess(const Ban& a, const Ban& b)
{
    if (a.pos != b.pos)
        return a.pos < b.pos;
    if (a.length != b.length)
        return a.length < b.length;
    return a.distance < b.distance;
}

void InitHuffTree(HuffTree* t)
{
    for (int s = 0; s < kSymbolCount; s++) {
        t->freq[s] = 1;
        t->child[s] = (int16_t)(s + kNodeCount);
        t->parent[s + kNodeCount] = (int16_t)s;
    }
    for (int i = 0, j = kSymbolCount; j <= kRoot; i += 2, j++) {
        t->freq[j] = (uint16_t)(t->freq[i] + t->freq[i + 1]);
        t->child[j] = (int16_t)i;
        t->parent[i] = t->parent[i + 1] = (int16_t)j;
    }
    t->freq[kNodeCount] = 0xFFFF;
    t->parent[kRoot] = 0;
}

void RebuildHuffTree(HuffTree* t)
{
    int j = 0;
    for (int i = 0; i < kNodeCount; i++) {
        if (t->child[i] >= kNodeCount) {
            t->freq[j] = (uint16_t)((t->freq[i] + 1u) / 2);
            t->child[j] = t->child[i];
            j++;
        }
    }
    for (int i = 0, n = kSymbolCount; n < kNodeCount; i += 2, n++) {
        uint16_t f = (uint16_t)(t->freq[i] + t->freq[i + 1]);
        t->freq[n] = f;
        int k = n - 1;
        while (f < t->freq[k])
            k--;
        k++;
        for (int m = n; m > k; m--) {
            t->freq[m] = t->freq[m - 1];
            t->child[m] = t->child[m - 1];
        }
        t->freq[k] = f;
        t->child[k] = (int16_t)i;
    }
    for (int i = 0; i < kNodeCount; i++) {
        int k = t->child[i];
        t->parent[k] = (int16_t)i;
        if (k < kNodeCount)
            t->parent[k + 1] = (int16_t)i;
    }
}

// The last node from l on whose frequency is below k, given that l's is:
// the end of the run of nodes that share the old frequency k - 1. The
// frequency table is always in increasing order; short runs are scanned,
// long ones galloped over and halved. The sentinel at T is never below k.
int EndOfRun(const uint16_t* freq, int l, unsigned k)
{
    for (int n = 0; n < 3; n++, l++) {
        if (k <= freq[l + 1])
            return l;
    }
    int lo = l, hi = l + 1;
    for (int step = 1; k > freq[hi];) {
        lo = hi;
        step *= 2;
        hi += step;
        if (hi >= kNodeCount) {
            hi = kNodeCount;
            break;
        }
    }
    while (hi - lo > 1) {
        int mid = (lo + hi) / 2;
        if (k > freq[mid])
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

void UpdateHuffTree(HuffTree* t, int symbol)
{
    if (t->freq[kRoot] == kMaxFreq)
        RebuildHuffTree(t);
    int node = t->parent[symbol + kNodeCount];
    do {
        uint16_t k = ++t->freq[node];
        if (k > t->freq[node + 1]) {
            int l = EndOfRun(t->freq, node + 1, k);
            t->freq[node] = t->freq[l];
            t->freq[l] = k;
            int a = t->child[node];
            t->parent[a] = (int16_t)l;
            if (a < kNodeCount)
                t->parent[a + 1] = (int16_t)l;
            int b = t->child[l];
            t->child[l] = (int16_t)a;
            t->parent[b] = (int16_t)node;
            if (b < kNodeCount)
                t->parent[b + 1] = (int16_t)node;
            t->child[node] = (int16_t)b;
            node = l;
        }
        node = t->parent[node];
    } while (node != 0);
}

// Parse costs are in 1/32 bit.
const uint32_t kCostUnit = 32;

// log2(x) in 1/16 bit, rounded down, for x >= 1: the position of the top
// bit, then four fraction bits by repeated squaring of the mantissa.
// Integers only, so that every machine parses alike.
uint32_t Log2Sixteenths(uint32_t x)
{
    uint32_t top = 0;
    while (x >> (top + 1))
        top++;
    uint64_t m = top > 16 ? (uint64_t)x >> (top - 16) : (uint64_t)x << (16 - top); // [1, 2) in 1/65536
    uint32_t result = top << 4;
    for (int bit = 3; bit >= 0; bit--) {
        m = (m * m) >> 16;
        if (m >= (2u << 16)) {
            m >>= 1;
            result |= 1u << bit;
        }
    }
    return result;
}

// Parse cost of every symbol: the mean of the depth of its leaf (the
// length of its code now) and the information content of its frequency,
// log2(root / leaf frequency). Depths are whole bits and move in steps as
// the tree adapts during the chunk; the frequency says where between the
// steps a symbol stands. (Either alone parses a little worse.)
void SymbolCosts(const HuffTree* t, uint32_t cost[kSymbolCount])
{
    const uint32_t rootLog = Log2Sixteenths(t->freq[kRoot]);
    for (int s = 0; s < kSymbolCount; s++) {
        uint32_t depth = 0;
        const int leaf = t->parent[s + kNodeCount];
        int k = leaf;
        do {
            depth++;
            k = t->parent[k];
        } while (k != kRoot);
        cost[s] = depth * (kCostUnit / 2) + rootLog - Log2Sixteenths(t->freq[leaf]);
    }
}

// Appends the low `count` bits of `value` (at most 32), most significant
// first, a byte at a time.
void PutBits(BitWriter* w, uint32_t value, int count)
{
    int room = 8 - w->pendingBits;
    while (count >= room) {
        count -= room;
        w->bytes.push_back((uint8_t)(w->pending | ((value >> count) & ((1u << room) - 1))));
        w->pending = 0;
        w->pendingBits = 0;
        room = 8;
    }
    if (count > 0) {
        w->pending = (uint8_t)(w->pending | (value & ((1u << count) - 1)) << (room - count));
        w->pendingBits += count;
    }
}

uint64_t BitPosition(const BitWriter* w)
{
    return (uint64_t)w->bytes.size() * 8 + (uint64_t)w->pendingBits;
}

// Writes the code of a symbol, root first. The path from the leaf up gives
// the code's bits from its last to its first, so collecting them from the
// bottom of a word up leaves the code in the word as it is written. Codes
// longer than a word (which no tree of this weight has) go bit by bit.
void PutSymbol(HuffTree* t, BitWriter* w, int symbol)
{
    uint64_t code = 0;
    int depth = 0;
    int k = t->parent[symbol + kNodeCount];
    do {
        if (depth == 64)
            break;
        code |= (uint64_t)(k & 1) << depth;
        depth++;
        k = t->parent[k];
    } while (k != kRoot);
    if (k == kRoot) {
        if (depth > 32)
            PutBits(w, (uint32_t)(code >> 32), depth - 32);
        PutBits(w, (uint32_t)code, depth < 32 ? depth : 32);
    } else {
        uint8_t path[kNodeCount];
        depth = 0;
        k = t->parent[symbol + kNodeCount];
        do {
            path[depth++] = (uint8_t)(k & 1);
            k = t->parent[k];
        } while (k != kRoot);
        while (depth > 0)
            PutBits(w, path[--depth], 1);
    }
    UpdateHuffTree(t, symbol);
}

void PutToken(EncoderRun* run, const Token& token)
{
    if (token.length == 1) {
        PutSymbol(&run->tree, &run->writer, run->data[token.pos]);
        return;
    }
    PutSymbol(&run->tree, &run->writer, 253 + token.length);
    unsigned p = token.distance - 1u;
    unsigned upper = p >> 6;
    int length = kPositionCodeLength[upper];
    PutBits(&run->writer, (uint32_t)kPositionCode[upper] >> (8 - length), length);
    PutBits(&run->writer, p & 0x3F, 6);
}

uint32_t PositionCost(unsigned distance)
{
    return (kPositionCodeLength[(distance - 1) >> 6] + 6u) * kCostUnit;
}

// Bytes in little-endian order, so that the first of them is the lowest.
inline uint64_t LoadLittleEndian64(const uint8_t* p)
{
    return (uint64_t)p[0] | (uint64_t)p[1] << 8 | (uint64_t)p[2] << 16 | (uint64_t)p[3] << 24 |
           (uint64_t)p[4] << 32 | (uint64_t)p[5] << 40 | (uint64_t)p[6] << 48 | (uint64_t)p[7] << 56;
}

// How far a and b agree from `len` on, up to `limit`: eight bytes at a
// time, the first difference found from the lowest non-zero byte of the
// two words' XOR.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t len, uint32_t limit)
{
    while (len + 8 <= limit) {
        uint64_t x = LoadLittleEndian64(a + len) ^ LoadLittleEndian64(b + len);
        if (x != 0) {
            if ((x & 0xFFFFFFFFu) == 0) {
                len += 4;
                x >>= 32;
            }
            if ((x & 0xFFFF) == 0) {
                len += 2;
                x >>= 16;
            }
            if ((x & 0xFF) == 0)
                len += 1;
            return len;
        }
        len += 8;
    }
    while (len < limit && a[len] == b[len])
        len++;
    return len;
}

// Lists, for every data position, matches of increasing length, each at the
// nearest distance met on the way down a binary search tree of the window
// (the tree is re-rooted at every position, so nodes get older going down).
// Tree nodes live in slots by position modulo a power of two larger than
// the window; a node further back than 4096 is cut off before it is
// reached, so a slot is reused only when nothing can lead to it.
const uint32_t kWindow = kRingSize; // distances 1..4096
const uint32_t kSlots = 2 * kRingSize;
const int32_t kNone = -1;

// Inserts position `pos` of `text` at the root of the tree that starts at
// `match`, searching it on the way down: nodes met further down are older,
// and each match longer than all before it goes into `found` as
// length << 12 | (distance - 1). Returns how many.
int SearchTree(int32_t* son, const uint8_t* text, uint32_t pos, int32_t match, uint32_t limit,
               uint32_t* found)
{
    const uint8_t* const cur = text + pos;
    int32_t* ptr0 = son + 2 * (size_t)(pos & (kSlots - 1)) + 1;
    int32_t* ptr1 = son + 2 * (size_t)(pos & (kSlots - 1));
    uint32_t len0 = 0, len1 = 0, best = kMinMatch - 1;
    int count = 0;
    for (int cycles = kMatchCycles;; cycles--) {
        const uint32_t delta = pos - (uint32_t)match;
        if (match == kNone || delta > kWindow || cycles == 0) {
            *ptr0 = *ptr1 = kNone;
            return count;
        }
        int32_t* const pair = son + 2 * (size_t)((uint32_t)match & (kSlots - 1));
        const uint8_t* const cand = text + (uint32_t)match;
        uint32_t len = len0 < len1 ? len0 : len1;
        if (cand[len] == cur[len]) {
            len = MatchLength(cand, cur, len + 1, limit);
            if (len > best) {
                best = len;
                found[count++] = len << 12 | (delta - 1);
            }
            if (len == limit) {
                *ptr1 = pair[0];
                *ptr0 = pair[1];
                return count;
            }
        }
        if (cand[len] < cur[len]) {
            *ptr1 = match;
            ptr1 = pair + 1;
            match = *ptr1;
            len1 = len;
        } else {
            *ptr0 = match;
            ptr0 = pair;
            match = *ptr0;
            len0 = len;
        }
    }
}

void StartMatchFinder(EncoderRun* run)
{
    const uint32_t total = kPrefilled + run->size;
    run->text.resize(total);
    memset(run->text.data(), ' ', kPrefilled);
    memcpy(run->text.data() + kPrefilled, run->data, run->size);
    run->head.assign((size_t)1 << kHashBits, kNone);
    run->son.assign(2 * (size_t)kSlots, kNone);
    run->inserted = 0;
    run->matchBase = 0;
    run->matchStart.assign(1, 0);
    run->matchList.clear();
    // With a marker every list is kept: room for all of them (about two
    // entries a position) at once rather than by doubling.
    if (run->markerLength > 0) {
        run->matchStart.reserve((size_t)run->size + 1);
        run->matchList.reserve(2 * (size_t)run->size);
    }
}

// Takes the text in up to data position `end` (exclusive), listing the
// matches of every data position on the way; the prefix goes in unlisted.
void FindMatchesUpTo(EncoderRun* run, uint32_t end)
{
    const uint32_t total = kPrefilled + run->size;
    const uint32_t stop = kPrefilled + end;
    const uint8_t* const text = run->text.data();
    int32_t* const head = run->head.data();
    int32_t* const son = run->son.data();
    uint32_t found[kMaxMatch];
    for (uint32_t pos = run->inserted; pos < stop; pos++) {
        const uint32_t limit = std::min<uint32_t>(kMaxMatch, total - pos);
        int count = 0;
        if (limit >= (uint32_t)kMinMatch) {
            const uint8_t* const cur = text + pos;
            uint32_t h = ((uint32_t)cur[0] | (uint32_t)cur[1] << 8 | (uint32_t)cur[2] << 16) * 2654435761u;
            h >>= 32 - kHashBits;
            const int32_t match = head[h];
            head[h] = (int32_t)pos;
            count = SearchTree(son, text, pos, match, limit, found);
        }
        if (pos >= kPrefilled) {
            run->matchList.insert(run->matchList.end(), found, found + count);
            run->matchStart.push_back((uint32_t)run->matchList.size());
        }
    }
    run->inserted = std::max(run->inserted, stop);
}

// Forgets the match lists of the data positions before `pos`.
void DropMatchesBefore(EncoderRun* run, uint32_t pos)
{
    if (pos <= run->matchBase)
        return;
    const size_t k = pos - run->matchBase;
    const uint32_t first = run->matchStart[k];
    run->matchStart.erase(run->matchStart.begin(), run->matchStart.begin() + k);
    for (size_t i = 0; i < run->matchStart.size(); i++)
        run->matchStart[i] -= first;
    run->matchList.erase(run->matchList.begin(), run->matchList.begin() + first);
    run->matchBase = pos;
}

// The match list of data position `pos`: [*first, *last) in matchList.
inline void MatchesAt(const EncoderRun* run, uint32_t pos, uint32_t* first, uint32_t* last)
{
    *first = run->matchStart[pos - run->matchBase];
    *last = run->matchStart[pos - run->matchBase + 1];
}

bool IsBanned(const EncoderRun* run, const Token& token)
{
    return std::binary_search(run->bans.begin(), run->bans.end(), token, BanLess);
}

// Cheapest parse of [start, end) under the current symbol costs; keeps the
// tokens that start before start + kChunk (all of them at the end of data).
void ParseChunk(EncoderRun* run, uint32_t start, std::vector<Token>* chosen)
{
    const uint32_t end = (uint32_t)std::min<uint64_t>(run->size, (uint64_t)start + kChunk + kLookahead);
    const uint32_t width = end - start;
    FindMatchesUpTo(run, end);

    uint32_t symbolCost[kSymbolCount];
    SymbolCosts(&run->tree, symbolCost);

    run->price.assign(width + 1, kUnreachable);
    run->stepLength.resize(width + 1);
    run->stepDistance.resize(width + 1);
    run->price[0] = 0;

    std::vector<Ban>::const_iterator ban =
        std::lower_bound(run->bans.begin(), run->bans.end(), Token{start, 0, 0}, BanLess);

    for (uint32_t i = 0; i < width; i++) {
        const uint32_t base = run->price[i];
        if (base == kUnreachable)
            continue;
        const uint32_t pos = start + i;
        while (ban != run->bans.end() && ban->pos < pos)
            ++ban;
        const bool bansHere = ban != run->bans.end() && ban->pos == pos;
        uint32_t length = kMinMatch;
        bool matched = false;
        uint32_t* const price = &run->price[i];
        uint32_t first, last;
        MatchesAt(run, pos, &first, &last);
        for (uint32_t m = first; m < last; m++) {
            const uint32_t top = std::min(run->matchList[m] >> 12, end - pos);
            const uint32_t distance = (run->matchList[m] & 0xFFF) + 1;
            const uint32_t withPosition = base + PositionCost(distance);
            if (!bansHere) {
                for (; length <= top; length++) {
                    uint32_t c = withPosition + symbolCost[253 + length];
                    if (c <= price[length]) {
                        price[length] = c;
                        run->stepLength[i + length] = (uint16_t)length;
                        run->stepDistance[i + length] = (uint16_t)distance;
                    }
                }
                continue;
            }
            for (; length <= top; length++) {
                if (IsBanned(run, Token{pos, (uint16_t)length, (uint16_t)distance}))
                    continue;
                matched = true;
                uint32_t c = withPosition + symbolCost[253 + length];
                if (c <= price[length]) {
                    price[length] = c;
                    run->stepLength[i + length] = (uint16_t)length;
                    run->stepDistance[i + length] = (uint16_t)distance;
                }
            }
        }

        // A forbidden literal is still taken where no match can stand in,
        // so every reachable position leads on and the end stays reachable.
        if (!bansHere || !matched || !IsBanned(run, Token{pos, 1, 0})) {
            uint32_t c = base + symbolCost[run->data[pos]];
            if (c < run->price[i + 1]) {
                run->price[i + 1] = c;
                run->stepLength[i + 1] = 1;
                run->stepDistance[i + 1] = 0;
            }
        }
    }

    run->path.clear();
    for (uint32_t j = width; j > 0;) {
        Token t = {start + j - run->stepLength[j], run->stepLength[j], run->stepDistance[j]};
        run->path.push_back(t);
        j -= t.length;
    }
    chosen->clear();
    for (size_t k = run->path.size(); k > 0; k--) {
        const Token& t = run->path[k - 1];
        if (end < run->size && t.pos >= start + kChunk)
            break;
        chosen->push_back(t);
    }
}

ChunkMark MarkHere(const EncoderRun* run, uint32_t pos)
{
    ChunkMark m;
    m.pos = pos;
    m.tokenIndex = (uint32_t)run->tokens.size();
    m.byteCount = run->writer.bytes.size();
    m.pending = run->writer.pending;
    m.pendingBits = run->writer.pendingBits;
    m.tree = run->tree;
    return m;
}

// Puts the encoder back to the start of the chunk of marks[index] and drops
// everything coded after it.
void RewindToMark(EncoderRun* run, size_t index)
{
    run->marks.resize(index + 1);
    run->lowestRewind = std::min(run->lowestRewind, index);
    const ChunkMark& m = run->marks[index];
    run->tree = m.tree;
    run->writer.bytes.resize(m.byteCount);
    run->writer.pending = m.pending;
    run->writer.pendingBits = m.pendingBits;
    run->tokens.resize(m.tokenIndex);
    run->tokenBit.resize(m.tokenIndex);
}

// Index of the last byte of the first marker occurrence in s[from, size),
// or -1.
long FindMarker(const std::vector<uint8_t>& s, size_t from, const char* marker, size_t markerLength)
{
    const uint8_t first = (uint8_t)marker[0];
    for (size_t o = from; o + markerLength <= s.size(); o++) {
        if (s[o] == first && memcmp(&s[o], marker, markerLength) == 0)
            return (long)(o + markerLength - 1);
    }
    return -1;
}

bool EndsWithMarkerPrefix(const std::vector<uint8_t>& s, const char* marker, size_t markerLength)
{
    for (size_t k = std::min(markerLength - 1, s.size()); k > 0; k--) {
        if (memcmp(&s[s.size() - k], marker, k) == 0)
            return true;
    }
    return false;
}

// A decision that can be forbidden: a match (a literal can always replace
// it) or a literal where a match is available, and not forbidden already.
bool CanBan(const EncoderRun* run, const Token& t)
{
    if (IsBanned(run, t))
        return false;
    if (t.length > 1)
        return true;
    uint32_t first, last;
    MatchesAt(run, t.pos, &first, &last);
    return first != last;
}

// Forbids token `index` (or the nearest earlier one that can be forbidden)
// and rewinds to the start of its chunk. 0 when nothing can be changed or
// the attempts are used up.
int BanToken(EncoderRun* run, long index)
{
    while (index >= 0 && !CanBan(run, run->tokens[(size_t)index]))
        index--;
    if (index < 0 || ++run->attempts > kMaxCleanAttempts)
        return 0;
    const Token t = run->tokens[(size_t)index];
    run->bans.insert(std::upper_bound(run->bans.begin(), run->bans.end(), t, BanLess), t);
    size_t mark = 0;
    while (mark + 1 < run->marks.size() && run->marks[mark + 1].tokenIndex <= (uint32_t)index)
        mark++;
    RewindToMark(run, mark);
    return 1;
}

// Forbids the last token whose code starts at or before stream bit `bit`.
int BanAtBit(EncoderRun* run, uint64_t bit)
{
    long index = (long)(std::upper_bound(run->tokenBit.begin(), run->tokenBit.end(), bit) - run->tokenBit.begin()) - 1;
    return BanToken(run, index);
}

// Codes from the last chunk mark to the end of the data. With a marker set,
// the bytes that each chunk finishes are searched for it at once; an
// occurrence is repaired by forbidding the decision that made its last byte
// and coding again from that decision's chunk, so a repair costs about one
// chunk rather than the rest of the stream. 0 when a repair is impossible.
int EncodeRest(EncoderRun* run)
{
    std::vector<Token> chosen;
    uint32_t pos = run->marks.back().pos;
    bool atMark = true;
    while (pos < run->size) {
        if (run->markerLength == 0) {
            DropMatchesBefore(run, pos);
            ParseChunk(run, pos, &chosen);
            for (size_t k = 0; k < chosen.size(); k++)
                PutToken(run, chosen[k]);
            pos = chosen.back().pos + chosen.back().length;
            continue;
        }
        if (!atMark)
            run->marks.push_back(MarkHere(run, pos));
        atMark = false;
        const size_t chunkBytes = run->writer.bytes.size();
        ParseChunk(run, pos, &chosen);
        for (size_t k = 0; k < chosen.size(); k++) {
            run->tokenBit.push_back(BitPosition(&run->writer));
            run->tokens.push_back(chosen[k]);
            PutToken(run, chosen[k]);
        }
        pos = chosen.back().pos + chosen.back().length;
        const size_t from = chunkBytes >= run->markerLength ? chunkBytes - (run->markerLength - 1) : 0;
        const long bad = FindMarker(run->writer.bytes, from, run->marker, run->markerLength);
        if (bad < 0)
            continue;
        // An occurrence that begins in the length header can only be
        // avoided through the first code bytes; when that fails, no clean
        // encoding exists for this length.
        const bool fromHeader = bad - (long)run->markerLength + 1 < 4;
        if (bad < 4 || !BanAtBit(run, (uint64_t)bad * 8 + 7)) {
            run->problem = fromHeader ? CleanSegmentHeaderStartsMarker : CleanSegmentNoRepair;
            return 0;
        }
        pos = run->marks.back().pos;
        atMark = true;
    }
    return 1;
}

void StartRun(EncoderRun* run, const uint8_t* data, uint32_t size, const char* marker, size_t markerLength)
{
    run->data = data;
    run->size = size;
    run->marker = marker;
    run->markerLength = markerLength;
    run->attempts = 0;
    run->lowestRewind = 0;
    run->problem = CleanSegmentOk;
    StartMatchFinder(run);
    InitHuffTree(&run->tree);
    for (int b = 0; b < 4; b++)
        run->writer.bytes.push_back((uint8_t)(size >> (8 * b)));
    run->writer.pending = 0;
    run->writer.pendingBits = 0;
    run->marks.push_back(MarkHere(run, 0));
}

// The finished stream: the coded bytes and the last partial byte, whose
// spare low bits (never read by the decoder) are `pad`.
void FinishStream(const EncoderRun* run, unsigned pad, std::vector<uint8_t>* out)
{
    *out = run->writer.bytes;
    if (run->writer.pendingBits > 0)
        out->push_back((uint8_t)(run->writer.pending | (pad & ((1u << (8 - run->writer.pendingBits)) - 1))));
}

// Whether a finished stream ends clean: no marker through its last byte and
// no marker prefix at its very end (what comes before was checked as it
// was coded).
bool EndsClean(const EncoderRun* run, const std::vector<uint8_t>& s)
{
    const size_t from = s.size() >= run->markerLength ? s.size() - run->markerLength : 0;
    return FindMarker(s, from, run->marker, run->markerLength) < 0 &&
           !EndsWithMarkerPrefix(s, run->marker, run->markerLength);
}

// Where the marker through the last byte, or the marker prefix at the very
// end, of an unclean stream begins.
size_t EndTroubleStart(const EncoderRun* run, const std::vector<uint8_t>& s)
{
    const size_t from = s.size() >= run->markerLength ? s.size() - run->markerLength : 0;
    const long bad = FindMarker(s, from, run->marker, run->markerLength);
    if (bad >= 0)
        return (size_t)bad + 1 - run->markerLength;
    for (size_t k = std::min(run->markerLength - 1, s.size()); k > 0; k--) {
        if (memcmp(&s[s.size() - k], run->marker, k) == 0)
            return s.size() - k;
    }
    return s.size();
}

// Number of values the spare bits of the last byte can take (1: none).
unsigned PadCount(const EncoderRun* run)
{
    return run->writer.pendingBits > 0 ? 1u << (8 - run->writer.pendingBits) : 1u;
}

// Codes the rest and makes the end clean too. The spare bits of the last
// byte are tried first; only then is a decision forbidden.
int FinishClean(EncoderRun* run, std::vector<uint8_t>* out)
{
    for (;;) {
        if (!EncodeRest(run))
            return 0;
        for (unsigned pad = 0; pad < PadCount(run); pad++) {
            FinishStream(run, pad, out);
            if (EndsClean(run, *out))
                return 1;
        }
        if (!BanAtBit(run, (uint64_t)out->size() * 8 - 1)) {
            run->problem = EndTroubleStart(run, *out) < 4 ? CleanSegmentHeaderStartsMarker
                                                          : CleanSegmentNoRepair;
            return 0;
        }
    }
}

uint64_t StreamHash(const std::vector<uint8_t>& s)
{
    uint64_t h = 1469598103934665603ull;
    for (size_t i = 0; i < s.size(); i++)
        h = (h ^ s[i]) * 1099511628211ull;
    return h ^ s.size();
}

// Variants. The first ones differ from variant 0 only in the spare bits of
// the last byte (same code, same size): every other value of them that
// leaves the end clean, in increasing order. After those, candidate k
// forbids, in the clean default parse, the k-th decision from the end that
// can be forbidden, and codes again (cleanly) from its chunk, so everything
// before that chunk stays as in variant 0. Different candidates can end in
// the same stream; variant v is the v-th candidate whose stream differs
// from variant 0 and from every earlier one. `stream` holds the clean
// default stream on entry.
int MakeVariant(EncoderRun* run, unsigned variant, std::vector<uint8_t>* stream)
{
    std::vector<uint64_t> seen(1, StreamHash(*stream));
    std::vector<uint8_t> padded;
    for (unsigned pad = 0; pad < PadCount(run); pad++) {
        FinishStream(run, pad, &padded);
        const uint64_t h = StreamHash(padded);
        if (!EndsClean(run, padded) || std::find(seen.begin(), seen.end(), h) != seen.end())
            continue;
        seen.push_back(h);
        if (seen.size() == (size_t)variant + 1) {
            stream->swap(padded);
            return 1;
        }
    }

    const std::vector<Token> baseTokens = run->tokens;
    const std::vector<Ban> baseBans = run->bans;
    const unsigned baseAttempts = run->attempts;
    size_t intact = run->marks.size() - 1; // marks[0..intact] belong to the default run
    long index = (long)baseTokens.size();
    const unsigned maxCandidates = 4 * variant + 64;
    for (unsigned candidate = 0; candidate < maxCandidates; candidate++) {
        // The next earlier decision that can be forbidden (judged with the
        // default run's bans, on the default tokens).
        run->bans = baseBans;
        do {
            index--;
        } while (index >= 0 && !CanBan(run, baseTokens[(size_t)index]));
        if (index < 0)
            return 0;
        // Rewind to that decision's chunk, or further back if an earlier
        // candidate's repairs changed chunks before it.
        size_t mark = 0;
        while (mark + 1 <= intact && run->marks[mark + 1].tokenIndex <= (uint32_t)index)
            mark++;
        RewindToMark(run, mark);
        run->lowestRewind = mark;
        run->attempts = baseAttempts;
        const Token t = baseTokens[(size_t)index];
        run->bans.insert(std::upper_bound(run->bans.begin(), run->bans.end(), t, BanLess), t);
        const int clean = FinishClean(run, stream);
        intact = std::min(intact, run->lowestRewind);
        if (!clean)
            continue;
        const uint64_t h = StreamHash(*stream);
        if (std::find(seen.begin(), seen.end(), h) != seen.end())
            continue;
        seen.push_back(h);
        if (seen.size() == (size_t)variant + 1)
            return 1;
    }
    return 0;
}

bool ValidMarker(const char* marker, size_t* length)
{
    if (!marker)
        return false;
    size_t n = strlen(marker);
    if (n < 1 || n > 4)
        return false;
    for (size_t i = 0; i < n; i++)
        for (size_t j = i + 1; j < n; j++)
            if (marker[i] == marker[j])
                return false;
    *length = n;
    return true;
}

} // namespace

int EncodeLzhuf(const uint8_t* data, uint32_t size, std::vector<uint8_t>* out)
{
    if (!out || size == 0 || !data)
        return 0;
    EncoderRun run;
    StartRun(&run, data, size, nullptr, 0);
    EncodeRest(&run);
    out->swap(run.writer.bytes);
    if (run.writer.pendingBits > 0)
        out->push_back(run.writer.pending);
    return 1;
}

int EncodeCleanSegment(const uint8_t* data, uint32_t size, const char* marker, unsigned variant,
                       std::vector<uint8_t>* out, int* problem)
{
    int unused;
    if (!problem)
        problem = &unused;
    size_t markerLength = 0;
    if (!out || size == 0 || !data || !ValidMarker(marker, &markerLength)) {
        *problem = CleanSegmentBadArguments;
        return 0;
    }
    // The length header is fixed by the size: when it holds the marker, no
    // encoding of the data can help.
    const std::vector<uint8_t> header = {(uint8_t)size, (uint8_t)(size >> 8), (uint8_t)(size >> 16),
                                         (uint8_t)(size >> 24)};
    if (FindMarker(header, 0, marker, markerLength) >= 0) {
        *problem = CleanSegmentHeaderHoldsMarker;
        return 0;
    }
    EncoderRun run;
    StartRun(&run, data, size, marker, markerLength);
    std::vector<uint8_t> stream;
    if (!FinishClean(&run, &stream)) {
        *problem = run.problem;
        return 0;
    }
    if (variant > 0 && !MakeVariant(&run, variant, &stream)) {
        *problem = CleanSegmentNoSuchVariant;
        return 0;
    }
    *problem = CleanSegmentOk;
    *out = stream;
    return 1;
}

const char* CleanSegmentProblemText(int problem)
{
    switch (problem) {
    case CleanSegmentOk:
        return "no problem";
    case CleanSegmentBadArguments:
        return "no data, no output, or a marker that is not 1 to 4 different characters";
    case CleanSegmentHeaderHoldsMarker:
        return "no clean encoding exists: the 4-byte length header, which the size fixes, holds the "
               "segment marker";
    case CleanSegmentHeaderStartsMarker:
        return "no clean encoding exists: the 4-byte length header, which the size fixes, ends with "
               "the start of the segment marker and no encoding of the first code bytes avoids the rest";
    case CleanSegmentNoRepair:
        return "no encoding free of the segment marker was found";
    case CleanSegmentNoSuchVariant:
        return "no further encoding free of the segment marker exists";
    }
    return "unknown problem";
}
