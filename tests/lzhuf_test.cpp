// LZHUF decoder, builder encoder and the 1988 reference encoder.
//
// Streams go through real temporary files (tmpfile), as in the installer,
// so the same tests run natively and as Windows programs under Wine.
#include "payload/lzhuf_decoder.h"
#include "tests/reference/lzhuf1988.h"
#include "tools/lzhuf_encoder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

typedef std::vector<uint8_t> Bytes;

const char* const kUser32 = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows/user32.dll";
const char* const kLicenceDir = "/usr/share/common-licenses/";
// The licence texts in C-locale glob order, as `cat *` joins them.
const char* const kLicenceNames[] = {
    "Apache-2.0", "Artistic", "BSD", "CC0-1.0", "GFDL", "GFDL-1.2", "GFDL-1.3", "GPL", "GPL-1",
    "GPL-2", "GPL-3", "LGPL", "LGPL-2", "LGPL-2.1", "LGPL-3", "MPL-1.1", "MPL-2.0",
};

// Appends a whole file; Windows builds reach the host's files through Z:.
bool AppendFile(const std::string& path, Bytes* out)
{
    FILE* f = fopen(path.c_str(), "rb");
#ifdef _WIN32
    if (!f)
        f = fopen(("Z:" + path).c_str(), "rb");
#endif
    if (!f)
        return false;
    int c;
    while ((c = getc(f)) != EOF)
        out->push_back((uint8_t)c);
    fclose(f);
    return true;
}

bool ReadLicences(Bytes* out)
{
    out->clear();
    for (const char* name : kLicenceNames)
        if (!AppendFile(std::string(kLicenceDir) + name, out))
            return false;
    return true;
}

bool ReadPrefix(const char* path, size_t limit, Bytes* out)
{
    out->clear();
    if (!AppendFile(path, out))
        return false;
    if (out->size() > limit)
        out->resize(limit);
    return true;
}

// Deterministic filler with a skewed byte distribution: mostly literals
// for the parser, with a few frequent symbols that dominate the tree.
Bytes SkewedNoise(size_t size, uint32_t seed)
{
    Bytes b(size);
    uint32_t x = seed;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        uint32_t r = x >> 8;
        uint8_t v = (uint8_t)(r & 0xFF);
        if ((r >> 8) % 4 != 0)
            v &= 0x0F;
        b[i] = v;
    }
    return b;
}

FILE* TempWith(const Bytes& content)
{
    FILE* f = tmpfile();
    if (f && !content.empty())
        fwrite(content.data(), 1, content.size(), f);
    if (f)
        rewind(f);
    return f;
}

Bytes ReadAll(FILE* f)
{
    Bytes b;
    rewind(f);
    int c;
    while ((c = getc(f)) != EOF)
        b.push_back((uint8_t)c);
    return b;
}

// The 1988 decoder's output for `stream`, and its result.
int Decode1988(const Bytes& stream, Bytes* decoded)
{
    FILE* in = TempWith(stream);
    FILE* out = tmpfile();
    if (!in || !out)
        return -1;
    int ok = DecodeLzhuf1988(in, out);
    *decoded = ReadAll(out);
    fclose(in);
    fclose(out);
    return ok;
}

// Decodes `stream`; returns the result and leaves the output in `decoded`.
// Whatever the installer's decoder decodes, the 1988 decoder must decode
// to the same bytes: it is the oracle for every stream of these tests.
int Decode(const Bytes& stream, Bytes* decoded)
{
    FILE* in = TempWith(stream);
    FILE* out = tmpfile();
    if (!in || !out)
        return -1;
    int ok = DecodeSegment(in, out);
    *decoded = ReadAll(out);
    fclose(in);
    fclose(out);
    if (ok == 1) {
        Bytes reference;
        EXPECT_EQ(1, Decode1988(stream, &reference));
        EXPECT_TRUE(reference == *decoded) << "the 1988 decoder disagrees on a stream of "
                                           << stream.size() << " bytes";
    }
    return ok;
}

void ExpectDecodesTo(const Bytes& stream, const Bytes& data)
{
    Bytes decoded;
    ASSERT_EQ(1, Decode(stream, &decoded));
    ASSERT_EQ(data.size(), decoded.size());
    EXPECT_TRUE(decoded == data) << "decoded bytes differ";
}

// Progress hooks that record what the decoder reports.
struct ProgressLog {
    int width;
    int widthReads;
    std::vector<uint32_t> written;
    std::vector<uint32_t> lengths;
    int wipes;
    int reportsAfterWipe;
};
ProgressLog g_log;

int LogWidth()
{
    g_log.widthReads++;
    return g_log.width;
}
void LogReport(uint32_t written, uint32_t length)
{
    if (g_log.wipes)
        g_log.reportsAfterWipe++;
    g_log.written.push_back(written);
    g_log.lengths.push_back(length);
}
void LogWipe()
{
    g_log.wipes++;
}
const DecodeProgress kLogProgress = {LogWidth, LogReport, LogWipe};

class DecodeProgressTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_log = ProgressLog();
        SetDecodeProgress(&kLogProgress);
    }
    void TearDown() override { SetDecodeProgress(nullptr); }
};

// Literal-only data: byte pairs of a 16-bit counter above 0x8000 never
// repeat three bytes in a row and never meet three spaces.
Bytes CounterBytes(size_t size)
{
    Bytes b;
    for (uint32_t i = 0x8000; b.size() < size; i++) {
        b.push_back((uint8_t)(i >> 8));
        b.push_back((uint8_t)i);
    }
    b.resize(size);
    return b;
}

