// Re-implementation of the 1988 LZHUF program, kept bit-exact with it.
// Encoder: the same match finder with its tie rules, the same greedy parse,
// and the same 16-bit code register, which keeps only the 16 bits nearest
// the root of a code longer than 16 bits. Decoder: the same 16-bit bit
// register refilled one getc at a time, the tree walked one bit per node,
// every byte put with putc. Encoder and decoder share the tree and its
// update, as in the program. Used by the tests as an independent source of
// streams and an independent decoder, and by the benchmarks as the baseline.
//
// Known sizes, header included (4 + code bytes): 114,107 bytes for the
// licence texts of /usr/share/common-licenses (303,076 bytes, C-locale glob
// order) and 607,637 bytes for the first 1,600,000 bytes of the x86_64 Wine
// user32.dll.
#include "lzhuf1988.h"

namespace {

const int N = 4096;
const int F = 60;
const int THRESHOLD = 2;
const int NIL = N;
const int N_CHAR = 256 - THRESHOLD + F;
const int T = N_CHAR * 2 - 1;
const int R = T - 1;
const unsigned MAX_FREQ = 0x8000;

const uint8_t p_len[64] = {
    0x03, 0x04, 0x04, 0x04, 0x05, 0x05, 0x05, 0x05,
    0x05, 0x05, 0x05, 0x05, 0x06, 0x06, 0x06, 0x06,
    0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06, 0x06,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07, 0x07,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
    0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08, 0x08,
};

const uint8_t p_code[64] = {
    0x00, 0x20, 0x30, 0x40, 0x50, 0x58, 0x60, 0x68,
    0x70, 0x78, 0x80, 0x88, 0x90, 0x94, 0x98, 0x9C,
    0xA0, 0xA4, 0xA8, 0xAC, 0xB0, 0xB4, 0xB8, 0xBC,
    0xC0, 0xC2, 0xC4, 0xC6, 0xC8, 0xCA, 0xCC, 0xCE,
    0xD0, 0xD2, 0xD4, 0xD6, 0xD8, 0xDA, 0xDC, 0xDE,
    0xE0, 0xE2, 0xE4, 0xE6, 0xE8, 0xEA, 0xEC, 0xEE,
    0xF0, 0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0xF7,
    0xF8, 0xF9, 0xFA, 0xFB, 0xFC, 0xFD, 0xFE, 0xFF,
};

struct Lzhuf1988 {
    uint8_t text_buf[N + F - 1];
    int match_position, match_length;
    int lson[N + 1], rson[N + 257], dad[N + 1];

    uint16_t freq[T + 1];
    int prnt[T + N_CHAR];
    int son[T];

    uint16_t putbuf;
    uint8_t putlen;
    uint16_t getbuf;
    uint8_t getlen;

