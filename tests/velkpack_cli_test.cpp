// velkpack as a release engineer runs it: the real program on real files.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "payload/install_file_table.h"
#include "tests/reference/lzhuf1988.h"
#include "tests/test_files.h"

namespace {

typedef CommandRun CliRun; // standard output and standard error

// Runs velkpack with `args`, in `folder` when given, under `wrapper` (for
// example a prlimit command) when given. A run that would hang is ended
// after half a minute and shows as status 124.
CliRun Velkpack(const std::string& args, const std::string& folder = "",
                const std::string& wrapper = "")
{
    std::string command = "timeout -k 5 30 " + wrapper + " " + VELKPACK_PATH + " " + args + " 2>&1";
    if (!folder.empty())
        command = "cd '" + folder + "' && " + command;
    return RunCommand(command);
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

// Everything in the folder, links not followed: names, kinds, permissions,
// link targets and the checksum of every regular file's bytes. Two equal
// snapshots mean nothing was created, removed, replaced or changed.
std::string Snapshot(const std::string& dir, const std::string& prefix = "")
{
    std::vector<std::string> names;
    DIR* folder = opendir(dir.c_str());
    if (!folder)
        return "(unreadable " + dir + ")";
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..")
            names.push_back(name);
    }
    closedir(folder);
    std::sort(names.begin(), names.end());
    std::string listing;
    for (const std::string& name : names) {
        std::string path = dir + "/" + name;
        struct stat info;
        if (lstat(path.c_str(), &info) != 0)
            continue;
        char line[64];
        snprintf(line, sizeof line, " %06o %lld", static_cast<unsigned>(info.st_mode),
                 static_cast<long long>(info.st_size));
        listing += prefix + name + line;
        if (S_ISLNK(info.st_mode)) {
            char target[4096];
            ssize_t n = readlink(path.c_str(), target, sizeof target - 1);
            listing += " -> " + std::string(target, n > 0 ? n : 0);
        } else if (S_ISREG(info.st_mode)) {
            std::string bytes = ReadFileBytes(path);
            listing += " crc " + std::to_string(crc32(0L, reinterpret_cast<const Bytef*>(bytes.data()),
                                                      bytes.size()));
        } else if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode)) {
            listing += " dev " + std::to_string(major(info.st_rdev)) + "," +
                       std::to_string(minor(info.st_rdev));
        }
        listing += "\n";
        if (S_ISDIR(info.st_mode))
            listing += Snapshot(path, prefix + name + "/");
    }
    return listing;
}

int CountLines(const std::string& text)
{
    return static_cast<int>(std::count(text.begin(), text.end(), '\n'));
}

// Names in the folder that look like velkpack's temporaries.
std::vector<std::string> Temporaries(const std::string& dir)
{
    std::vector<std::string> found;
    DIR* folder = opendir(dir.c_str());
    if (!folder)
        return found;
    while (struct dirent* entry = readdir(folder)) {
        std::string name = entry->d_name;
        if (name.find(".velkpack-") != std::string::npos)
            found.push_back(name);
    }
    closedir(folder);
    return found;
}

// Bytes that compress little and take the encoder a while.
std::string NoisyBytes(size_t size)
{
    std::string data(size, '\0');
    uint32_t x = 12345;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<char>(x >> 23);
    }
    return data;
}

// Starts velkpack with `args` in `folder` as a direct child of this test
// (no shell between, so that a signal sent to it reaches velkpack itself);
// returns its process id.
pid_t StartVelkpack(const std::vector<std::string>& args, const std::string& folder)
{
    pid_t pid = fork();
    if (pid == 0) {
        if (chdir(folder.c_str()) != 0)
            _exit(127);
        int null = open("/dev/null", O_WRONLY);
        dup2(null, 1);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(VELKPACK_PATH));
        for (const std::string& arg : args)
            argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(NULL);
        execv(VELKPACK_PATH, argv.data());
        _exit(127);
    }
    return pid;
}