// A hand-built stream: the length header, then given code bits.
struct BitStream {
    Bytes bytes;
    int used = 8;
    void Put(uint32_t value, int count)
    {
        for (int i = count - 1; i >= 0; i--) {
            if (used == 8) {
                bytes.push_back(0);
                used = 0;
            }
            if ((value >> i) & 1)
                bytes.back() = (uint8_t)(bytes.back() | 0x80 >> used);
            used++;
        }
    }
};

// Code of a symbol in the freshly initialised tree (all frequencies 1:
// leaves 0..313, inner node 314 + k over nodes 2k and 2k + 1).
void PutInitialSymbol(BitStream* s, int symbol)
{
    const int T = 627, R = 626;
    int parent[627];
    for (int i = 0, j = 314; j <= R; i += 2, j++)
        parent[i] = parent[i + 1] = j;
    int bits[32], depth = 0;
    for (int k = symbol; k != R; k = parent[k])
        bits[depth++] = k & 1;
    (void)T;
    while (depth > 0)
        s->Put((uint32_t)bits[--depth], 1);
}

// Position code: upper six bits by the variable-length table, then six bits.
void PutPosition(BitStream* s, unsigned p)
{
    static const uint8_t kLength[64] = {
        3, 4, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 6, 7, 7, 7, 7, 7, 7, 7, 7,
        7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 7, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8, 8,
    };
    unsigned u = p >> 6;
    // The code of u is the first 8-bit table index that maps to it.
    unsigned first = 0;
    for (unsigned v = 0; v < u; v++)
        first += 1u << (8 - kLength[v]);
    s->Put(first >> (8 - kLength[u]), kLength[u]);
    s->Put(p & 0x3F, 6);
}

Bytes Header(uint32_t length)
{
    return Bytes{(uint8_t)length, (uint8_t)(length >> 8), (uint8_t)(length >> 16), (uint8_t)(length >> 24)};
}

// ---------------------------------------------------------------------------
// The reference encoder itself.

TEST(Lzhuf1988Reference, ReproducesPublishedSizes)
{
    Bytes licences, user32;
    if (!ReadLicences(&licences) || !ReadPrefix(kUser32, 1600000, &user32) || user32.size() < 1600000)
        GTEST_SKIP() << "reference inputs (common licences, Wine's x86_64 user32.dll) not on this machine";
    if (licences.size() != 303076)
        GTEST_SKIP() << "licence texts differ from the measured set (" << licences.size() << " bytes)";
    // Both sizes count the 4-byte length header.
    EXPECT_EQ(114107u, EncodeLzhuf1988(licences.data(), licences.size()).size());
    EXPECT_EQ(607637u, EncodeLzhuf1988(user32.data(), user32.size()).size());
}

// ---------------------------------------------------------------------------
// Decoding streams of the 1988 encoder.

struct NamedInput {
    const char* name;
    Bytes data;
};

std::vector<NamedInput> CraftedInputs()
{
    std::vector<NamedInput> v;
    v.push_back({"one byte", Bytes{'A'}});
    v.push_back({"two bytes", Bytes{0, 0xFF}});
    v.push_back({"leading spaces", Bytes(100, ' ')});
    Bytes spacesThenText(70, ' ');
    for (const char* p = "hello world"; *p; p++)
        spacesThenText.push_back((uint8_t)*p);
    v.push_back({"spaces then text", spacesThenText});
    v.push_back({"zero run", Bytes(10000, 0)});
    Bytes all;
    for (int rep = 0; rep < 3; rep++)
        for (int c = 0; c < 256; c++)
            all.push_back((uint8_t)c);
    v.push_back({"every byte value thrice", all});
    Bytes period;
    for (int i = 0; i < 20000; i++)
        period.push_back((uint8_t)("abcdefghij"[i % 10] + (i / 4097) % 3));
    v.push_back({"periodic", period});
    Bytes far;
    Bytes block = SkewedNoise(4096, 7);
    far.insert(far.end(), block.begin(), block.end());
    far.insert(far.end(), block.begin(), block.end());
    v.push_back({"repeat at distance 4096", far});
    v.push_back({"skewed noise", SkewedNoise(50000, 1)});
    return v;
}

std::vector<NamedInput> RealInputs()
{
    std::vector<NamedInput> v;
    Bytes b;
    if (ReadLicences(&b))
        v.push_back({"licence texts", b});
    if (ReadPrefix(kUser32, 1600000, &b))
        v.push_back({"user32.dll", b});
    const char* const binaries[] = {"/usr/bin/cmake", "/usr/bin/gdb", "/usr/bin/bash"};
    for (const char* path : binaries) {
        if (ReadPrefix(path, 2000000, &b)) {
            v.push_back({path, b});
            break;
        }
    }
    return v;
}

TEST(LzhufDecoder, ReproducesReferenceStreams)
{
    std::vector<NamedInput> inputs = CraftedInputs();
    std::vector<NamedInput> real = RealInputs();
    inputs.insert(inputs.end(), real.begin(), real.end());
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        ExpectDecodesTo(EncodeLzhuf1988(in.data.data(), in.data.size()), in.data);
    }
}

