#include "tools/pack.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <vector>

#include "payload/crc32.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tools/file_io.h"
#include "tools/lzhuf_encoder.h"

#ifdef _WIN32
#include <direct.h>
#define MakeFolder(path) _mkdir(path)
#else
#define MakeFolder(path) mkdir(path, 0755)
#endif

namespace {

void WriteText(const std::string& path, const std::string& text)
{
    FILE* f = fopen(path.c_str(), "wb");
    ASSERT_TRUE(f != NULL) << path;
    fwrite(text.data(), 1, text.size(), f);
    fclose(f);
}

// Ten small inputs: texts, bytes that hold the marker and its prefixes,
// and a binary-like run, so that the guard and the scan both have work.
std::string InputFor(int k)
{
    std::string text;
    for (int i = 0; i < 40 + 30 * k; i++)
        text += "line " + std::to_string(i * (k + 1)) + " of " + InstallFileTable[k] + "\r\n";
    if (k == 3)
        text += "KWAZ KWAZ KWA KW K";
    if (k == 0)
        for (int i = 0; i < 3000; i++)
            text += static_cast<char>((i * 7919) >> 3);
    return text;
}

// A folder holding the ten files; removed with its files at the end.
struct InputFolder {
    std::string path;
    explicit InputFolder(const std::string& name) : path(name)
    {
        MakeFolder(path.c_str());
        for (int k = 0; k < kInstallFileCount; k++)
            WriteText(path + "/" + InstallFileTable[k], InputFor(k));
    }
    ~InputFolder()
    {
        for (int k = 0; k < kInstallFileCount; k++)
            remove((path + "/" + InstallFileTable[k]).c_str());
        rmdir(path.c_str());
    }
};

TEST(Pack, BuildsAVerifiedDeterministicContainer)
{
    InputFolder folder("pack_inputs");
    static PackedPayload payload, again;
    std::string error;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &payload, &error)) << error;
    ASSERT_EQ(ToolOk, BuildPayload(&payload, &error)) << error;
    EXPECT_EQ(ToolOk, VerifyPayload(payload, &error)) << error;

    // The layout: marker, stream, ... marker, stream, marker, marker, CR LF.
    std::string expected;
    std::string joined;
    for (const PackedFile& file : payload.files) {
        expected += "KWAZ" + std::string(file.stream.begin(), file.stream.end());
        joined += std::string(file.stream.begin(), file.stream.end());
    }
    expected += "KWAZKWAZ\r\n";
    EXPECT_EQ(expected, std::string(payload.bytes.begin(), payload.bytes.end()));
    EXPECT_EQ(Crc32(reinterpret_cast<const uint8_t*>(joined.data()), joined.size()), payload.crc);
    EXPECT_NE(0u, payload.crc);
    for (const PackedFile& file : payload.files) {
        std::string stream(file.stream.begin(), file.stream.end());
        EXPECT_EQ(std::string::npos, stream.find("KWAZ")) << file.name;
        EXPECT_NE('K', stream.back()) << file.name;
    }

    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &again, &error)) << error;
    ASSERT_EQ(ToolOk, BuildPayload(&again, &error)) << error;
    EXPECT_TRUE(payload.bytes == again.bytes);
}

TEST(Pack, SteersTheChecksumAwayFromAForbiddenValue)
{
    // 0 cannot be produced on demand; the same steering is exercised with
    // the checksum the default encoding gives.
    InputFolder folder("pack_steer");
    static PackedPayload payload, steered;
    std::string error;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &payload, &error));
    ASSERT_EQ(ToolOk, BuildPayload(&payload, &error));
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &steered, &error));
    ASSERT_EQ(ToolOk, BuildPayload(&steered, &error, payload.crc)) << error;
    EXPECT_NE(payload.crc, steered.crc);
    EXPECT_GT(steered.files[kInstallFileCount - 1].variant, 0u);
    EXPECT_EQ(ToolOk, VerifyPayload(steered, &error)) << error;
}