// The sanitizer runtimes reserve far more address space than any memory
// limit of the tests allows.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define VELK_UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define VELK_UNDER_ASAN 1
#endif

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
    void TearDown() override
    {
        for (const std::string& path : immutable)
            EXPECT_EQ(0, system(("chattr -i '" + path + "'").c_str())) << path;
        ASSERT_EQ(0, system(("rm -rf '" + dir + "'").c_str()));
    }
    // Files made immutable by a test, made mutable again at its end.
    std::vector<std::string> immutable;
    // Makes `path` immutable (a file that even root cannot replace, a folder
    // in which even root cannot create a file); false where the file system
    // or the test's privileges do not allow it.
    bool MakeImmutable(const std::string& path)
    {
        if (system(("chattr +i '" + path + "' 2>/dev/null").c_str()) != 0)
            return false;
        immutable.push_back(path);
        return true;
    }
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
    EXPECT_NE(std::string::npos, ReadFile(header).find(std::string("#define VELK_EXPECTED_PAYLOAD_CRC ") + hex));

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

// Every kind of path that must be refused, each in a folder that the run
// must leave exactly as it was: one line, exit 2, the inputs untouched and
// nothing left behind, not even a temporary. Devices, FIFOs and the socket
// are the test's own, made in its folder.
TEST_F(VelkpackCli, HostilePathsAreRefusedAndChangeNothing)
{
    std::string inputs = CopyOfPayloadDir();
    ASSERT_EQ(0, system(("cp -r '" + inputs + "' '" + dir + "/fifo_inputs'").c_str()));
    ASSERT_EQ(0, remove((dir + "/fifo_inputs/servers.ini").c_str()));
    ASSERT_EQ(0, mkfifo((dir + "/fifo_inputs/servers.ini").c_str(), 0644));
    WriteFile(dir + "/a.txt", ReadFile("/usr/share/common-licenses/GPL-2"));
    ASSERT_EQ(0, Velkpack("encode a.txt s.lzh", dir).status);
    WriteFile(dir + "/old.bin", "the old content");
    ASSERT_EQ(0, symlink("a.txt", (dir + "/link_a").c_str()));
    ASSERT_EQ(0, link((dir + "/a.txt").c_str(), (dir + "/hard_a").c_str()));
    ASSERT_EQ(0, symlink("old.bin", (dir + "/link_old").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (dir + "/dangling").c_str()));
    ASSERT_EQ(0, mkfifo((dir + "/fifo").c_str(), 0644));
    ASSERT_EQ(0, symlink("fifo", (dir + "/link_fifo").c_str()));
    ASSERT_EQ(0, mkdir((dir + "/sub").c_str(), 0755));
    int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    struct sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s/sock", dir.c_str());
    ASSERT_EQ(0, bind(sock, reinterpret_cast<struct sockaddr*>(&address), sizeof address));
    close(sock);
    // The zero, null and a loop device, under the test's own names.
    bool devices = mknod((dir + "/zero").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0 &&
                   mknod((dir + "/null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0 &&
                   mknod((dir + "/block").c_str(), S_IFBLK | 0600, makedev(7, 250)) == 0;
    WriteFile(dir + "/locked.h", "an existing header");
    ASSERT_EQ(0, mkdir((dir + "/locked").c_str(), 0755));
    bool locks = MakeImmutable(dir + "/locked.h") && MakeImmutable(dir + "/locked");

    enum Needs { Nothing, Devices, Locks };
    struct Case {
        std::string args; // run in the test's folder
        std::string message;
        Needs needs;
    } cases[] = {
        // Inputs that are not regular files, refused before any read.
        {"encode fifo out", "fifo: is a FIFO, not a regular file", Nothing},
        {"decode fifo out", "fifo: is a FIFO, not a regular file", Nothing},
        {"inspect fifo", "fifo: is a FIFO, not a regular file", Nothing},
        {"pack fifo_inputs -o out", "fifo_inputs/servers.ini: is a FIFO, not a regular file", Nothing},
        {"encode link_fifo out", "link_fifo: is a symbolic link to a FIFO, not to a regular file", Nothing},
        {"encode sock out", "sock: is a socket, not a regular file", Nothing},
        {"encode sub out", "sub: is a folder, not a regular file", Nothing},
        {"inspect sub", "sub: is a folder, not a regular file", Nothing},
        {"encode zero out", "zero: is a character device, not a regular file", Devices},
        {"decode zero out", "zero: is a character device, not a regular file", Devices},
        {"inspect zero", "zero: is a character device, not a regular file", Devices},
        {"inspect block", "block: is a block device, not a regular file", Devices},
        // Outputs that are an input, however they are named.
        {"encode a.txt a.txt", "a.txt: is the same file as the input a.txt", Nothing},
        {"encode a.txt ./a.txt", "./a.txt: is the same file as the input a.txt", Nothing},
        {"encode a.txt " + dir + "/a.txt", "/a.txt: is the same file as the input a.txt", Nothing},
        {"encode a.txt link_a", "link_a: is the same file as the input a.txt", Nothing},
        {"encode link_a hard_a", "hard_a: is the same file as the input link_a", Nothing},
        {"decode s.lzh s.lzh", "s.lzh: is the same file as the input s.lzh", Nothing},
        {"pack inputs -o inputs/readme.txt", "inputs/readme.txt: is the same file as the input inputs/readme.txt", Nothing},
        {"pack inputs -o old.bin --crc-header inputs/velk.ini", "inputs/velk.ini: is the same file as the input", Nothing},
        // Two outputs of one call that are one file, existing or not.
        {"pack inputs -o p.bin --crc-header p.bin", "p.bin: is the same file as the output p.bin", Nothing},
        {"pack inputs -o p.bin --crc-header ./p.bin", "./p.bin: is the same file as the output p.bin", Nothing},
        {"pack inputs -o link_old --crc-header old.bin", "old.bin: is the same file as the output link_old", Nothing},
        // Outputs that are not regular files or links to one.
        {"encode a.txt fifo", "fifo: is a FIFO, not a regular file", Nothing},
        {"encode a.txt link_fifo", "link_fifo: is a symbolic link to a FIFO, not to a regular file", Nothing},
        {"encode a.txt sock", "sock: is a socket, not a regular file", Nothing},
        {"encode a.txt sub", "sub: is a folder, not a regular file", Nothing},
        {"encode a.txt sub/", "sub/: names a folder, not a file", Nothing},
        {"pack inputs -o inputs", "inputs: is a folder, not a regular file", Nothing},
        {"encode a.txt dangling", "dangling: is a symbolic link to nothing", Nothing},
        {"encode a.txt null", "null: is a character device, not a regular file", Devices},
        {"decode s.lzh block", "block: is a block device, not a regular file", Devices},
        // Outputs that cannot be written: the other output stays as it was.
        {"encode a.txt nofolder/out", "nofolder/out: cannot be written: its folder nofolder does not exist", Nothing},
        {"pack inputs -o old.bin --crc-header nofolder/h", "nofolder/h: cannot be written", Nothing},
        {"pack inputs -o old.bin --crc-header locked/h", "locked/h: cannot be written", Locks},
        {"pack inputs -o old.bin --crc-header locked.h", "locked.h: cannot be put in place", Locks},
        {"pack inputs -o link_old --crc-header locked.h", "locked.h: cannot be put in place", Locks},
    };
    for (const Case& c : cases) {
        if ((c.needs == Devices && !devices) || (c.needs == Locks && !locks)) {
            printf("skipped (%s not available here): %s\n",
                   c.needs == Devices ? "device nodes" : "immutable files", c.args.c_str());
            continue;
        }
        std::string before = Snapshot(dir);
        CliRun run = Velkpack(c.args, dir);
        EXPECT_EQ(2, run.status) << c.args << "\n" << run.output;
        EXPECT_EQ(0u, run.output.find("velkpack: ")) << c.args << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.message)) << c.args << "\n" << run.output;
        EXPECT_EQ(1, CountLines(run.output)) << c.args << "\n" << run.output;
        EXPECT_EQ(before, Snapshot(dir)) << c.args;
    }
}

TEST_F(VelkpackCli, OutputsReplaceOnlyTheFileTheyName)
{
    std::string inputs = CopyOfPayloadDir();
    WriteFile(dir + "/a.txt", ReadFile("/usr/share/common-licenses/GPL-2"));
    WriteFile(dir + "/old.bin", "the old content");
    ASSERT_EQ(0, chmod((dir + "/old.bin").c_str(), 0640));
    ASSERT_EQ(0, symlink("old.bin", (dir + "/link_old").c_str()));

    // Through a link: the link stays, the file it points to is replaced and
    // keeps its permissions.
    CliRun encode = Velkpack("encode a.txt link_old", dir);
    ASSERT_EQ(0, encode.status) << encode.output;
    struct stat info;
    ASSERT_EQ(0, lstat((dir + "/link_old").c_str(), &info));
    EXPECT_TRUE(S_ISLNK(info.st_mode));
    ASSERT_EQ(0, stat((dir + "/old.bin").c_str(), &info));
    EXPECT_EQ(0640u, info.st_mode & 07777);
    ASSERT_EQ(0, Velkpack("decode old.bin back.txt", dir).status);
    EXPECT_TRUE(ReadFile(dir + "/a.txt") == ReadFile(dir + "/back.txt"));

    // Two outputs, one new and one existing, both in place together.
    WriteFile(dir + "/crc.h", "an old header");
    CliRun pack = Velkpack("pack inputs -o payload.bin --crc-header crc.h", dir);
    ASSERT_EQ(0, pack.status) << pack.output;
    EXPECT_EQ(0u, ReadFile(dir + "/payload.bin").find("KWAZ"));
    EXPECT_NE(std::string::npos, ReadFile(dir + "/crc.h").find("VELK_EXPECTED_PAYLOAD_CRC"));
    EXPECT_TRUE(Temporaries(dir).empty());
}

// A run ended by a signal while its temporary exists removes it, and ends
// by that same signal. The input is large enough to keep the encoder busy
// for a while after the temporary is created.
TEST_F(VelkpackCli, SignalsTakeTheTemporaryWithThem)
{
    WriteFile(dir + "/big.bin", NoisyBytes(32 << 20));
    const int signals[] = {SIGINT, SIGTERM, SIGHUP};
    for (int signal : signals) {
        std::string before = Snapshot(dir);
        pid_t pid = StartVelkpack({"encode", "big.bin", "out.lzh"}, dir);
        ASSERT_GT(pid, 0);
        bool seen = false;
        for (int waited = 0; waited < 60000 && !seen; waited += 2) {
            seen = !Temporaries(dir).empty();
            if (!seen)
                usleep(2000);
        }
        EXPECT_TRUE(seen) << "no temporary appeared";
        kill(pid, signal);
        int status = 0;
        ASSERT_EQ(pid, waitpid(pid, &status, 0));
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == signal)
            << "signal " << signal << ", status " << status;
        EXPECT_EQ(before, Snapshot(dir)) << "signal " << signal;
    }

    // A file size limit (SIGXFSZ) is a write error like any other.
    WriteFile(dir + "/mid.bin", NoisyBytes(4 << 20));
    std::string before = Snapshot(dir);
    CliRun limited = Velkpack("encode mid.bin out.lzh", dir, "prlimit --fsize=1000000 --");
    EXPECT_EQ(2, limited.status) << limited.output;
    EXPECT_EQ("velkpack: out.lzh: write failed: File too large\n", limited.output);
    EXPECT_EQ(before, Snapshot(dir));
}