// A stream made of one match: the ring's pre-filled spaces are read from
// their first to their last position, and the write position starts right
// after them (p = 0 reads ring position 4035).
TEST(LzhufDecoder, FirstMatchCopiesPrefilledSpaces)
{
    const unsigned positions[] = {0, 63, 64, 4035};
    for (unsigned p : positions) {
        SCOPED_TRACE(p);
        BitStream s;
        s.bytes = Header(60);
        s.used = 8;
        PutInitialSymbol(&s, 253 + 60);
        PutPosition(&s, p);
        ExpectDecodesTo(s.bytes, Bytes(60, ' '));
    }
}

// One literal, then a distance-1 match: the copy overlaps its own output.
TEST(LzhufDecoder, DistanceOneRepeatsTheLastByte)
{
    Bytes data(61, 'x');
    Bytes stream = EncodeLzhuf1988(data.data(), data.size());
    ASSERT_LE(stream.size(), 4u + 4u) << "expected one literal and one match";
    ExpectDecodesTo(stream, data);
}

// The tree is rebuilt when the root frequency reaches 0x8000, i.e. before
// the update of symbol 32455 (the root starts at 314). Streams ending
// right around that symbol decode only if the rebuild happens exactly then.
// The tree is rebuilt when the root frequency reaches 0x8000, i.e. in the
// update of symbol 32455 (the root starts at 314), after that symbol has
// been decoded with the old tree. Streams that end right after it decode
// only if the rebuild happens exactly then; several inputs, so that the
// symbol there has a code that the rebuild changes.
TEST(LzhufDecoder, RebuildsTreeExactlyWhenRootReachesMaxFreq)
{
    for (uint32_t seed = 1; seed <= 12; seed++) {
        SCOPED_TRACE(seed);
        const Bytes noise = SkewedNoise(120000, seed);
        size_t lo = 1, hi = noise.size();
        while (lo < hi) { // shortest prefix coded with at least 32455 symbols
            size_t mid = (lo + hi) / 2, count = 0;
            EncodeLzhuf1988(noise.data(), mid, &count);
            if (count < 32455)
                lo = mid + 1;
            else
                hi = mid;
        }
        size_t count = 0;
        Bytes stream = EncodeLzhuf1988(noise.data(), lo, &count);
        ASSERT_EQ(32455u, count);
        ExpectDecodesTo(stream, Bytes(noise.begin(), noise.begin() + (long)lo));
    }
}

TEST(LzhufDecoder, RejectsLengthZeroAndTruncatedHeaderWithoutWriting)
{
    const Bytes cases[] = {
        Bytes{0, 0, 0, 0, 0x12, 0x34},
        Bytes{0, 0, 0, 0},
        Bytes{5, 0},
        Bytes{},
    };
    for (const Bytes& stream : cases) {
        SCOPED_TRACE(stream.size());
        Bytes decoded;
        EXPECT_EQ(0, Decode(stream, &decoded));
        EXPECT_TRUE(decoded.empty());
    }
}

// A read-only stream as output makes every putc fail: the decoder must
// give up at the first byte instead of reading the rest of its input.
TEST(LzhufDecoder, WriteFailureStopsAtOnce)
{
    Bytes data = SkewedNoise(20000, 5);
    Bytes stream = EncodeLzhuf1988(data.data(), data.size());
    FILE* in = TempWith(stream);
    ASSERT_NE(nullptr, in);

    const char* const path = "lzhuf_test_readonly.bin"; // in the test's working directory
    FILE* create = fopen(path, "wb");
    ASSERT_NE(nullptr, create);
    fclose(create);
    FILE* readOnly = fopen(path, "rb");
    ASSERT_NE(nullptr, readOnly);

    EXPECT_EQ(0, DecodeSegment(in, readOnly));
    EXPECT_LT(ftell(in), 64L) << "decoder kept reading after the failed write";
    fclose(readOnly);
    fclose(in);
    remove(path);
}

// Input that ends before the declared length is decoded reads as zero
// bytes: a cut stream decodes exactly like the cut stream padded with zeros.
TEST(LzhufDecoder, MissingInputReadsAsZeroBytes)
{
    Bytes data = SkewedNoise(3000, 9);
    Bytes stream = EncodeLzhuf1988(data.data(), data.size());
    stream.resize(stream.size() / 2);
    Bytes padded = stream;
    padded.resize(stream.size() + 4000, 0);
    Bytes cut, zeros;
    EXPECT_EQ(1, Decode(stream, &cut));
    EXPECT_EQ(1, Decode(padded, &zeros));
    // Garbage matches are not cut short at L: up to 59 bytes more.
    EXPECT_GE(cut.size(), data.size());
    EXPECT_LE(cut.size(), data.size() + 59);
    EXPECT_TRUE(cut == zeros);
}

