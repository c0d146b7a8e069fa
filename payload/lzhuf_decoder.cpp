// LZHUF decoder: LZSS over a 4096-byte ring, symbols coded with an adaptive
// Huffman tree (314 symbols: 256 literals, then match lengths 3..60), match
// positions coded as an upper 6 bits (variable-length code) plus 6 raw bits.
//
// All working state lives in one process-wide record; decoding allocates
// nothing. Input is read in blocks into the record's own buffer and taken
// into a word-wide bit buffer a word at a time; output is collected in the
// ring itself, which is handed to the output stream whenever the write
// position comes round to its end (and once after the first symbol, so
// that an output that cannot be written stops the decoding at once).
//
// A code's first seven bits are looked up at once in a walk table kept up
// to date with the tree; the table also names the nodes passed on the way,
// and the walk below it records the nodes it passes, so that the count of
// a symbol goes up the path just walked instead of climbing from parent to
// parent. Only when a node must change places (its new frequency passes
// the next node's) does the count climb by parents from the node's new
// place. The record's invariants are written down next to it.
#include "lzhuf_decoder.h"

#include <cstdint>
#include <cstring>

namespace {

const int kRingSize = 4096;                            // N
const int kMaxMatch = 60;                              // F
const int kThreshold = 2;                              // shortest match is 3
const int kSymbolCount = 256 - kThreshold + kMaxMatch; // N_CHAR = 314
const int kNodeCount = 2 * kSymbolCount - 1;           // T = 627
const int kRoot = kNodeCount - 1;                      // R = 626
const unsigned kMaxFreq = 0x8000;                      // root frequency that forces a rebuild
const int kPrefilled = kRingSize - kMaxMatch;          // ring positions 0..4035 start as spaces
const int kInputBlock = 4096;                          // bytes per read of the input
const int kRingSpill = 96;                             // room behind the ring for a match and 16 bytes

// The bit buffer is a machine word: 32 bits on i686, 64 on x86_64. A build
// may ask for the 32-bit word on a 64-bit machine (VELK_DECODER_WORD32), so
// that the reading of the 32-bit product is tested wherever tests run.
#if defined(VELK_DECODER_WORD32) || UINTPTR_MAX <= 0xFFFFFFFFu
#define VELK_WORD_BITS 32
typedef uint32_t BitWord;
#else
#define VELK_WORD_BITS 64
typedef uint64_t BitWord;
#endif
const int kWordBits = (int)sizeof(BitWord) * 8;
const int kWordBytes = (int)sizeof(BitWord);
// The longest code: a leaf at depth d has a root weight of at least the
// Fibonacci number F(d + 2) (every weight is at least 1, and every inner
// node weighs more than either child), and the root weighs at most 0x8000
// < F(24) when a symbol is decoded, so no code is longer than 21 bits.
const int kLongestCode = 21;
// The walk table covers the top levels of the tree: the first kTableBits
// bits of a code are looked up at once. A deeper table saves steps of the
// walk but must be filled again more often, whenever a swap moves an inner
// node above its last level; seven levels cost least on real data.
const int kTableBits = 7;
const int kTableSize = 1 << kTableBits;
// Steps of the walk below the table that are always taken: a step from a
// leaf stays on it, so that codes of up to kTableBits + kFixedSteps bits
// are walked without a branch on their length.
const int kFixedSteps = 1;
// Room for the nodes passed below the fixed steps.
const int kDeepPath = 16;
static_assert(kLongestCode - kTableBits - kFixedSteps < kDeepPath, "the deepest walk fits its path");
static_assert((kDeepPath & (kDeepPath - 1)) == 0, "the path's index is masked");
// Bits the buffer holds at least when a symbol's walk starts: more than the
// longest code, so that the walk itself need not test the bit count.
const int kWalkBits = kWordBits > 32 ? 32 : kWordBits - 8;
static_assert(kWalkBits > kLongestCode, "a refill holds any code");

// Position decoding: indexed by the first eight bits of a position code.
// Upper six bits of the position.
const uint8_t kPositionUpper[256] = {
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
    1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1,
    2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2, 2,
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
    4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5,
    6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 8, 8, 8, 8, 8, 8, 9, 9, 9, 9, 9, 9, 9, 9,
    10, 10, 10, 10, 10, 10, 10, 10, 11, 11, 11, 11, 11, 11, 11, 11,
    12, 12, 12, 12, 13, 13, 13, 13, 14, 14, 14, 14, 15, 15, 15, 15,
    16, 16, 16, 16, 17, 17, 17, 17, 18, 18, 18, 18, 19, 19, 19, 19,
    20, 20, 20, 20, 21, 21, 21, 21, 22, 22, 22, 22, 23, 23, 23, 23,
    24, 24, 25, 25, 26, 26, 27, 27, 28, 28, 29, 29, 30, 30, 31, 31,
    32, 32, 33, 33, 34, 34, 35, 35, 36, 36, 37, 37, 38, 38, 39, 39,
    40, 40, 41, 41, 42, 42, 43, 43, 44, 44, 45, 45, 46, 46, 47, 47,
    48, 49, 50, 51, 52, 53, 54, 55, 56, 57, 58, 59, 60, 61, 62, 63,
};

// Length in bits of the code for the upper six bits.
const uint8_t kPositionCodeLength[256] = {
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
    3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3,
    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5,
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7,
    8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
};

// A node of the tree table: its frequency and its parent. Frequencies never
// exceed 0x8000 (the root's, which is their sum, is rebuilt at that value),
// so whole words hold them with the same arithmetic and comparisons as
// 16-bit counters.
struct TreeNode {
    uint32_t freq;
    uint32_t parent;
};

// Entries of the node table past the tree's nodes.
const int kLeafBase = kNodeCount;                // T + 2s: the leaf of symbol s
const int kDummy = kLeafBase + 2 * kSymbolCount; // counted for levels that a code does not have
const int kNodeEntries = kDummy + 2;
// The run search reads this many entries past a node at once.
const int kRunWindow = 8;

// The nodes on the way from the root to a node at depth d above the
// table's last level, by depth (entry 0, the root's, is not used); kDummy
// below.
typedef uint16_t WalkRow[kTableBits + 1];

// The one decoding in progress.
//
// Invariants of the tree and its tables, between symbols:
//  - node[0..T-1] are the tree's nodes, the root at R. Their frequencies
//    never decrease from one index to the next (the sibling property), and
//    an inner node j weighs the sum of its children child[j] and
//    child[j] + 1, which lie below j. Node 0 thus always holds a leaf, and
//    parent 0 marks the root's.
//  - child[j] below T is an inner node's first child (a value below T) or
//    a leaf, T + 2s for symbol s. The leaf's entry node[T + 2s] has for
//    parent the node that holds it; node[T + 2s + 1] is spare, so that an
//    exchange may set the parents of "both children" of any node. Leaf
//    entries map to their own leaf, child[T + 2s] = child[T + 2s + 1] =
//    T + 2s, so that a step of the walk from a leaf stays on it.
//  - The leaves' entries, from T on, have a frequency above any node's
//    (0xFFFF), which ends every search for a larger frequency, also one
//    that reads kRunWindow entries at once. The dummy node[kDummy] is in no
//    tree and no search reaches it: it is counted for the levels that a
//    code does not have, and the entry behind it (0xFFFFFFFF) keeps it from
//    ever moving.
//  - The root weighs at most 0x8000 when a symbol is decoded, so no code
//    has more than kLongestCode bits.
//  - walk[v], for each value v of kTableBits bits: the node that the walk
//    from the root reaches with the bits of v, or the node of the leaf that
//    it reaches sooner, and the bits that takes (node | bits << 12).
//    above[v][d] is the node at depth d on that walk, for d from 1 to its
//    bits, and kDummy below them.
//  - depth[n] is the depth of node n when it lies above the table's last
//    level (a depth below kTableBits), kTableBits otherwise; prefix[n] is
//    the bits that lead to such a node. An exchange changes the table only
//    below such a node, and only when an inner node comes or goes.
struct LzhufDecoder {
    TreeNode node[kNodeEntries];
    int32_t child[kDummy];
    uint16_t walk[kTableSize];
    WalkRow above[kTableSize];
    uint8_t depth[kNodeCount];
    uint8_t prefix[kNodeCount];
    // Room for a rebuild: the leaves with their new frequencies, and the
    // sums of pairs of entries.
    uint32_t leafFreq[kSymbolCount];
    int32_t leafChild[kSymbolCount];
    uint32_t sumFreq[kSymbolCount];
    // The window, with room behind it for a symbol that runs past its end:
    // those bytes belong at its start and are moved there when the ring is
    // written out. [flushFrom, r) is not yet written out.
    uint8_t ring[kRingSize + kRingSpill];
    uint8_t input[kInputBlock];
    const uint8_t* inputPos;    // next byte of the input block not yet in the bit buffer
    const uint8_t* inputEnd;
    uint64_t zeroBytes;         // zero bytes put in the bit buffer after the end of input
    FILE* in;
    FILE* out;
    int inputEnded;             // end of input or a read error seen
    uint64_t inputBytes;        // bytes read after the header
};

LzhufDecoder g_decoder;
const DecodeProgress* g_progress = nullptr;

// Reads the next block of input into the input buffer; 0 once the input
// has ended or failed (it is not read again after that).
size_t ReadInputBlock()
{
    if (g_decoder.inputEnded)
        return 0;
    size_t got = fread(g_decoder.input, 1, kInputBlock, g_decoder.in);
    if (got < (size_t)kInputBlock && (feof(g_decoder.in) || ferror(g_decoder.in)))
        g_decoder.inputEnded = 1;
    g_decoder.inputBytes += got;
    return got;
}

// The bit buffer. The `count` valid bits sit at the top of `bits`; the bits
// below them are either zero or the input's next bits, put there early by
// a word load, so taking in a byte is always an OR. Where the input stands
// is kept in the decoder record, as it is needed only on a refill.
struct BitReader {
    BitWord bits;
    int count;
};

inline BitWord LoadBigEndian(const uint8_t* p)
{
#if VELK_WORD_BITS == 64
    return (BitWord)p[0] << 56 | (BitWord)p[1] << 48 | (BitWord)p[2] << 40 | (BitWord)p[3] << 32 |
           (BitWord)p[4] << 24 | (BitWord)p[5] << 16 | (BitWord)p[6] << 8 | (BitWord)p[7];
#else
    return (BitWord)p[0] << 24 | (BitWord)p[1] << 16 | (BitWord)p[2] << 8 | (BitWord)p[3];
#endif
}

// Byte by byte, across the end of an input block and past the end of the
// input, up to more than a word less eight bits: end of input and read
// errors read as zero bytes, which are counted, since a checked decoding
// must not use them. (Taken and given by value, so that the caller's
// buffer can stay in registers.)
BitReader RefillBytes(BitReader br)
{
    while (br.count <= kWordBits - 8) {
        if (g_decoder.inputPos == g_decoder.inputEnd) {
            size_t got = ReadInputBlock();
            if (got == 0) {
                g_decoder.zeroBytes++;
                br.count += 8;
                continue;
            }
            g_decoder.inputPos = g_decoder.input;
            g_decoder.inputEnd = g_decoder.input + got;
        }
        br.bits |= (BitWord)*g_decoder.inputPos++ << (kWordBits - 8 - br.count);
        br.count += 8;
    }
    return br;
}

// When the buffer holds fewer than `least` bits, tops it up to more than a
// word less eight bits. Within an input block a whole word is loaded and as
// many whole bytes counted in as fit. It costs no branch on the count: the
// word is put in the buffer whatever the count, which changes nothing when
// it is not low (the bits below the count are zero or these same input
// bits), and only the count and the input position move by it. (Where the
// buffer is topped up decides how far the input has been read when the
// decoding ends.) The count is below the word's width here: a byte-wise
// refill may fill the whole word, but a code of at least one bit follows.
inline void RefillBelow(BitReader* br, int least)
{
    const uint8_t* pos = g_decoder.inputPos;
    if (g_decoder.inputEnd - pos >= kWordBytes) {
        br->bits |= LoadBigEndian(pos) >> br->count;
        const int count = br->count | ((kWordBits - 8) & -(br->count < least));
        g_decoder.inputPos = pos + ((count - br->count) >> 3);
        br->count = count;
    } else if (br->count < least) {
        *br = RefillBytes(*br);
    }
}

// Tops the bit buffer up as RefillBelow does, unconditionally.
inline void Refill(BitReader* br)
{
    const uint8_t* pos = g_decoder.inputPos;
    if (g_decoder.inputEnd - pos >= kWordBytes) {
        br->bits |= LoadBigEndian(pos) >> br->count;
        g_decoder.inputPos = pos + ((kWordBits - 1 - br->count) >> 3);
        br->count |= kWordBits - 8;
    } else {
        *br = RefillBytes(*br);
    }
}

// Takes the next `n` bits (1..8); the buffer must hold them.
inline unsigned TakeBits(BitReader* br, int n)
{
    unsigned v = (unsigned)(br->bits >> (kWordBits - n));
    br->bits <<= n;
    br->count -= n;
    return v;
}

// Every entry of the walk table that begins with the `d` bits `bits` ends
// at node m, which is row[d]: a leaf above the table's last level, or a
// node on it.
void SetWalkEntries(int m, int d, unsigned bits, WalkRow row)
{
    for (int j = d + 1; j <= kTableBits; j++)
        row[j] = kDummy;
    const int spare = kTableBits - d;
    const uint16_t entry = (uint16_t)(m | d << 12);
    for (unsigned e = bits << spare, last = (bits + 1) << spare; e < last; e++) {
        g_decoder.walk[e] = entry;
        memcpy(g_decoder.above[e], row, sizeof(WalkRow));
    }
}

// Fills the walk table below node n, which lies at depth d < kTableBits
// and is reached by the bits `prefix` through the nodes of `row`, and
// records the depths of the nodes on the way.
void FillWalk(int n, int d, unsigned prefix, WalkRow row)
{
    g_decoder.depth[n] = (uint8_t)d;
    g_decoder.prefix[n] = (uint8_t)prefix;
    const int pair = g_decoder.child[n];
    for (int b = 0; b < 2; b++) {
        const int m = pair + b;
        const unsigned bits = prefix << 1 | (unsigned)b;
        row[d + 1] = (uint16_t)m;
        if (d + 1 < kTableBits && g_decoder.child[m] < kNodeCount) {
            FillWalk(m, d + 1, bits, row);
            continue;
        }
        if (d + 1 < kTableBits) {
            g_decoder.depth[m] = (uint8_t)(d + 1);
            g_decoder.prefix[m] = (uint8_t)bits;
        }
        SetWalkEntries(m, d + 1, bits, row);
    }
}

// Marks node n (above the last level) and the nodes below it that are
// above it too as not above it, before the subtree moves.
void ClearDepths(int n)
{
    g_decoder.depth[n] = kTableBits;
    const int pair = g_decoder.child[n];
    if (pair >= kNodeCount)
        return;
    for (int b = 0; b < 2; b++)
        if (g_decoder.depth[pair + b] < kTableBits)
            ClearDepths(pair + b);
}

// Fills the table below node n at depth d again: through the node itself
// when it is inner, as its leaf's entries when it is a leaf. The way to it
// is that of any entry below it.
void FillWalkAt(int n, int d)
{
    const unsigned prefix = g_decoder.prefix[n];
    WalkRow row;
    memcpy(row, g_decoder.above[prefix << (kTableBits - d)], sizeof row);
    if (g_decoder.child[n] < kNodeCount) {
        FillWalk(n, d, prefix, row);
        return;
    }
    g_decoder.depth[n] = (uint8_t)d;
    SetWalkEntries(n, d, prefix, row);
}

// The whole walk table afresh, after the tree was built.
void BuildWalk()
{
    memset(g_decoder.depth, kTableBits, sizeof g_decoder.depth);
    WalkRow row = {0};
    FillWalk(kRoot, 0, 0, row);
}

// Every symbol starts with frequency 1; inner nodes pair neighbours from
// the bottom up, so the table is ordered by frequency from the start.
void InitTree()
{
    TreeNode* node = g_decoder.node;
    int32_t* child = g_decoder.child;
    for (int s = 0; s < kSymbolCount; s++) {
        node[s].freq = 1;
        child[s] = kLeafBase + 2 * s;
        node[kLeafBase + 2 * s].parent = s;
    }
    for (int i = 0, j = kSymbolCount; j <= kRoot; i += 2, j++) {
        node[j].freq = node[i].freq + node[i + 1].freq;
        child[j] = i;
        node[i].parent = node[i + 1].parent = j;
    }
    node[kRoot].parent = 0;
    for (int i = kLeafBase; i < kDummy; i++) {
        node[i].freq = 0xFFFF;
        child[i] = kLeafBase + ((i - kLeafBase) & ~1);
    }
    node[kDummy].freq = 0;
    node[kDummy + 1].freq = 0xFFFFFFFFu;
    BuildWalk();
}

// Halves every leaf frequency (rounding up) and builds the tree again. The
// published rebuild inserts each new inner node (the sum of the next two
// entries) into the sorted table after every entry that is not above it.
// The pairs are summed in table order, so the sums come in increasing
// order, and each lands behind the pair it sums: the table is the merge
// of the leaves (in their order) and the sums (in theirs), a leaf going
// first where the two are equal. It is built so, in one pass. Parents are
// set afresh at the end.
void RebuildTree()
{
    TreeNode* node = g_decoder.node;
    int32_t* child = g_decoder.child;
    uint32_t* leafFreq = g_decoder.leafFreq;
    int32_t* leafChild = g_decoder.leafChild;
    int leaves = 0;
    for (int i = 0; i < kNodeCount; i++) {
        if (child[i] >= kNodeCount) {
            leafFreq[leaves] = (node[i].freq + 1) / 2;
            leafChild[leaves] = child[i];
            leaves++;
        }
    }
    // Sums are made from the table as it is written: sum m is that of
    // entries 2m and 2m + 1, made once both are there.
    uint32_t* sumFreq = g_decoder.sumFreq;
    int nextLeaf = 0, nextSum = 0, sums = 0;
    for (int p = 0; p < kNodeCount; p++) {
        if (nextLeaf < kSymbolCount && (nextSum == sums || leafFreq[nextLeaf] <= sumFreq[nextSum])) {
            node[p].freq = leafFreq[nextLeaf];
            child[p] = leafChild[nextLeaf];
            nextLeaf++;
        } else {
            node[p].freq = sumFreq[nextSum];
            child[p] = 2 * nextSum;
            nextSum++;
        }
        if ((p & 1) != 0 && sums < kSymbolCount - 1) {
            sumFreq[sums] = node[p - 1].freq + node[p].freq;
            sums++;
        }
    }
    for (int i = 0; i < kNodeCount; i++) {
        const int k = child[i];
        node[k].parent = node[k + 1].parent = i; // a leaf's second entry is spare
    }
    BuildWalk();
}

// The end of a run of nodes below frequency k that goes on past the
// entries that MoveUp reads at once: node l's frequency is below k. The
// search gallops, then halves, so that long runs (many rare symbols after
// a rebuild) are skipped rather than walked. The sentinel at T is never
// below k.
__attribute__((noinline)) int EndOfLongRun(const TreeNode* node, int l, uint32_t k)
{
    int lo = l, hi = l + 1;
    for (int step = 1; k > node[hi].freq;) {
        lo = hi;
        step *= 2;
        hi += step;
        if (hi >= kNodeCount) {
            hi = kNodeCount;
            break;
        }
    }
    while (hi - lo > 1) { // node[lo].freq < k <= node[hi].freq
        int mid = (lo + hi) / 2;
        if (k > node[mid].freq)
            lo = mid;
        else
            hi = mid;
    }
    return lo;
}

// The exchange of MoveUp where an inner node comes to or goes from a place
// above the walk table's last level: the table is filled again below the
// places that lie there.
__attribute__((noinline)) void ExchangeAboveTable(int c, int l, uint32_t k)
{
    TreeNode* node = g_decoder.node;
    int32_t* child = g_decoder.child;
    const int dc = g_decoder.depth[c], dl = g_decoder.depth[l];
    if (dc < kTableBits)
        ClearDepths(c);
    if (dl < kTableBits)
        ClearDepths(l);
    const int a = child[c], b = child[l];
    node[c].freq = k - 1;
    node[l].freq = k;
    child[l] = a;
    child[c] = b;
    node[a].parent = node[a + 1].parent = l;
    node[b].parent = node[b + 1].parent = c;
    if (dc < kTableBits)
        FillWalkAt(c, dc);
    if (dl < kTableBits)
        FillWalkAt(l, dl);
}

// Moves node c, whose frequency has just become k and passed the next
// node's, behind the run of nodes that still have its old frequency k - 1:
// the two exchange places (and subtrees). Returns the node's new place.
inline int MoveUp(int c, uint32_t k)
{
    TreeNode* node = g_decoder.node;
    int32_t* child = g_decoder.child;
    // The run starts at c + 1. Frequencies are in order, so the run's share
    // of the next entries is the number of them below k, counted without a
    // branch for each; only a longer run is searched for its end.
    const TreeNode* run = &node[c + 2];
    int n = 0;
#pragma GCC unroll kRunWindow
    for (int j = 0; j < kRunWindow; j++)
        n += k > run[j].freq;
    int l = c + 1 + n;
    if (n == kRunWindow)
        l = EndOfLongRun(node, l, k);
    // Nodes keep their places, subtrees move. The walk table changes only
    // where an inner node comes to or goes from a place above its last
    // level; two leaves just change places.
    const int a = child[c], b = child[l];
    if (((a < kNodeCount) | (b < kNodeCount)) &&
        ((g_decoder.depth[c] < kTableBits) | (g_decoder.depth[l] < kTableBits))) {
        ExchangeAboveTable(c, l, k);
        return l;
    }
    node[c].freq = k - 1;
    node[l].freq = k;
    child[l] = a;
    child[c] = b;
    node[a].parent = node[a + 1].parent = l;
    node[b].parent = node[b + 1].parent = c;
    return l;
}

// Counts one more occurrence at node n and at every node above it, climbing
// by parents, and moves every node whose new frequency passes the next
// node's (which keeps frequencies in order).
inline void CountByParents(unsigned n)
{
    TreeNode* node = g_decoder.node;
    do {
        TreeNode* p = &node[n];
        const uint32_t k = ++p->freq;
        if (k > p[1].freq)
            p = &node[MoveUp((int)n, k)];
        n = p->parent;
    } while (n != 0);
}

// Decodes a symbol and counts it.
//
// The walk: the first kTableBits bits at once through the walk table, then
// kFixedSteps steps of one bit whatever the code's length (a step from a
// leaf stays on it and counts no bit), then one bit per inner node. With
// the buffer topped up to more bits than any code has, the walk needs no
// test of the bit count; should it ever use more bits than the buffer held,
// it is walked again bit by bit with refills. (The top bit is taken as the
// carry of doubling the buffer, which compilers turn into an add with
// carry.)
//
// The count goes up the path just walked, from the node of the leaf to the
// root: the nodes passed below the fixed steps, those of the fixed steps
// (the dummy for a step that stayed on the leaf), those of the table's
// levels (the dummy below the table's own end). Nothing moves as long as no
// new frequency passes the next node's, and each loop's length is known
// before it starts. The first node that must move does (MoveUp), and the
// count goes on from its new place by parents.
inline int DecodeSymbol(BitReader* br)
{
    RefillBelow(br, kWalkBits);
    const int32_t* child = g_decoder.child;
    const unsigned e = (unsigned)(br->bits >> (kWordBits - kTableBits));
    const unsigned entry = g_decoder.walk[e];
    const int used = (int)(entry >> 12);
    BitWord bits = br->bits << used;
    int count = br->count - used;
    int c = child[entry & 0x3FF];
    int fixed[kFixedSteps];
    int steps = 0;
#pragma GCC unroll kFixedSteps
    for (int i = 0; i < kFixedSteps; i++) {
        const int inner = c < kNodeCount;
        const int n = c + (int)(bits >> (kWordBits - 1 - i) & 1);
        fixed[i] = inner ? n : kDummy;
        steps += inner;
        c = child[n];
    }
    bits <<= steps;
    count -= steps;
    // The index is kept in the array whatever happens; no walk goes deeper.
    int deep[kDeepPath];
    int m = 0;
    while (c < kNodeCount) {
        const BitWord doubled = bits + bits;
        const int n = c + (int)(doubled < bits);
        deep[m++ & (kDeepPath - 1)] = n;
        c = child[n];
        bits = doubled;
        count--;
    }
    int walked = 1;
    if (count >= 0) {
        br->bits = bits;
        br->count = count;
    } else {
        walked = 0;
        c = child[kRoot];
        do {
            if (br->count == 0)
                *br = RefillBytes(*br);
            c = child[c + (int)TakeBits(br, 1)];
        } while (c < kNodeCount);
    }
    const int symbol = (c - kLeafBase) >> 1;

    TreeNode* node = g_decoder.node;
    if (node[kRoot].freq == kMaxFreq) {
        RebuildTree(); // the path just walked is gone
        walked = 0;
    }
    int n;
    TreeNode* p;
    uint32_t k;
    if (!walked) {
        n = node[c].parent;
        goto climb;
    }
    for (int j = m - 1; j >= 0; j--) {
        n = deep[j];
        p = &node[n];
        k = ++p->freq;
        if (k > p[1].freq)
            goto move;
    }
#pragma GCC unroll kFixedSteps
    for (int j = kFixedSteps - 1; j >= 0; j--) {
        n = fixed[j];
        p = &node[n];
        k = ++p->freq;
        if (k > p[1].freq)
            goto move;
    }
#pragma GCC unroll kTableBits
    for (int j = kTableBits; j >= 1; j--) {
        n = g_decoder.above[e][j];
        p = &node[n];
        k = ++p->freq;
        if (k > p[1].freq)
            goto move;
    }
    node[kRoot].freq++;
    return symbol;
move:
    n = node[MoveUp(n, k)].parent;
climb:
    CountByParents(n);
    return symbol;
}

// The distance back from r, minus one (0..4095): eight bits give the upper
// six bits and the code length; the code's remaining bits are shifted in
// after them, and the low six bits of the result complete the position.
inline unsigned DecodePosition(BitReader* br)
{
    if (br->count < 16)
        Refill(br);
    unsigned i = TakeBits(br, 8);
    unsigned upper = kPositionUpper[i];
    int more = kPositionCodeLength[i] - 2;
    i = i << more | TakeBits(br, more);
    return upper << 6 | (i & 0x3F);
}

// Hands the ring's pending bytes [from, r) to the output stream; 0 when the
// write fails (some streams, unbuffered ones of the C library among them,
// report a failed write only through their error indicator). Bytes past
// the ring's end belong at its start: they are moved there, and r comes
// round.
int FlushRing(unsigned* from, unsigned* r)
{
    unsigned end = *r < (unsigned)kRingSize ? *r : (unsigned)kRingSize;
    size_t n = end - *from;
    if (n > 0 && (fwrite(&g_decoder.ring[*from], 1, n, g_decoder.out) != n || ferror(g_decoder.out)))
        return 0;
    if (*r >= (unsigned)kRingSize) {
        *r -= kRingSize;
        memmove(g_decoder.ring, g_decoder.ring + kRingSize, *r);
        *from = 0;
    } else {
        *from = *r;
    }
    return 1;
}

// Copies n bytes from ring position `start` to r (which may run on into the
// room behind the ring), with the effect of copying one byte after the
// other, so that a source overlapping the output repeats it. Sources behind
// r are read straight on, into that room too, where the bytes just written
// stand; a source at or ahead of r (4096 bytes back or nearly) that comes
// round the ring's end is read round it. Where the two ranges lie 8 bytes
// apart or more, the bytes go 8 at a time, each group read before it is
// written, and the first two groups whatever the length (most matches are
// short); the groups may run past the match, over bytes that a later match
// may still read (the oldest of the window), so the 16 bytes behind it are
// kept and put back.
inline void CopyMatch(uint8_t* ring, unsigned start, unsigned r, unsigned n)
{
    uint8_t* d = ring + r;
    if (start >= r && start + n > (unsigned)kRingSize) {
        for (unsigned k = 0; k < n; k++)
            d[k] = ring[(start + k) & (kRingSize - 1)];
        return;
    }
    const uint8_t* s = ring + start;
    const unsigned gap = start > r ? start - r : r - start;
    unsigned k = 0;
    if (gap < 8) {
        if (start >= r) {
            for (; k < n; k++)
                d[k] = s[k];
            return;
        }
        // The output repeats the last `gap` bytes: once a whole number of
        // them covers 8 bytes, it goes on in groups from that far back.
        static const uint8_t kRepeatSpan[8] = {0, 8, 8, 9, 8, 10, 12, 14}; // gap * ceil(8 / gap)
        const unsigned far = kRepeatSpan[gap];
        for (; k < far && k < n; k++)
            d[k] = s[k];
        if (k == n)
            return;
        s = d - far;
    }
    uint8_t behind[16];
    memcpy(behind, d + n, 16);
    memcpy(d + k, s + k, 8);
    memcpy(d + k + 8, s + k + 8, 8);
    for (k += 16; k < n; k += 8)
        memcpy(d + k, s + k, 8);
    memcpy(d + n, behind, 16);
}

// Gives back to the input stream the bytes read but not yet taken into
// the bit buffer, so that it stands about where a byte-wise reader would
// have left it.
void GiveBackInput()
{
    if (g_decoder.inputEnd > g_decoder.inputPos)
        fseek(g_decoder.in, -(long)(g_decoder.inputEnd - g_decoder.inputPos), SEEK_CUR);
}

// Code bits taken into the buffer and used so far.
uint64_t UsedBits(const BitReader* br)
{
    uint64_t unread = (uint64_t)(g_decoder.inputEnd - g_decoder.inputPos);
    uint64_t taken = g_decoder.inputBytes - unread + g_decoder.zeroBytes;
    return taken * 8 - (uint64_t)br->count;
}

// Whether the symbols so far used bits past the end of the input.
int UsedBitsPastEnd(const BitReader* br)
{
    return g_decoder.zeroBytes * 8 > (uint64_t)br->count;
}

// The decoding proper, after a header that declared `length` bytes, with
// the rest of the first input block in the input buffer from `rest` on.
// `checked`: stop where the symbols have used bits past the input.
//
// Symbols are decoded in stretches that end where the output reaches the
// ring's next flush point, or the count reaches the declared length or the
// next progress report. After each stretch the ring is written out when due,
// and the end, the report and the end of input are dealt with. A stretch
// always decodes at least one symbol; near a count of 2^32 every symbol is
// a stretch, so that a count coming round is seen at once.
int DecodeBody(uint32_t length, const uint8_t* rest, size_t restBytes, int checked,
               DecodeAccount* account)
{
    InitTree();
    memset(g_decoder.ring, ' ', kPrefilled);

    // Report at most about once per pixel. A bar of zero or negative width
    // counts as one pixel wide.
    int width = 1;
    if (g_progress && g_progress->barWidth)
        width = g_progress->barWidth();
    if (width < 1)
        width = 1;
    uint32_t step = length / (uint32_t)width;
    if (step == 0)
        step = 1;
    void (*report)(uint32_t, uint32_t) = g_progress ? g_progress->report : nullptr;
    // The smallest multiple of the step above the count.
    uint32_t nextReport = report ? step : 0xFFFFFFFFu;
    const uint32_t kLastLongCount = 0xFFFFFFFFu - kMaxMatch;

    BitReader br = {0, 0};
    g_decoder.inputPos = rest;
    g_decoder.inputEnd = rest + restBytes;
    g_decoder.zeroBytes = 0;
    uint8_t* const ring = g_decoder.ring;
    unsigned r = kPrefilled;
    unsigned flushFrom = kPrefilled;
    unsigned flushAt = kPrefilled + 1; // the first symbol goes out at once
    uint32_t written = 0;
    int result = DecodeComplete;

    while (written < length) {
        const uint32_t before = written;
        uint32_t stop = length < nextReport ? length : nextReport;
        if (stop > kLastLongCount)
            stop = kLastLongCount;
        uint32_t room = written < stop ? stop - written : 0;
        if (written >= kLastLongCount)
            room = 0;
        const unsigned rStart = r;
        const unsigned rStop = room < flushAt - r ? r + room : flushAt;
        do {
            int x = DecodeSymbol(&br);
            if (x < 256) {
                ring[r++] = (uint8_t)x;
            } else {
                unsigned start = (r - DecodePosition(&br) - 1) & (kRingSize - 1);
                unsigned n = (unsigned)(x - 255 + kThreshold);
                // The copy is not cut short at the declared length.
                CopyMatch(ring, start, r, n);
                r += n;
            }
        } while (r < rStop);
        written += r - rStart;

        if (r >= flushAt) {
            if (!FlushRing(&flushFrom, &r)) {
                result = DecodeFailed;
                break;
            }
            flushAt = kRingSize;
        }
        if (checked && UsedBitsPastEnd(&br)) {
            result = FlushRing(&flushFrom, &r) ? DecodeTruncated : DecodeFailed;
            break;
        }
        if (!(written < length) && !FlushRing(&flushFrom, &r)) {
            result = DecodeFailed;
            break;
        }
        // Reported when the count is a whole multiple of the step.
        if (report && (written >= nextReport || written < before)) {
            if (written % step == 0)
                report(written, length);
            uint64_t next = ((uint64_t)written / step + 1) * step;
            nextReport = next > 0xFFFFFFFFu ? 0xFFFFFFFFu : (uint32_t)next;
        }
    }

    GiveBackInput();
    if (account) {
        account->length = length;
        account->written = written;
        account->usedBits = UsedBits(&br);
    }
    if (result == DecodeComplete && g_progress && g_progress->wipe)
        g_progress->wipe();
    return result;
}

// Reads the header from the first block of input and decodes the rest.
int DecodeStart(FILE* in, FILE* out, int checked, DecodeAccount* account)
{
    if (account) {
        account->length = 0;
        account->written = 0;
        account->usedBits = 0;
    }
    g_decoder.in = in;
    g_decoder.out = out;
    g_decoder.inputEnded = 0;
    g_decoder.inputBytes = 0;

    // A segment too short to hold its header can only be damaged (a missing
    // byte would read as all ones and give a huge length), so it is
    // rejected as a whole rather than decoded into a runaway file.
    size_t got = fread(g_decoder.input, 1, kInputBlock, in);
    if (got < 4 || ferror(in))
        return DecodeFailed;
    const uint8_t* h = g_decoder.input;
    uint32_t length = h[0] | h[1] << 8 | h[2] << 16 | (uint32_t)h[3] << 24;
    if (length == 0) {
        fseek(in, -(long)(got - 4), SEEK_CUR);
        return DecodeFailed;
    }
    if (got < (size_t)kInputBlock && feof(in))
        g_decoder.inputEnded = 1;
    g_decoder.inputBytes = got - 4;
    return DecodeBody(length, g_decoder.input + 4, got - 4, checked, account);
}

} // namespace

void SetDecodeProgress(const DecodeProgress* progress)
{
    g_progress = progress;
}

int DecodeSegment(FILE* in, FILE* out)
{
    return DecodeStart(in, out, 0, nullptr) == DecodeComplete ? 1 : 0;
}

int DecodeSegmentChecked(FILE* in, FILE* out, DecodeAccount* account)
{
    return DecodeStart(in, out, 1, account);
}