#ifndef VELK_UNDER_ASAN
// Out of memory, wherever it strikes, is the one-line error and exit 2.
TEST_F(VelkpackCli, OutOfMemoryIsOneLineAndExitTwo)
{
    // An input far larger than the memory the run may take: sparse, so it
    // costs no disk.
    std::string big = dir + "/big";
    WriteFile(big, "");
    ASSERT_EQ(0, truncate(big.c_str(), 300 << 20));
    std::string before = Snapshot(dir);
    CliRun encode = Velkpack("encode big out.lzh", dir, "prlimit --as=200000000 --");
    EXPECT_EQ(2, encode.status) << encode.output;
    EXPECT_EQ("velkpack: big: out of memory\n", encode.output);
    EXPECT_EQ(before, Snapshot(dir));

    // A stream that declares 0xFFFFFFFF bytes with almost nothing behind it,
    // under a memory limit (and a file size limit that spares the disk).
    WriteFile(dir + "/huge.lzh", std::string("\xFF\xFF\xFF\xFF\x12\x34\x56", 7));
    before = Snapshot(dir);
    CliRun decode = Velkpack("decode huge.lzh out", dir, "prlimit --as=1000000000 --fsize=300000000 --");
    EXPECT_TRUE(decode.status == 1 || decode.status == 2) << decode.status << "\n" << decode.output;
    EXPECT_EQ(0u, decode.output.find("velkpack: huge.lzh: ")) << decode.output;
    EXPECT_EQ(1, CountLines(decode.output)) << decode.output;
    EXPECT_EQ(before, Snapshot(dir));
}
#endif

} // namespace