// A rule that refuses the first `count` checksums it is asked about.
struct RefuseFirst {
    int count;
    std::vector<uint32_t> refused;
};

int RefuseFirstCrcs(uint32_t crc, void* context)
{
    RefuseFirst* rule = static_cast<RefuseFirst*>(context);
    if (static_cast<int>(rule->refused.size()) >= rule->count)
        return 0;
    rule->refused.push_back(crc);
    return 1;
}

// The steering finds a way out through the variants of any of the files.
// The last file here is the single byte "z", whose code fills its one byte
// exactly and offers no decision to change: it has no variant at all, so
// refusing the first checksums forces the steering through the variants
// of the other files.
TEST(Pack, SteeringFindsAWayOutThroughAnyFile)
{
    InputFolder folder("pack_way_out");
    WriteText(folder.path + "/urls.ini", "z");
    static PackedPayload payload;
    std::string error;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &payload, &error)) << error;
    RefuseFirst rule = {25, {}};
    CrcRules rules = {0, 0, RefuseFirstCrcs, &rule};
    ASSERT_EQ(ToolOk, BuildPayload(&payload, &error, rules)) << error;
    EXPECT_EQ(25u, rule.refused.size());
    EXPECT_EQ(0u, payload.files[kInstallFileCount - 1].variant);
    int varied = 0;
    for (const PackedFile& file : payload.files)
        varied += file.variant > 0;
    EXPECT_EQ(1, varied) << "one file steers, the others keep their default encoding";
    for (uint32_t crc : rule.refused)
        EXPECT_NE(crc, payload.crc);
    EXPECT_EQ(ToolOk, VerifyPayload(payload, &error)) << error;
}

// The rules: 0 always refused, one more value, any of the CRC's four
// little-endian bytes being the marker's first character, and a predicate.
TEST(Pack, CrcRulesRefuseWhatTheyName)
{
    int (*odd)(uint32_t, void*) = [](uint32_t crc, void*) { return static_cast<int>(crc & 1); };
    struct Case {
        CrcRules rules;
        uint32_t crc;
        int allowed;
    } cases[] = {
        {{0, 0, nullptr, nullptr}, 0, 0},
        {{0, 0, nullptr, nullptr}, 0x12345678, 1},
        {{0x12345678, 0, nullptr, nullptr}, 0x12345678, 0},
        {{0, 1, nullptr, nullptr}, 0x4B000000, 0},
        {{0, 1, nullptr, nullptr}, 0x00004B00, 0},
        {{0, 1, nullptr, nullptr}, 0x1234564B, 0},
        {{0, 1, nullptr, nullptr}, 0x4A4C4D4E, 1},
        {{0, 0, nullptr, nullptr}, 0x1234564B, 1},
        {{0, 0, odd, nullptr}, 0x12345679, 0},
        {{0, 0, odd, nullptr}, 0x12345678, 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.allowed, CrcAllowed(c.rules, c.crc)) << std::hex << c.crc;
}

// With the marker-character rule on top of a refused default, the payload
// gets a CRC none of whose bytes is "K"; a rule that refuses everything
// ends in a clear message once every variant of every file has been tried.
TEST(Pack, SteersByTheRulesOrSaysThatNoEncodingFits)
{
    InputFolder folder("pack_rules");
    static PackedPayload payload, steered;
    std::string error;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &payload, &error));
    ASSERT_EQ(ToolOk, BuildPayload(&payload, &error));
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &steered, &error));
    CrcRules rules = {payload.crc, 1, nullptr, nullptr};
    ASSERT_EQ(ToolOk, BuildPayload(&steered, &error, rules)) << error;
    EXPECT_NE(payload.crc, steered.crc);
    for (int b = 0; b < 4; b++)
        EXPECT_NE('K', static_cast<char>(steered.crc >> (8 * b))) << std::hex << steered.crc;
    EXPECT_EQ(ToolOk, VerifyPayload(steered, &error)) << error;

    static PackedPayload hopeless;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &hopeless, &error));
    int (*never)(uint32_t, void*) = [](uint32_t, void*) { return 1; };
    CrcRules refuseAll = {0, 0, never, nullptr};
    EXPECT_EQ(ToolMalformed, BuildPayload(&hopeless, &error, refuseAll));
    EXPECT_NE(std::string::npos, error.find("no encoding of the ten files gives the payload a checksum the rules allow"))
        << error;
}

