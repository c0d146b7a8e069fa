// velkpack on hostile streams: a length header that declares far more than
// the stream's bits can hold must cost no more than those bits. decode ends
// with the truncated-stream error, inspect only lists; both under a memory
// limit far below the declared length, and decode leaves no output.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

#include "tests/reference/lzhuf1988.h"
#include "tests/test_files.h"

#if defined(__SANITIZE_ADDRESS__)
#define VELK_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_UNDER_ASAN 1
#endif
#endif

namespace {

typedef CommandRun VelkpackRun; // standard output and standard error

// Runs velkpack with its address space limited to `limitBytes` (0: no
// limit). A sanitizer build reserves far more address space than any such
// limit allows, so there the limit is left out.
VelkpackRun Velkpack(const std::string& args, unsigned long limitBytes)
{
    std::string command = VELKPACK_PATH;
#ifndef VELK_UNDER_ASAN
    if (limitBytes)
        command = "prlimit --as=" + std::to_string(limitBytes) + " " + command;
#else
    (void)limitBytes;
#endif
    return RunCommand(command + " " + args + " 2>&1");
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

std::string Header(uint32_t length)
{
    return std::string{static_cast<char>(length), static_cast<char>(length >> 8),
                       static_cast<char>(length >> 16), static_cast<char>(length >> 24)};
}

class VelkpackBounds : public ::testing::Test {
protected:
    std::string dir;
    void SetUp() override
    {
        char name[] = "/tmp/velkpack-bounds.XXXXXX";
        ASSERT_TRUE(mkdtemp(name) != NULL);
        dir = name;
    }
    void TearDown() override { ASSERT_EQ(0, system(("rm -rf '" + dir + "'").c_str())); }
};

// 64 MiB of address space is far below the 4 GiB these headers declare and
// above what velkpack needs for the stream itself.
const unsigned long kLimit = 64ul << 20;

TEST_F(VelkpackBounds, DecodeOfAStreamThatDeclaresTooMuchEndsTruncated)
{
    const std::string text = ReadFileBytes("/usr/share/common-licenses/GPL-3");
    ASSERT_FALSE(text.empty());
    const std::vector<uint8_t> stream =
        EncodeLzhuf1988(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    const std::string code(stream.begin() + 4, stream.end());
    // Zeros compress to a symbol per 60 bytes, so a few kilobytes of code
    // bits could describe megabytes; the decoding must still stop at them.
    const std::string zeros(8000000, '\0');
    const std::vector<uint8_t> zeroStream =
        EncodeLzhuf1988(reinterpret_cast<const uint8_t*>(zeros.data()), zeros.size());
    const std::string zeroCode(zeroStream.begin() + 4, zeroStream.end());

    struct Case {
        const char* name;
        std::string bytes;
    } cases[] = {
        {"all-ones header, one code byte", Header(0xFFFFFFFFu) + std::string(1, '\x55')},
        {"all-ones header, a real stream's code", Header(0xFFFFFFFFu) + code},
        {"all-ones header, the code of 8 MB of zeros", Header(0xFFFFFFFFu) + zeroCode},
        {"3 GB declared, a real stream's code", Header(3000000000u) + code},
        {"a real stream cut in half", Header(static_cast<uint32_t>(text.size())) +
                                          code.substr(0, code.size() / 2)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string in = dir + "/in.lzh", out = dir + "/out.bin";
        ASSERT_TRUE(WriteFileBytes(in, c.bytes));
        VelkpackRun run = Velkpack("decode " + in + " " + out, kLimit);
        EXPECT_EQ(1, run.status) << run.output;
        EXPECT_EQ(0u, run.output.find("velkpack: " + in + ": stream is truncated")) << run.output;
        EXPECT_EQ(run.output.size() - 1, run.output.find('\n')) << "not one line: " << run.output;
        EXPECT_FALSE(Exists(out));
    }
}

// The installer would write the whole of a last match that runs past the
// declared length; velkpack refuses such a stream, saying what it is.
TEST_F(VelkpackBounds, DecodeRefusesALastMatchPastTheDeclaredLength)
{
    // Sixty spaces are one match into the ring's spaces; declared: 10.
    const std::string spaces(60, ' ');
    std::vector<uint8_t> stream =
        EncodeLzhuf1988(reinterpret_cast<const uint8_t*>(spaces.data()), spaces.size());
    ASSERT_LE(stream.size(), 8u) << "expected one match";
    stream[0] = 10;
    const std::string in = dir + "/past.lzh", out = dir + "/out.bin";
    ASSERT_TRUE(WriteFileBytes(in, std::string(stream.begin(), stream.end())));
    VelkpackRun run = Velkpack("decode " + in + " " + out, kLimit);
    EXPECT_EQ(1, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("last match runs 50 bytes past the declared length of 10"))
        << run.output;
    EXPECT_FALSE(Exists(out));
}

// inspect reads headers and does not decode: a container whose segments
// declare 4 GiB each is listed within the same limit.
TEST_F(VelkpackBounds, InspectListsHugeDeclaredLengthsWithinTheLimit)
{
    std::string container;
    for (int k = 0; k < 10; k++)
        container += "KWAZ" + Header(0xFFFFFFFFu) + std::string(100, static_cast<char>('a' + k));
    container += "KWAZKWAZ\r\n";
    const std::string path = dir + "/huge.bin";
    ASSERT_TRUE(WriteFileBytes(path, container));
    VelkpackRun run = Velkpack("inspect " + path, kLimit);
    EXPECT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("4294967295")) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("final pair of markers: found")) << run.output;
}

} // namespace
