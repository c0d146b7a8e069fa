// velkpack as a release engineer runs it: the real program on real files.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "payload/install_file_table.h"
#include "tests/reference/lzhuf1988.h"
#include "tests/test_files.h"

namespace {

struct CliRun {
    int status;
    std::string output; // standard output and standard error
};

CliRun Velkpack(const std::string& args)
{
    std::string command = std::string(VELKPACK_PATH) + " " + args + " 2>&1";
    FILE* pipe = popen(command.c_str(), "r");
    CliRun run = {-1, ""};
    if (!pipe)
        return run;
    char buffer[4096];
    size_t got;
    while ((got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        run.output.append(buffer, got);
    int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

std::string ReadFile(const std::string& path)
{
    return ReadFileBytes(path);
}

void WriteFile(const std::string& path, const std::string& data)
{
    ASSERT_TRUE(WriteFileBytes(path, data)) << path;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

// Files in the folder other than the given ones (leftover temporaries).
int CountEntries(const std::string& dir)
{
    std::string command = "ls -A '" + dir + "' | wc -l";
    FILE* pipe = popen(command.c_str(), "r");
    int n = -1;
    if (pipe) {
        if (fscanf(pipe, "%d", &n) != 1)
            n = -1;
        pclose(pipe);
    }
    return n;
}

class VelkpackCli : public ::testing::Test {
protected:
    std::string dir;
    std::string payloadDir;
    void SetUp() override
    {
        char name[] = "/tmp/velkpack-cli.XXXXXX";
        ASSERT_TRUE(mkdtemp(name) != NULL);
        dir = name;
        payloadDir = std::string(getenv("VELK_SOURCE_DIR")) + "/resources/payload";
    }
    void TearDown() override { ASSERT_EQ(0, system(("rm -rf '" + dir + "'").c_str())); }
    // The sample payload's folder with a client (the build adds the sample
    // client; here a real program of this machine stands in), in a copy that
    // a test may change.
    std::string CopyOfPayloadDir()
    {
        std::string copy = dir + "/inputs";
        EXPECT_EQ(0, system(("cp -r '" + payloadDir + "' '" + copy + "'").c_str()));
        EXPECT_EQ(0, system(("cp /bin/true '" + copy + "/velk32.exe'").c_str()));
        return copy;
    }
};

TEST_F(VelkpackCli, PackInspectAndTheCrcHeaderAgree)
{
    std::string payload = dir + "/payload.bin", header = dir + "/crc.h";
    std::string inputs = CopyOfPayloadDir();
    CliRun pack = Velkpack("pack " + inputs + " -o " + payload + " --crc-header " + header);
    ASSERT_EQ(0, pack.status) << pack.output;
    for (int k = 0; k < kInstallFileCount; k++)
        EXPECT_NE(std::string::npos, pack.output.find(InstallFileTable[k])) << pack.output;

    // The CRC printed, the one in the header, the one inspect computes and
    // zlib's CRC-32 of the ten segments joined are all the same value.
    std::string bytes = ReadFile(payload);
    std::string joined;
    size_t at = 4;
    for (int k = 0; k < kInstallFileCount; k++) {
        size_t next = bytes.find("KWAZ", at);
        ASSERT_NE(std::string::npos, next);
        joined += bytes.substr(at, next - at);
        at = next + 4;
    }
    EXPECT_EQ("KWAZ\r\n", bytes.substr(at));
    unsigned long crc = crc32(0L, reinterpret_cast<const Bytef*>(joined.data()), joined.size());
    char hex[16];
    snprintf(hex, sizeof hex, "0x%08lX", crc);
    EXPECT_NE(std::string::npos, pack.output.find(hex)) << pack.output;
    EXPECT_NE(std::string::npos, ReadFile(header).find(std::string("ExpectedPayloadCrc = ") + hex));

    CliRun inspect = Velkpack("inspect " + payload);
    EXPECT_EQ(0, inspect.status) << inspect.output;
    EXPECT_NE(std::string::npos, inspect.output.find(hex)) << inspect.output;
    EXPECT_NE(std::string::npos, inspect.output.find("final pair of markers: found"));
    EXPECT_NE(std::string::npos, inspect.output.find("9     urls.ini")) << inspect.output;

    // Same inputs, same bytes.
    ASSERT_EQ(0, Velkpack("pack " + inputs + " -o " + dir + "/again.bin").status);
    EXPECT_TRUE(bytes == ReadFile(dir + "/again.bin"));
}

TEST_F(VelkpackCli, DecodeReproducesReferenceStreamsAndEncodeRoundTrips)
{
    // Real content: a text and a binary of this machine.
    const char* inputs[] = {"/usr/share/common-licenses/GPL-3", "/bin/ls"};
    for (const char* input : inputs) {
        std::string data = ReadFile(input);
        ASSERT_FALSE(data.empty()) << input;
        std::vector<uint8_t> reference =
            EncodeLzhuf1988(reinterpret_cast<const uint8_t*>(data.data()), data.size());
        WriteFile(dir + "/ref.lzh", std::string(reference.begin(), reference.end()));
        CliRun decode = Velkpack("decode " + dir + "/ref.lzh " + dir + "/ref.out");
        ASSERT_EQ(0, decode.status) << decode.output;
        EXPECT_TRUE(data == ReadFile(dir + "/ref.out")) << input;

        CliRun encode = Velkpack(std::string("encode ") + input + " " + dir + "/own.lzh");
        ASSERT_EQ(0, encode.status) << encode.output;
        EXPECT_LT(ReadFile(dir + "/own.lzh").size(), reference.size()) << input;
        ASSERT_EQ(0, Velkpack("decode " + dir + "/own.lzh " + dir + "/own.out").status);
        EXPECT_TRUE(data == ReadFile(dir + "/own.out")) << input;
    }
}

TEST_F(VelkpackCli, BadInputGetsOneLineAndNoOutput)
{
    std::string inputs = CopyOfPayloadDir();
    WriteFile(dir + "/empty", "");
    WriteFile(dir + "/short.lzh", "\x10\x00");
    WriteFile(dir + "/zero.lzh", std::string("\0\0\0\0\x55", 5));
    WriteFile(dir + "/nomarker.bin", "a file without any marker");
    const char threeSegments[] = "KWAZ\x01\0\0\0aKWAZ\x01\0\0\0bKWAZ\x01\0\0\0cKWAZKWAZ\r\n";
    WriteFile(dir + "/threesegs.bin", std::string(threeSegments, sizeof threeSegments - 1));
    std::string good = dir + "/good.lzh";
    ASSERT_EQ(0, Velkpack("encode /usr/share/common-licenses/GPL-2 " + good).status);
    std::string stream = ReadFile(good);
    WriteFile(dir + "/cut.lzh", stream.substr(0, stream.size() / 2));
    // A file over 4 GiB, sparse so that it costs no disk.
    std::string huge = dir + "/huge";
    WriteFile(huge, "");
    ASSERT_EQ(0, truncate(huge.c_str(), 0x100000010LL));

    struct Case {
        std::string args;
        int status;
        std::string message; // part of the one-line error
        std::string output;  // must not exist afterwards
    } cases[] = {
        {"pack " + dir + "/missing -o " + dir + "/p1", 2, dir + "/missing: ", dir + "/p1"},
        {"pack " + dir + "/empty -o " + dir + "/p2", 2, "not a folder", dir + "/p2"},
        {"encode " + dir + "/missing " + dir + "/o1", 2, dir + "/missing: ", dir + "/o1"},
        {"encode " + dir + "/empty " + dir + "/o2", 1, "file is empty", dir + "/o2"},
        {"encode " + huge + " " + dir + "/o3", 2, "larger than 4 GiB", dir + "/o3"},
        {"encode " + good + " " + dir + "/nofolder/o4", 2, dir + "/nofolder/o4: ", dir + "/nofolder/o4"},
        {"decode " + dir + "/empty " + dir + "/o5", 1, "stream is empty", dir + "/o5"},
        {"decode " + dir + "/short.lzh " + dir + "/o6", 1, "shorter than its 4-byte length header", dir + "/o6"},
        {"decode " + dir + "/zero.lzh " + dir + "/o7", 1, "length of 0", dir + "/o7"},
        {"decode " + dir + "/cut.lzh " + dir + "/o8", 1, "truncated", dir + "/o8"},
        {"inspect " + dir + "/missing", 2, dir + "/missing: ", ""},
        {"inspect " + dir + "/nomarker.bin", 1, "no segment marker", ""},
        {"inspect " + dir + "/threesegs.bin", 1, "3 segments instead of 10", ""},
        {"inspect " + good, 1, "malformed container", ""},
        {"frobnicate", 2, "unknown command", ""},
        {"pack " + inputs, 2, "usage: velkpack pack", ""},
    };
    for (const Case& c : cases) {
        CliRun run = Velkpack(c.args);
        EXPECT_EQ(c.status, run.status) << c.args << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.message)) << c.args << "\n" << run.output;
        if (!c.output.empty()) {
            EXPECT_FALSE(Exists(c.output)) << c.output;
        }
    }
    // Each pack error that concerns one input names that file.
    remove((inputs + "/servers.ini").c_str());
    CliRun missing = Velkpack("pack " + inputs + " -o " + dir + "/p3");
    EXPECT_EQ(2, missing.status);
    EXPECT_NE(std::string::npos, missing.output.find(inputs + "/servers.ini: ")) << missing.output;
    WriteFile(inputs + "/servers.ini", "");
    CliRun empty = Velkpack("pack " + inputs + " -o " + dir + "/p3");
    EXPECT_EQ(1, empty.status);
    EXPECT_NE(std::string::npos, empty.output.find(inputs + "/servers.ini: file is empty"));
    EXPECT_FALSE(Exists(dir + "/p3"));
    // An unwritable output leaves nothing behind, not even a temporary.
    WriteFile(inputs + "/servers.ini", ReadFile(payloadDir + "/servers.ini"));
    int before = CountEntries(dir);
    CliRun unwritable = Velkpack("pack " + inputs + " -o " + dir + "/nofolder/p.bin");
    EXPECT_EQ(2, unwritable.status) << unwritable.output;
    EXPECT_EQ(before, CountEntries(dir));
}

TEST_F(VelkpackCli, EverySubcommandHasHelp)
{
    const char* commands[] = {"pack", "encode", "decode", "inspect"};
    for (const char* command : commands) {
        CliRun run = Velkpack(std::string(command) + " --help");
        EXPECT_EQ(0, run.status) << command;
        EXPECT_EQ(0u, run.output.find(std::string("usage: velkpack ") + command)) << run.output;
    }
    EXPECT_EQ(0, Velkpack("--help").status);
    EXPECT_EQ(2, Velkpack("").status);
}

} // namespace