    const uint8_t* in;
    size_t inSize, inPos;
    std::vector<uint8_t>* out;
    size_t symbols;
};

Lzhuf1988 g;

int GetC()
{
    if (g.inPos >= g.inSize)
        return -1;
    return g.in[g.inPos++];
}

void InitTree()
{
    for (int i = N + 1; i <= N + 256; i++)
        g.rson[i] = NIL;
    for (int i = 0; i < N; i++)
        g.dad[i] = NIL;
}

void InsertNode(int r)
{
    int i, p, cmp = 1;
    const uint8_t* key = &g.text_buf[r];
    p = N + 1 + key[0];
    g.rson[r] = g.lson[r] = NIL;
    g.match_length = 0;
    for (;;) {
        if (cmp >= 0) {
            if (g.rson[p] != NIL) {
                p = g.rson[p];
            } else {
                g.rson[p] = r;
                g.dad[r] = p;
                return;
            }
        } else {
            if (g.lson[p] != NIL) {
                p = g.lson[p];
            } else {
                g.lson[p] = r;
                g.dad[r] = p;
                return;
            }
        }
        for (i = 1; i < F; i++)
            if ((cmp = key[i] - g.text_buf[p + i]) != 0)
                break;
        if (i > THRESHOLD) {
            if (i > g.match_length) {
                g.match_position = ((r - p) & (N - 1)) - 1;
                if ((g.match_length = i) >= F)
                    break;
            }
            if (i == g.match_length) {
                int c = ((r - p) & (N - 1)) - 1;
                if (c < g.match_position)
                    g.match_position = c;
            }
        }
    }
    g.dad[r] = g.dad[p];
    g.lson[r] = g.lson[p];
    g.rson[r] = g.rson[p];
    g.dad[g.lson[p]] = r;
    g.dad[g.rson[p]] = r;
    if (g.rson[g.dad[p]] == p)
        g.rson[g.dad[p]] = r;
    else
        g.lson[g.dad[p]] = r;
    g.dad[p] = NIL;
}

void DeleteNode(int p)
{
    int q;
    if (g.dad[p] == NIL)
        return;
    if (g.rson[p] == NIL) {
        q = g.lson[p];
    } else if (g.lson[p] == NIL) {
        q = g.rson[p];
    } else {
        q = g.lson[p];
        if (g.rson[q] != NIL) {
            do {
                q = g.rson[q];
            } while (g.rson[q] != NIL);
            g.rson[g.dad[q]] = g.lson[q];
            g.dad[g.lson[q]] = g.dad[q];
            g.lson[q] = g.lson[p];
            g.dad[g.lson[p]] = q;
        }
        g.rson[q] = g.rson[p];
        g.dad[g.rson[p]] = q;
    }
    g.dad[q] = g.dad[p];
    if (g.rson[g.dad[p]] == p)
        g.rson[g.dad[p]] = q;
    else
        g.lson[g.dad[p]] = q;
    g.dad[p] = NIL;
}

// Appends the top l bits of c (l may exceed 8 but the register is 16 bits).
void Putcode(int l, uint16_t c)
{
    g.putbuf = (uint16_t)(g.putbuf | c >> g.putlen);
    if ((g.putlen = (uint8_t)(g.putlen + l)) >= 8) {
        g.out->push_back((uint8_t)(g.putbuf >> 8));
        if ((g.putlen = (uint8_t)(g.putlen - 8)) >= 8) {
            g.out->push_back((uint8_t)g.putbuf);
            g.putlen = (uint8_t)(g.putlen - 8);
            g.putbuf = (uint16_t)(c << (l - g.putlen));
        } else {
            g.putbuf = (uint16_t)(g.putbuf << 8);
        }
    }
}

void StartHuff()
{
    int i, j;
    for (i = 0; i < N_CHAR; i++) {
        g.freq[i] = 1;
        g.son[i] = i + T;
        g.prnt[i + T] = i;
    }
    i = 0;
    j = N_CHAR;
    while (j <= R) {
        g.freq[j] = (uint16_t)(g.freq[i] + g.freq[i + 1]);
        g.son[j] = i;
        g.prnt[i] = g.prnt[i + 1] = j;
        i += 2;
        j++;
    }
    g.freq[T] = 0xFFFF;
    g.prnt[R] = 0;
}

void reconst()
{
    int i, j, k;
    unsigned f;
    j = 0;
    for (i = 0; i < T; i++) {
        if (g.son[i] >= T) {
            g.freq[j] = (uint16_t)((g.freq[i] + 1) / 2);
            g.son[j] = g.son[i];
            j++;
        }
    }
    for (i = 0, j = N_CHAR; j < T; i += 2, j++) {
        k = i + 1;
        f = g.freq[j] = (uint16_t)(g.freq[i] + g.freq[k]);
        for (k = j - 1; f < g.freq[k]; k--)
            ;
        k++;
        for (int m = j; m > k; m--) {
            g.freq[m] = g.freq[m - 1];
            g.son[m] = g.son[m - 1];
        }
        g.freq[k] = (uint16_t)f;
        g.son[k] = i;
    }
    for (i = 0; i < T; i++) {
        if ((k = g.son[i]) >= T) {
            g.prnt[k] = i;
        } else {
            g.prnt[k] = g.prnt[k + 1] = i;
        }
    }
}

void update(int c)
{
    int i, j, l;
    unsigned k;
    if (g.freq[R] == MAX_FREQ)
        reconst();
    c = g.prnt[c + T];
    do {
        k = ++g.freq[c];
        if (k > g.freq[l = c + 1]) {
            while (k > g.freq[++l])
                ;
            l--;
            g.freq[c] = g.freq[l];
            g.freq[l] = (uint16_t)k;

            i = g.son[c];
            g.prnt[i] = l;
            if (i < T)
                g.prnt[i + 1] = l;

            j = g.son[l];
            g.son[l] = i;

            g.prnt[j] = c;
            if (j < T)
                g.prnt[j + 1] = c;
            g.son[c] = j;

            c = l;
        }
    } while ((c = g.prnt[c]) != 0);
}

void EncodeChar(unsigned c)
{
    uint16_t i = 0;
    int j = 0;
    int k = g.prnt[c + T];
    do {
        i = (uint16_t)(i >> 1);
        if (k & 1)
            i = (uint16_t)(i + 0x8000);
        j++;
    } while ((k = g.prnt[k]) != R);
    Putcode(j, i);
    update((int)c);
    g.symbols++;
}

void EncodePosition(unsigned c)
{
    unsigned i = c >> 6;
    Putcode(p_len[i], (uint16_t)(p_code[i] << 8));
    Putcode(6, (uint16_t)((c & 0x3f) << 10));
}

void EncodeEnd()
{
    if (g.putlen)
        g.out->push_back((uint8_t)(g.putbuf >> 8));
}

// Decoding tables of the position code, indexed by its first eight bits:
// upper six bits and code length. Each upper value u fills 2^(8 - p_len[u])
// entries in increasing order.
uint8_t d_code[256], d_len[256];

void MakeDecodeTables()
{
    int i = 0;
    for (int u = 0; u < 64; u++)
        for (int n = 0; n < 1 << (8 - p_len[u]); n++, i++) {
            d_code[i] = (uint8_t)u;
            d_len[i] = p_len[u];
        }
}

FILE* infile;
FILE* outfile;

// The decoder's ring lives from one call to the next, as a program-wide
// array does: only positions 0 .. N - F - 1 are set at the start, so the
// last F positions hold what the previous stream left there.
uint8_t dtext_buf[N];

int GetBit()
{
    int i;
    while (g.getlen <= 8) {
        if ((i = getc(infile)) < 0)
            i = 0;
        g.getbuf = (uint16_t)(g.getbuf | i << (8 - g.getlen));
        g.getlen = (uint8_t)(g.getlen + 8);
    }
    i = g.getbuf;
    g.getbuf = (uint16_t)(g.getbuf << 1);
    g.getlen--;
    return (i >> 15) & 1;
}

int GetByte()
{
    unsigned i;
    while (g.getlen <= 8) {
        int c = getc(infile);
        if (c < 0)
            c = 0;
        g.getbuf = (uint16_t)(g.getbuf | c << (8 - g.getlen));
        g.getlen = (uint8_t)(g.getlen + 8);
    }
    i = g.getbuf;
    g.getbuf = (uint16_t)(g.getbuf << 8);
    g.getlen = (uint8_t)(g.getlen - 8);
    return (int)(i >> 8);
}

int DecodeChar()
{
    unsigned c = (unsigned)g.son[R];
    while (c < (unsigned)T) {
        c += (unsigned)GetBit();
        c = (unsigned)g.son[c];
    }
    c -= T;
    update((int)c);
    return (int)c;
}

int DecodePosition()
{
    unsigned i, j, c;
    i = (unsigned)GetByte();
    c = (unsigned)d_code[i] << 6;
    j = d_len[i];
    j -= 2;
    while (j--)
        i = (i << 1) + (unsigned)GetBit();
    return (int)(c | (i & 0x3f));
}

} // namespace