// Where a decoding leaves its input: the decoder reads in blocks and gives
// back what its bit buffer has not taken, and the buffer is topped up (to
// within a byte of a whole word) only before a symbol with fewer than 32
// bits left (24 in a 32-bit word) and before a position with fewer than 16.
// So the stream stands a few bytes past the last code bit, always at the
// same place; these places are pinned for each word width, checked and
// unchecked, behind streams followed by bytes of something else: literals
// only, matches, many input blocks, a code that ends within a word of an
// input block's end (refilled byte by byte across it), and a stream whose
// input runs out (all of it read).
TEST(LzhufDecoder, LeavesTheInputWhereItsBitBufferStopped)
{
    const Bytes literals = CounterBytes(3000);
    const Bytes skewed = SkewedNoise(20000, 11);
    const Bytes many = SkewedNoise(300000, 5);
    const Bytes blockEnd = SkewedNoise(10610, 13);
    const Bytes manyStream = EncodeLzhuf1988(many.data(), many.size());
    const Bytes after(40, 0xA5);
    struct Case {
        const char* what;
        Bytes stream;
        bool followed;
        long word64, word32;
    } cases[] = {
        {"literals", EncodeLzhuf1988(literals.data(), literals.size()), true, 2440, 2439},
        {"matches", EncodeLzhuf1988(skewed.data(), skewed.size()), true, 15250, 15247},
        {"many blocks", manyStream, true, 228162, 228159},
        {"end at a block's end", EncodeLzhuf1988(blockEnd.data(), blockEnd.size()), true, 8195, 8191},
        {"input runs out", Bytes(manyStream.begin(), manyStream.begin() + 2000), false, 2000, 2000},
    };
    ASSERT_EQ(8189u, cases[3].stream.size()) << "3 bytes before the end of the second input block";
    for (const Case& c : cases) {
        Bytes input = c.stream;
        if (c.followed)
            input.insert(input.end(), after.begin(), after.end());
#if defined(VELK_DECODER_WORD32)
        const long expected = c.word32;
#else
        const long expected = sizeof(uintptr_t) == 8 ? c.word64 : c.word32;
#endif
        for (int checked = 0; checked < 2; checked++) {
            FILE* in = TempWith(input);
            FILE* out = tmpfile();
            ASSERT_TRUE(in && out);
            DecodeAccount account;
            const int result = checked ? DecodeSegmentChecked(in, out, &account) : DecodeSegment(in, out);
            EXPECT_NE(0, result) << c.what;
            EXPECT_EQ(expected, ftell(in)) << c.what << (checked ? ", checked" : "");
            fclose(in);
            fclose(out);
        }
    }
}

// The last match is copied whole even where it runs past the declared
// length: length 10, then one 60-byte match of the pre-filled spaces.
TEST(LzhufDecoder, LastMatchIsNotCutAtTheDeclaredLength)
{
    BitStream s;
    s.bytes = Header(10);
    PutInitialSymbol(&s, 253 + 60);
    PutPosition(&s, 0);
    Bytes decoded;
    ASSERT_EQ(1, Decode(s.bytes, &decoded));
    EXPECT_TRUE(decoded == Bytes(60, ' ')) << decoded.size() << " bytes";
}

// Arbitrary code bytes behind a length header are a stream too: whatever
// symbols, positions and rebuilds they give, both decoders agree (the
// comparison is in Decode). Such streams may read the last 60 ring
// positions before writing them, which both decoders keep from the stream
// before; a first stream of 60 bytes or more gives both the same ring.
TEST(LzhufDecoder, AgreesWithThe1988DecoderOnArbitraryBytes)
{
    const Bytes text = SkewedNoise(1000, 3);
    Bytes decoded;
    ASSERT_EQ(1, Decode(EncodeLzhuf1988(text.data(), text.size()), &decoded));

    struct Case {
        uint32_t length;
        size_t codeBytes;
    };
    const Case cases[] = {{1, 0}, {7, 3}, {300, 40}, {5000, 5000}, {70000, 30000}, {400000, 150000}};
    uint32_t x = 12345;
    for (const Case& c : cases) {
        for (int round = 0; round < 3; round++) {
            SCOPED_TRACE(c.length);
            Bytes stream = Header(c.length);
            for (size_t i = 0; i < c.codeBytes; i++) {
                x = x * 1103515245u + 12345u;
                // Round 1 skews the bits towards ones, round 2 towards zeros.
                uint8_t v = (uint8_t)(x >> 16);
                if (round == 1)
                    v |= (uint8_t)(x >> 8);
                if (round == 2)
                    v &= (uint8_t)(x >> 8);
                stream.push_back(v);
            }
            ASSERT_EQ(1, Decode(stream, &decoded));
            EXPECT_GE(decoded.size(), c.length);
            EXPECT_LE(decoded.size(), c.length + 59u);
        }
    }
}

// ---------------------------------------------------------------------------
// Checked decoding, for the tools: input is not padded with zero bytes.

struct CheckedRun {
    int result;
    DecodeAccount account;
    Bytes output;
};

CheckedRun DecodeChecked(const Bytes& stream)
{
    CheckedRun run = {-1, {0, 0, 0}, Bytes()};
    FILE* in = TempWith(stream);
    FILE* out = tmpfile();
    if (!in || !out)
        return run;
    run.result = DecodeSegmentChecked(in, out, &run.account);
    run.output = ReadAll(out);
    fclose(in);
    fclose(out);
    return run;
}

// A complete stream decodes as with DecodeSegment, and the decoder's
// account of the code bits it used ends in the stream's last byte, both
// for the 1988 encoder's streams and the builder's.
TEST(LzhufCheckedDecoder, CompleteStreamsUseBitsUpToTheirLastByte)
{
    std::vector<NamedInput> inputs = CraftedInputs();
    std::vector<NamedInput> real = RealInputs();
    inputs.insert(inputs.end(), real.begin(), real.end());
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        Bytes streams[2] = {EncodeLzhuf1988(in.data.data(), in.data.size()), Bytes()};
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &streams[1]));
        for (const Bytes& stream : streams) {
            CheckedRun run = DecodeChecked(stream);
            ASSERT_EQ(DecodeComplete, run.result);
            EXPECT_TRUE(run.output == in.data);
            EXPECT_EQ(in.data.size(), run.account.length);
            EXPECT_EQ(in.data.size(), run.account.written);
            EXPECT_LE(run.account.usedBits, 8 * (uint64_t)(stream.size() - 4));
            EXPECT_GT(run.account.usedBits, 8 * (uint64_t)(stream.size() - 5));
        }
    }
}

