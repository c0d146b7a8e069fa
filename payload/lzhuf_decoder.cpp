// LZHUF decoder: LZSS over a 4096-byte ring, symbols coded with an adaptive
// Huffman tree (314 symbols: 256 literals, then match lengths 3..60), match
// positions coded as an upper 6 bits (variable-length code) plus 6 raw bits.
//
// All working state lives in one process-wide record; decoding allocates
// nothing and reads and writes through the caller's buffered streams.
#include "lzhuf_decoder.h"

namespace {

const int kRingSize = 4096;                            // N
const int kMaxMatch = 60;                              // F
const int kThreshold = 2;                              // shortest match is 3
const int kSymbolCount = 256 - kThreshold + kMaxMatch; // N_CHAR = 314
const int kNodeCount = 2 * kSymbolCount - 1;           // T = 627
const int kRoot = kNodeCount - 1;                      // R = 626
const unsigned kMaxFreq = 0x8000;                      // root frequency that forces a rebuild
const int kPrefilled = kRingSize - kMaxMatch;          // ring positions 0..4035 start as spaces

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

// The one decoding in progress.
struct LzhufDecoder {
    uint16_t freq[kNodeCount + 1];         // node frequencies; [T] is a 0xFFFF sentinel
    int16_t child[kNodeCount];             // >= T: leaf of symbol (value - T); else children j, j+1
    int16_t parent[kNodeCount + kSymbolCount]; // node parents; [T + s]: node holding symbol s
    uint8_t ring[kRingSize];
    unsigned r;                            // ring write position
    uint16_t bitBuffer;                    // valid bits sit at the top
    uint16_t bitCount;
    uint32_t written;                      // output count
    FILE* in;
};

LzhufDecoder g_decoder;
const DecodeProgress* g_progress = nullptr;

// Tops the bit buffer up to more than eight valid bits. End of input and
// read errors read as zero bytes: a stream that ends early is not detected
// here, and the reader always looks one byte past the end of a segment.
void RefillBits()
{
    while (g_decoder.bitCount <= 8) {
        int c = getc(g_decoder.in);
        if (c == EOF)
            c = 0;
        g_decoder.bitBuffer = (uint16_t)(g_decoder.bitBuffer | (unsigned)c << (8 - g_decoder.bitCount));
        g_decoder.bitCount = (uint16_t)(g_decoder.bitCount + 8);
    }
}

unsigned NextBit()
{
    RefillBits();
    unsigned bit = g_decoder.bitBuffer >> 15;
    g_decoder.bitBuffer = (uint16_t)(g_decoder.bitBuffer << 1);
    g_decoder.bitCount--;
    return bit;
}

unsigned NextEightBits()
{
    RefillBits();
    unsigned bits = g_decoder.bitBuffer >> 8;
    g_decoder.bitBuffer = (uint16_t)(g_decoder.bitBuffer << 8);
    g_decoder.bitCount = (uint16_t)(g_decoder.bitCount - 8);
    return bits;
}

// Every symbol starts with frequency 1; inner nodes pair neighbours from
// the bottom up, so the table is ordered by frequency from the start.
void InitTree()
{
    for (int s = 0; s < kSymbolCount; s++) {
        g_decoder.freq[s] = 1;
        g_decoder.child[s] = (int16_t)(s + kNodeCount);
        g_decoder.parent[s + kNodeCount] = (int16_t)s;
    }
    for (int i = 0, j = kSymbolCount; j <= kRoot; i += 2, j++) {
        g_decoder.freq[j] = (uint16_t)(g_decoder.freq[i] + g_decoder.freq[i + 1]);
        g_decoder.child[j] = (int16_t)i;
        g_decoder.parent[i] = g_decoder.parent[i + 1] = (int16_t)j;
    }
    g_decoder.freq[kNodeCount] = 0xFFFF;
    g_decoder.parent[kRoot] = 0;
    g_decoder.bitBuffer = 0;
    g_decoder.bitCount = 0;
}

// Halves every leaf frequency (rounding up) and builds the tree again,
// keeping the frequency table sorted.
void RebuildTree()
{
    int j = 0;
    for (int i = 0; i < kNodeCount; i++) {
        if (g_decoder.child[i] >= kNodeCount) {
            g_decoder.freq[j] = (uint16_t)((g_decoder.freq[i] + 1u) / 2);
            g_decoder.child[j] = g_decoder.child[i];
            j++;
        }
    }
    for (int i = 0, n = kSymbolCount; n < kNodeCount; i += 2, n++) {
        uint16_t f = (uint16_t)(g_decoder.freq[i] + g_decoder.freq[i + 1]);
        g_decoder.freq[n] = f;
        int k = n - 1;
        while (f < g_decoder.freq[k])
            k--;
        k++;
        for (int m = n; m > k; m--) {
            g_decoder.freq[m] = g_decoder.freq[m - 1];
            g_decoder.child[m] = g_decoder.child[m - 1];
        }
        g_decoder.freq[k] = f;
        g_decoder.child[k] = (int16_t)i;
    }
    for (int i = 0; i < kNodeCount; i++) {
        int k = g_decoder.child[i];
        if (k >= kNodeCount) {
            g_decoder.parent[k] = (int16_t)i;
        } else {
            g_decoder.parent[k] = (int16_t)i;
            g_decoder.parent[k + 1] = (int16_t)i;
        }
    }
}

// Counts one more occurrence of symbol x, moving nodes up the table so
// that frequencies stay in increasing order (the sibling property).
void UpdateTree(int x)
{
    if (g_decoder.freq[kRoot] == kMaxFreq)
        RebuildTree();
    int node = g_decoder.parent[x + kNodeCount];
    do {
        uint16_t k = ++g_decoder.freq[node];
        if (k > g_decoder.freq[node + 1]) {
            int l = node + 1;
            while (k > g_decoder.freq[l + 1])
                l++;
            g_decoder.freq[node] = g_decoder.freq[l];
            g_decoder.freq[l] = k;

            int a = g_decoder.child[node];
            g_decoder.parent[a] = (int16_t)l;
            if (a < kNodeCount)
                g_decoder.parent[a + 1] = (int16_t)l;

            int b = g_decoder.child[l];
            g_decoder.child[l] = (int16_t)a;
            g_decoder.parent[b] = (int16_t)node;
            if (b < kNodeCount)
                g_decoder.parent[b + 1] = (int16_t)node;
            g_decoder.child[node] = (int16_t)b;

            node = l;
        }
        node = g_decoder.parent[node];
    } while (node != 0);
}

int DecodeSymbol()
{
    unsigned node = (unsigned)g_decoder.child[kRoot];
    while (node < (unsigned)kNodeCount)
        node = (unsigned)g_decoder.child[node + NextBit()];
    int symbol = (int)node - kNodeCount;
    UpdateTree(symbol);
    return symbol;
}

// The distance back from r, minus one (0..4095).
unsigned DecodePosition()
{
    uint16_t i = (uint16_t)NextEightBits();
    unsigned upper = kPositionUpper[i];
    int length = kPositionCodeLength[i];
    for (int n = length - 2; n > 0; n--)
        i = (uint16_t)((i << 1) + NextBit());
    return upper << 6 | (i & 0x3F);
}

// Writes one byte to the output and into the ring; 0 when the write fails.
int EmitByte(FILE* out, uint8_t byte)
{
    if (putc(byte, out) == EOF)
        return 0;
    g_decoder.ring[g_decoder.r] = byte;
    g_decoder.r = (g_decoder.r + 1) & (kRingSize - 1);
    g_decoder.written++;
    return 1;
}

} // namespace