std::vector<uint8_t> EncodeLzhuf1988(const uint8_t* data, size_t size, size_t* symbolCount)
{
    std::vector<uint8_t> out;
    uint32_t textsize = (uint32_t)size;
    for (int b = 0; b < 4; b++)
        out.push_back((uint8_t)(textsize >> (8 * b)));
    if (symbolCount)
        *symbolCount = 0;
    if (size == 0)
        return out;

    g = Lzhuf1988();
    g.in = data;
    g.inSize = size;
    g.inPos = 0;
    g.out = &out;

    int i, c, len, r, s, last_match_length;
    StartHuff();
    InitTree();
    s = 0;
    r = N - F;
    for (i = s; i < r; i++)
        g.text_buf[i] = ' ';
    for (len = 0; len < F && (c = GetC()) != -1; len++)
        g.text_buf[r + len] = (uint8_t)c;
    for (i = 1; i <= F; i++)
        InsertNode(r - i);
    InsertNode(r);
    do {
        if (g.match_length > len)
            g.match_length = len;
        if (g.match_length <= THRESHOLD) {
            g.match_length = 1;
            EncodeChar(g.text_buf[r]);
        } else {
            EncodeChar((unsigned)(255 - THRESHOLD + g.match_length));
            EncodePosition((unsigned)g.match_position);
        }
        last_match_length = g.match_length;
        for (i = 0; i < last_match_length && (c = GetC()) != -1; i++) {
            DeleteNode(s);
            g.text_buf[s] = (uint8_t)c;
            if (s < F - 1)
                g.text_buf[s + N] = (uint8_t)c;
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            InsertNode(r);
        }
        while (i++ < last_match_length) {
            DeleteNode(s);
            s = (s + 1) & (N - 1);
            r = (r + 1) & (N - 1);
            if (--len)
                InsertNode(r);
        }
    } while (len > 0);
    EncodeEnd();
    if (symbolCount)
        *symbolCount = g.symbols;
    return out;
}

int DecodeLzhuf1988(FILE* in, FILE* out)
{
    uint8_t header[4];
    if (fread(header, 1, 4, in) != 4)
        return 0;
    uint32_t textsize = header[0] | header[1] << 8 | header[2] << 16 | (uint32_t)header[3] << 24;
    if (textsize == 0)
        return 0;

    g = Lzhuf1988();
    g.getbuf = 0;
    g.getlen = 0;
    MakeDecodeTables();
    infile = in;
    outfile = out;

    int i, j, k, r, c;
    uint32_t count;
    StartHuff();
    for (i = 0; i < N - F; i++)
        dtext_buf[i] = ' ';
    r = N - F;
    for (count = 0; count < textsize;) {
        c = DecodeChar();
        if (c < 256) {
            if (putc(c, outfile) == EOF)
                return 0;
            dtext_buf[r++] = (uint8_t)c;
            r &= (N - 1);
            count++;
        } else {
            i = (r - DecodePosition() - 1) & (N - 1);
            j = c - 255 + THRESHOLD;
            for (k = 0; k < j; k++) {
                c = dtext_buf[(i + k) & (N - 1)];
                if (putc(c, outfile) == EOF)
                    return 0;
                dtext_buf[r++] = (uint8_t)c;
                r &= (N - 1);
                count++;
            }
        }
    }
    return 1;
}