// A stream cut anywhere, or one whose header declares far more than its
// bytes hold, ends as truncated, having written no more than its bits can
// describe (at most 60 bytes a bit) and a ring's worth.
TEST(LzhufCheckedDecoder, StreamsThatRunOutOfInputAreTruncated)
{
    Bytes data = SkewedNoise(30000, 17);
    const Bytes stream = EncodeLzhuf1988(data.data(), data.size());
    std::vector<Bytes> cut;
    const size_t keeps[] = {4, 5, 6, 100, stream.size() / 2, stream.size() - 1};
    for (size_t keep : keeps)
        cut.push_back(Bytes(stream.begin(), stream.begin() + (long)keep));
    Bytes huge = Header(0xFFFFFFFFu);
    huge.insert(huge.end(), stream.begin() + 4, stream.end());
    cut.push_back(huge);
    cut.push_back(Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0x00});
    for (const Bytes& s : cut) {
        SCOPED_TRACE(s.size());
        CheckedRun run = DecodeChecked(s);
        EXPECT_EQ(DecodeTruncated, run.result);
        EXPECT_GT(run.account.usedBits, 8 * (uint64_t)(s.size() - 4));
        EXPECT_LE(run.output.size(), 60 * 8 * (s.size() - 4) + 4096 + 60);
        EXPECT_EQ(run.output.size(), run.account.written);
    }
}

// The checked decoding keeps the decoder's other rules: the last match
// runs past the declared length, and a header of 0 or one cut short fails.
TEST(LzhufCheckedDecoder, KeepsTheDecodersOtherRules)
{
    BitStream s;
    s.bytes = Header(10);
    PutInitialSymbol(&s, 253 + 60);
    PutPosition(&s, 0);
    CheckedRun run = DecodeChecked(s.bytes);
    EXPECT_EQ(DecodeComplete, run.result);
    EXPECT_EQ(10u, run.account.length);
    EXPECT_EQ(60u, run.account.written);
    EXPECT_TRUE(run.output == Bytes(60, ' '));

    const Bytes bad[] = {Bytes{0, 0, 0, 0, 0x12}, Bytes{5, 0, 0}, Bytes{}};
    for (const Bytes& stream : bad) {
        CheckedRun failed = DecodeChecked(stream);
        EXPECT_EQ(DecodeFailed, failed.result);
        EXPECT_TRUE(failed.output.empty());
    }
}

// ---------------------------------------------------------------------------
// Progress reporting.

TEST_F(DecodeProgressTest, LengthOneReportsOnceWhateverTheWidth)
{
    const int widths[] = {-7, 0, 1, 2, 171, 100000};
    for (int width : widths) {
        SCOPED_TRACE(width);
        g_log = ProgressLog();
        g_log.width = width;
        Bytes data{'Q'};
        ExpectDecodesTo(EncodeLzhuf1988(data.data(), data.size()), data);
        ASSERT_EQ(1u, g_log.written.size());
        EXPECT_EQ(1u, g_log.written[0]);
        EXPECT_EQ(1u, g_log.lengths[0]);
        EXPECT_EQ(1, g_log.widthReads);
        EXPECT_EQ(1, g_log.wipes);
    }
}

// Literal-only streams report at every multiple of s = L / width.
TEST_F(DecodeProgressTest, ReportsEveryStepThenWipes)
{
    struct Case {
        uint32_t length;
        int width;
        size_t reports;
    };
    const Case cases[] = {
        {1000, 10, 10},  // s = 100
        {1000, 7, 7},    // s = 142: 142 .. 994
        {1000, 3000, 1000}, // s = 0 -> 1
        {1000, 0, 1},    // width 0 counts as 1: s = L
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        g_log = ProgressLog();
        g_log.width = c.width;
        Bytes data = CounterBytes(c.length);
        size_t symbols = 0;
        Bytes stream = EncodeLzhuf1988(data.data(), data.size(), &symbols);
        ASSERT_EQ(data.size(), symbols) << "fixture must be literal-only";
        ExpectDecodesTo(stream, data);
        ASSERT_EQ(c.reports, g_log.written.size());
        uint32_t step = c.length / (uint32_t)(c.width < 1 ? 1 : c.width);
        if (step == 0)
            step = 1;
        for (size_t i = 0; i < g_log.written.size(); i++) {
            EXPECT_EQ((i + 1) * step, g_log.written[i]);
            EXPECT_EQ(c.length, g_log.lengths[i]);
        }
        EXPECT_EQ(1, g_log.wipes);
        EXPECT_EQ(0, g_log.reportsAfterWipe);
    }
}

// A multiple of s passed inside a match brings no report.
TEST_F(DecodeProgressTest, NoReportInsideMatch)
{
    g_log.width = 100; // L = 100 -> s = 1
    Bytes data(100, 'z');
    ExpectDecodesTo(EncodeLzhuf1988(data.data(), data.size()), data);
    // 'z', then matches of 60 and 39: reports only at symbol ends.
    ASSERT_EQ(3u, g_log.written.size());
    EXPECT_EQ(1u, g_log.written[0]);
    EXPECT_EQ(61u, g_log.written[1]);
    EXPECT_EQ(100u, g_log.written[2]);
}

TEST_F(DecodeProgressTest, FailureNeitherReportsNorWipes)
{
    g_log.width = 10;
    Bytes decoded;
    EXPECT_EQ(0, Decode(Bytes{0, 0, 0, 0, 1}, &decoded));
    EXPECT_EQ(0, g_log.wipes);
    EXPECT_TRUE(g_log.written.empty());
}