TEST(Pack, VerifyRefusesABrokenContainer)
{
    InputFolder folder("pack_broken");
    static PackedPayload payload;
    std::string error;
    ASSERT_EQ(ToolOk, ReadPayloadInputs(folder.path, &payload, &error));
    ASSERT_EQ(ToolOk, BuildPayload(&payload, &error));

    // A marker inside a segment shifts every later file by one index.
    static PackedPayload shifted;
    shifted = payload;
    shifted.bytes.insert(shifted.bytes.begin() + 20, {'K', 'W', 'A', 'Z'});
    EXPECT_EQ(ToolMalformed, VerifyPayload(shifted, &error));
    EXPECT_NE(std::string::npos, error.find("segments")) << error;

    // A stream that no longer decodes to its input.
    static PackedPayload damaged;
    damaged = payload;
    damaged.files[4].input[10] ^= 1;
    EXPECT_EQ(ToolMalformed, VerifyPayload(damaged, &error));
    EXPECT_NE(std::string::npos, error.find("versions.txt")) << error;
}

TEST(Pack, InputErrorsNameTheFile)
{
    static PackedPayload payload;
    std::string error;
    EXPECT_EQ(ToolIoError, ReadPayloadInputs("no_such_folder", &payload, &error));
    EXPECT_EQ(0u, error.find("no_such_folder: ")) << error;

    InputFolder folder("pack_errors");
    remove((folder.path + "/popups.ini").c_str());
    EXPECT_EQ(ToolIoError, ReadPayloadInputs(folder.path, &payload, &error));
    EXPECT_NE(std::string::npos, error.find("popups.ini")) << error;

    WriteText(folder.path + "/popups.ini", "");
    EXPECT_EQ(ToolMalformed, ReadPayloadInputs(folder.path, &payload, &error));
    EXPECT_NE(std::string::npos, error.find("popups.ini: file is empty")) << error;
}

TEST(Pack, DecodeStreamRefusesShortAndTruncatedStreams)
{
    std::vector<uint8_t> text(20000);
    for (size_t i = 0; i < text.size(); i++)
        text[i] = "velk chat client settings "[i % 26] + (i / 997) % 3;
    std::vector<uint8_t> stream, output;
    ASSERT_TRUE(EncodeCleanSegment(text.data(), static_cast<uint32_t>(text.size()), "KWAZ", 0, &stream));
    std::string error;
    ASSERT_EQ(ToolOk, DecodeStream(stream, &output, &error)) << error;
    EXPECT_TRUE(output == text);

    struct Case {
        size_t keep;
        const char* problem;
    } cases[] = {
        {0, "empty"},
        {3, "shorter than its 4-byte length header"},
        {4, "truncated"},
        {stream.size() / 2, "truncated"},
        {stream.size() - 1, "truncated"},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> cut(stream.begin(), stream.begin() + c.keep);
        EXPECT_EQ(ToolMalformed, DecodeStream(cut, &output, &error)) << c.keep;
        EXPECT_NE(std::string::npos, error.find(c.problem)) << c.keep << ": " << error;
    }
    std::vector<uint8_t> zero = {0, 0, 0, 0, 0x12};
    EXPECT_EQ(ToolMalformed, DecodeStream(zero, &output, &error));
    EXPECT_NE(std::string::npos, error.find("length of 0")) << error;
}

} // namespace