void SetDecodeProgress(const DecodeProgress* progress)
{
    g_progress = progress;
}

int DecodeSegment(FILE* in, FILE* out)
{
    // The header is read byte by byte; a missing byte would read as all
    // ones and give a huge length. A segment too short to hold its header
    // can only be damaged, so it is rejected as a whole rather than decoded
    // into a runaway file of zeros.
    uint32_t length = 0;
    for (int shift = 0; shift < 32; shift += 8)
        length |= (uint32_t)(getc(in) & 0xFF) << shift;
    if (ferror(in) || feof(in))
        return 0;
    if (length == 0)
        return 0;

    g_decoder.in = in;
    InitTree();
    for (int i = 0; i < kPrefilled; i++)
        g_decoder.ring[i] = ' ';
    g_decoder.r = kPrefilled;

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

    g_decoder.written = 0;
    while (g_decoder.written < length) {
        int x = DecodeSymbol();
        if (x < 256) {
            if (!EmitByte(out, (uint8_t)x))
                return 0;
        } else {
            unsigned start = (g_decoder.r - DecodePosition() - 1) & (kRingSize - 1);
            int n = x - 255 + kThreshold;
            // Byte by byte, so a source overlapping the output repeats it.
            // The copy is not cut short at the declared length.
            for (int k = 0; k < n; k++) {
                if (!EmitByte(out, g_decoder.ring[(start + k) & (kRingSize - 1)]))
                    return 0;
            }
        }
        if (report && g_decoder.written % step == 0)
            report(g_decoder.written, length);
    }
    if (g_progress && g_progress->wipe)
        g_progress->wipe();
    return 1;
}