// Reports fall exactly where the count after a symbol is a multiple of the
// step. With a step of 1 every symbol end is reported, which gives the
// symbol ends of a stream with matches of all lengths; every other bar
// width must report exactly those of them that are multiples of its step.
TEST_F(DecodeProgressTest, ReportsAtEveryMultipleOfTheStepAfterASymbol)
{
    Bytes data = SkewedNoise(60000, 21);
    Bytes text = CounterBytes(20000);
    data.insert(data.end(), text.begin(), text.end());
    for (size_t i = 0; i < 40000; i++)
        data.push_back((uint8_t)("velk setup "[i % 11] + (i / 3000) % 2));
    size_t symbols = 0;
    const Bytes stream = EncodeLzhuf1988(data.data(), data.size(), &symbols);
    const uint32_t length = (uint32_t)data.size();

    g_log = ProgressLog();
    g_log.width = (int)length; // step 1
    ExpectDecodesTo(stream, data);
    const std::vector<uint32_t> ends = g_log.written;
    ASSERT_EQ(symbols, ends.size());
    ASSERT_EQ(length, ends.back());

    const int widths[] = {2, 7, 171, 999, 4096, 60000};
    for (int width : widths) {
        SCOPED_TRACE(width);
        g_log = ProgressLog();
        g_log.width = width;
        ExpectDecodesTo(stream, data);
        const uint32_t step = length / (uint32_t)width;
        std::vector<uint32_t> expected;
        for (uint32_t end : ends)
            if (end % step == 0)
                expected.push_back(end);
        EXPECT_TRUE(g_log.written == expected) << g_log.written.size() << " reports, "
                                               << expected.size() << " expected";
        EXPECT_EQ(1, g_log.wipes);
        EXPECT_EQ(0, g_log.reportsAfterWipe);
    }
}

#ifdef __GLIBC__
// An output that takes `capacity` bytes and then fails every write, as a
// full disk does; unbuffered, so that each fwrite of the decoder reaches it.
struct FillingSink {
    size_t capacity;
    size_t taken;
    size_t triedAfterFailure; // bytes offered after the first failed write
    int failed;
};

ssize_t FillingSinkWrite(void* cookie, const char* buffer, size_t size)
{
    (void)buffer;
    FillingSink* sink = (FillingSink*)cookie;
    if (sink->failed) {
        sink->triedAfterFailure += size;
        return -1;
    }
    if (sink->taken + size > sink->capacity) {
        sink->failed = 1;
        return -1;
    }
    sink->taken += size;
    return (ssize_t)size;
}

// The disk fills part way: the decoder returns 0 at the failed write,
// writes nothing more (the C library may retry what that one write held),
// reports nothing more, does not wipe the bar, and stops reading its input.
TEST_F(DecodeProgressTest, WriteFailurePartWayEndsTheDecodingAtOnce)
{
    Bytes data;
    if (!ReadPrefix(kUser32, 400000, &data))
        data = SkewedNoise(400000, 4);
    const Bytes stream = EncodeLzhuf1988(data.data(), data.size());
    const size_t capacities[] = {0, 1, 4095, 100000};
    for (size_t capacity : capacities) {
        SCOPED_TRACE(capacity);
        g_log = ProgressLog();
        g_log.width = 400;
        FillingSink sink = {capacity, 0, 0, 0};
        cookie_io_functions_t io = {nullptr, FillingSinkWrite, nullptr, nullptr};
        FILE* out = fopencookie(&sink, "wb", io);
        ASSERT_NE(nullptr, out);
        setvbuf(out, nullptr, _IONBF, 0);
        FILE* in = TempWith(stream);
        ASSERT_NE(nullptr, in);
        EXPECT_EQ(0, DecodeSegment(in, out));
        EXPECT_EQ(1, sink.failed);
        EXPECT_LE(sink.triedAfterFailure, 4096u + 60u);
        EXPECT_EQ(0, g_log.wipes);
        for (uint32_t w : g_log.written)
            EXPECT_LE(w, capacity + 4096 + 60) << "reported far beyond what the disk took";
        EXPECT_LT(ftell(in), (long)stream.size() / 2) << "kept reading after the failed write";
        fclose(in);
        fclose(out);
    }
}
#endif

// ---------------------------------------------------------------------------
// The builder's encoder.

TEST(LzhufEncoder, RoundTrips)
{
    std::vector<NamedInput> inputs = CraftedInputs();
    inputs.push_back({"three bytes", Bytes{1, 2, 3}});
    inputs.push_back({"61 bytes", CounterBytes(61)});
    std::vector<NamedInput> real = RealInputs();
    inputs.insert(inputs.end(), real.begin(), real.end());
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        Bytes stream;
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &stream));
        ASSERT_GT(stream.size(), 4u);
        EXPECT_TRUE(Bytes(stream.begin(), stream.begin() + 4) == Header((uint32_t)in.data.size()));
        ExpectDecodesTo(stream, in.data);
    }
}

// The stream ends in the byte that holds its last code bit: the top bit of
// the last byte is a code bit, so flipping it changes what comes out.
// (Inputs with varied content, where a flipped position bit shows too.)
TEST(LzhufEncoder, LastByteHoldsTheLastCodeBit)
{
    std::vector<NamedInput> inputs = RealInputs();
    inputs.push_back({"skewed noise", SkewedNoise(50000, 1)});
    inputs.push_back({"two bytes", Bytes{0, 0xFF}});
    inputs.push_back({"counter", CounterBytes(5000)});
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        Bytes stream, decoded;
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &stream));
        stream.back() ^= 0x80;
        Decode(stream, &decoded);
        EXPECT_FALSE(decoded == in.data) << "last byte carries no code bits";
    }
}

TEST(LzhufEncoder, BeatsTheGreedyEncoderOnRealData)
{
    std::vector<NamedInput> real = RealInputs();
    if (real.empty())
        GTEST_SKIP() << "no real input files on this machine";
    for (const NamedInput& in : real) {
        SCOPED_TRACE(in.name);
        Bytes ours;
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &ours));
        size_t reference = EncodeLzhuf1988(in.data.data(), in.data.size()).size();
        EXPECT_LT(ours.size() * 100, reference * 99) << ours.size() << " vs " << reference;
    }
}

TEST(LzhufEncoder, RejectsEmptyInputAndBadMarkers)
{
    Bytes out{1, 2, 3};
    const uint8_t byte = 'a';
    EXPECT_EQ(0, EncodeLzhuf(&byte, 0, &out));
    EXPECT_EQ(0, EncodeCleanSegment(&byte, 0, "KWAZ", 0, &out));
    const char* const bad[] = {nullptr, "", "KK", "KWAZX", "KWK"};
    for (const char* marker : bad)
        EXPECT_EQ(0, EncodeCleanSegment(&byte, 1, marker, 0, &out)) << (marker ? marker : "null");
}

bool Contains(const Bytes& s, const char* m)
{
    size_t n = strlen(m);
    for (size_t i = 0; i + n <= s.size(); i++)
        if (memcmp(&s[i], m, n) == 0)
            return true;
    return false;
}

bool EndsWithPrefix(const Bytes& s, const char* m)
{
    size_t n = strlen(m);
    for (size_t k = 1; k < n && k <= s.size(); k++)
        if (memcmp(&s[s.size() - k], m, k) == 0)
            return true;
    return false;
}

// "KW" turns up in a few hundred KB of plain output; the clean encoder must
// repair every occurrence, keep the end clear of "K", and stay decodable.
// Variants must differ from each other and be equally clean.
TEST(LzhufEncoder, CleanSegmentsAvoidAFrequentMarker)
{
    std::vector<NamedInput> inputs;
    Bytes b;
    if (ReadLicences(&b))
        inputs.push_back({"licence texts", b});
    if (ReadPrefix(kUser32, 400000, &b))
        inputs.push_back({"user32.dll", b});
    inputs.push_back({"skewed noise", SkewedNoise(300000, 11)});
    const char* const marker = "KW";
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        Bytes plain;
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &plain));
        std::vector<Bytes> variants;
        for (unsigned v = 0; v < 4; v++) {
            SCOPED_TRACE(v);
            Bytes clean;
            ASSERT_EQ(1, EncodeCleanSegment(in.data.data(), (uint32_t)in.data.size(), marker, v, &clean));
            EXPECT_FALSE(Contains(clean, marker));
            EXPECT_FALSE(EndsWithPrefix(clean, marker));
            ExpectDecodesTo(clean, in.data);
            for (const Bytes& earlier : variants)
                EXPECT_FALSE(earlier == clean) << "variant repeats an earlier one";
            variants.push_back(clean);
            Bytes again;
            ASSERT_EQ(1, EncodeCleanSegment(in.data.data(), (uint32_t)in.data.size(), marker, v, &again));
            EXPECT_TRUE(again == clean) << "not deterministic";
        }
        if (!Contains(plain, marker) && !EndsWithPrefix(plain, marker)) {
            EXPECT_TRUE(variants[0] == plain) << "a clean stream needs no change";
        }
    }
}

// With the real four-byte marker a clean stream costs next to nothing.
TEST(LzhufEncoder, CleanSegmentWithPayloadMarkerKeepsTheSize)
{
    Bytes data;
    if (!ReadLicences(&data))
        data = SkewedNoise(200000, 13);
    Bytes plain, clean;
    ASSERT_EQ(1, EncodeLzhuf(data.data(), (uint32_t)data.size(), &plain));
    ASSERT_EQ(1, EncodeCleanSegment(data.data(), (uint32_t)data.size(), "KWAZ", 0, &clean));
    EXPECT_FALSE(Contains(clean, "KWAZ"));
    EXPECT_FALSE(EndsWithPrefix(clean, "KWAZ"));
    EXPECT_LE(clean.size(), plain.size() + 2);
    ExpectDecodesTo(clean, data);
}

// The plain encoder forgets what it has coded while the clean one keeps it
// for repairs; where no repair is needed both must make the same stream.
// The marker is one that the plain stream lacks, so no chunk is redone,
// and the inputs span many chunks.
TEST(LzhufEncoder, CleanDefaultIsThePlainStreamWhenNothingNeedsRepair)
{
    std::vector<NamedInput> inputs = CraftedInputs();
    std::vector<NamedInput> real = RealInputs();
    inputs.insert(inputs.end(), real.begin(), real.end());
    inputs.push_back({"skewed noise, 300 KB", SkewedNoise(300000, 5)});
    for (const NamedInput& in : inputs) {
        SCOPED_TRACE(in.name);
        Bytes plain;
        ASSERT_EQ(1, EncodeLzhuf(in.data.data(), (uint32_t)in.data.size(), &plain));
        // The first of a few markers (distinct characters, never a byte of
        // the header) that is not in the plain stream, nor begun at its end.
        const char* const candidates[] = {"KWAZ", "\xF1\x07\xA3\x5C", "\x91\xE2\x3B\x0D", "\x6E\xC4\x18\xB7"};
        const char* marker = nullptr;
        for (const char* m : candidates) {
            if (!Contains(plain, m) && !EndsWithPrefix(plain, m)) {
                marker = m;
                break;
            }
        }
        ASSERT_TRUE(marker != nullptr);
        Bytes clean;
        ASSERT_EQ(1, EncodeCleanSegment(in.data.data(), (uint32_t)in.data.size(), marker, 0, &clean));
        EXPECT_TRUE(clean == plain) << clean.size() << " vs " << plain.size();
    }
}

} // namespace

namespace {

// The whole segment is clean, length header included. The header is fixed
// by the size: where it holds the marker (sizes chosen so that it does, for
// markers short enough to fit), no clean encoding exists and the encoder
// says so; otherwise no byte of the stream, header or code, starts the
// marker anywhere, and a one-character marker is missing from every byte.
TEST(LzhufEncoder, CleanSegmentContractCoversTheLengthHeader)
{
    struct Case {
        const char* marker;
        uint32_t size;
        int result;
        int problem;
    };
    const Case cases[] = {
        {"K", 75, 0, CleanSegmentHeaderHoldsMarker},          // 4B 00 00 00
        {"K", 0x4B00 + 7, 0, CleanSegmentHeaderHoldsMarker},  // 07 4B 00 00
        {"KW", 0x574B, 0, CleanSegmentHeaderHoldsMarker},     // 4B 57 00 00
        {"W", 0x5700 + 75, 0, CleanSegmentHeaderHoldsMarker}, // 4B 57 00 00 holds "W"
        {"\x01", 1, 0, CleanSegmentHeaderHoldsMarker},        // 01 00 00 00
        {"KW", 75, 1, CleanSegmentOk},                        // 4B, then 00: no "KW"
        {"K", 76, 1, CleanSegmentOk},
        {"K", 5000, 1, CleanSegmentOk},
        {"AZ", 0x5A41, 0, CleanSegmentHeaderHoldsMarker},     // 41 5A 00 00
        {"ZA", 0x5A41, 1, CleanSegmentOk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.marker) + " " + std::to_string(c.size));
        // Text with repeats, so that the encoder has decisions to change.
        Bytes data;
        for (uint32_t i = 0; data.size() < c.size; i++) {
            const std::string line = "line " + std::to_string(i * 7 % 1000) + " of the velk settings\r\n";
            data.insert(data.end(), line.begin(), line.end());
        }
        data.resize(c.size);
        Bytes out{9, 9, 9};
        int problem = -1;
        ASSERT_EQ(c.result, EncodeCleanSegment(data.data(), c.size, c.marker, 0, &out, &problem));
        EXPECT_EQ(c.problem, problem) << CleanSegmentProblemText(problem);
        if (c.result == 0) {
            EXPECT_TRUE(out == (Bytes{9, 9, 9})) << "output changed on failure";
            EXPECT_NE(std::string::npos, std::string(CleanSegmentProblemText(problem)).find("no clean encoding exists"));
            continue;
        }
        EXPECT_FALSE(Contains(out, c.marker));
        EXPECT_FALSE(EndsWithPrefix(out, c.marker));
        ExpectDecodesTo(out, data);
    }
}

// Every clean stream whose last byte has spare bits has variants: the
// first ones differ from the default only in those bits, keep its size,
// decode the same and stay clean. Inputs of literals only (no decision can
// be changed) are the ones that used to have no second variant.
TEST(LzhufEncoder, CleanVariantsFromTheSpareBitsOfTheLastByte)
{
    int withSpareBits = 0;
    for (uint32_t size = 256; size < 296; size++) {
        SCOPED_TRACE(size);
        Bytes data(size);
        uint32_t x = size * 2654435761u;
        for (uint32_t i = 0; i < size; i++) {
            x = x * 1103515245u + 12345u;
            data[i] = (uint8_t)(x >> 16);
        }
        Bytes clean;
        ASSERT_EQ(1, EncodeCleanSegment(data.data(), size, "KWAZ", 0, &clean));
        FILE* in = TempWith(clean);
        FILE* out = tmpfile();
        ASSERT_TRUE(in && out);
        DecodeAccount account;
        ASSERT_EQ(DecodeComplete, DecodeSegmentChecked(in, out, &account));
        fclose(in);
        fclose(out);
        const uint64_t spare = 8 * (uint64_t)(clean.size() - 4) - account.usedBits;
        Bytes variant;
        int problem = -1;
        int got = EncodeCleanSegment(data.data(), size, "KWAZ", 1, &variant, &problem);
        if (spare == 0) {
            if (!got) {
                EXPECT_EQ(CleanSegmentNoSuchVariant, problem);
            }
            continue;
        }
        withSpareBits++;
        ASSERT_EQ(1, got) << CleanSegmentProblemText(problem);
        EXPECT_EQ(clean.size(), variant.size());
        EXPECT_TRUE(Bytes(clean.begin(), clean.end() - 1) == Bytes(variant.begin(), variant.end() - 1));
        EXPECT_NE(clean.back(), variant.back());
        EXPECT_FALSE(Contains(variant, "KWAZ"));
        EXPECT_FALSE(EndsWithPrefix(variant, "KWAZ"));
        ExpectDecodesTo(variant, data);
    }
    EXPECT_GT(withSpareBits, 20);
}

} // namespace
