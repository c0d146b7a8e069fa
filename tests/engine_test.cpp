// The installation engine on a real image, a real file system and real
// message boxes: integrity check, sliced extraction, existing-file policy,
// clean-up and the progress display on a host window.
#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "install/extraction.h"
#include "install/install_state.h"
#include "install/payload_check.h"
#include "payload/lzhuf_decoder.h"
#include "payload/marker_matcher.h"
#include "tests/test_files.h"
#include "tests/win/host_window.h"
#include "tests/win/installer_image.h"
#include "tests/win/message_boxes.h"
#include "ui/progress_display.h"

namespace {

// The marker is put together here as in the installer, so that this test
// program, which carries the test payload as its own image, holds it nowhere.
std::string Marker()
{
    return std::string(kMarkerHead) + kMarkerTail;
}

std::string Cwd()
{
    char path[MAX_PATH];
    GetCurrentDirectoryA(MAX_PATH, path);
    return path;
}

// The file's bytes, or a text that equals no input when it is missing.
std::string ReadBytes(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "rb");
    if (!f)
        return "(missing)";
    fclose(f);
    return ReadFileBytes(path);
}

void WriteBytes(const std::string& path, const std::string& data)
{
    ASSERT_TRUE(WriteFileBytes(path, data)) << path;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void RemoveTree(const std::string& path)
{
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string name = found.cFileName;
            if (name == "." || name == "..")
                continue;
            std::string child = path + "\\" + name;
            SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(child);
            else
                DeleteFileA(child.c_str());
        } while (FindNextFileA(h, &found));
        FindClose(h);
    }
    RemoveDirectoryA(path.c_str());
}

// Names in a folder, sorted, for comparing whole folder contents.
std::vector<std::string> Listing(const std::string& path)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE h = FindFirstFileA((path + "\\*").c_str(), &found);
    if (h == INVALID_HANDLE_VALUE)
        return names;
    do {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            names.push_back(name);
    } while (FindNextFileA(h, &found));
    FindClose(h);
    std::sort(names.begin(), names.end());
    return names;
}

// Decodes one stream through temporary files, as a reference.
std::string DecodeBytes(const std::string& stream)
{
    FILE* in = tmpfile();
    FILE* out = tmpfile();
    fwrite(stream.data(), 1, stream.size(), in);
    rewind(in);
    std::string result = "(failed)";
    if (DecodeSegment(in, out)) {
        result.clear();
        rewind(out);
        int c;
        while ((c = getc(out)) != EOF)
            result += static_cast<char>(c);
    }
    fclose(in);
    fclose(out);
    return result;
}

const char kReadText[] =
    "There seems to be a problem reading the installation file.\n\n"
    "Please try running the installation program again!";
const char kCopyText[] =
    "There seems to be a problem copying files to their destination.\n\n"
    "Please try running the installation program again!";
const char kCorruptText[] =
    "The installation file seems to be corrupt!\n\n"
    "Please try running the installation program again or download a new version!";
const char kDirText[] =
    "There seems to be a problem creating the directory you specified.\n\n"
    "Please try using a different directory name!";
const char kExtractText[] =
    "There seems to be a problem extracting files from the installation file.\n\n"
    "Please try running the installation program again!";
const char kBackupDirText[] =
    "There seems to be a problem creating the backup directory.\n\n"
    "Please try installing to a different directory!";
const char kBackupFileText[] =
    "There seems to be a problem backing up your original files.\n\n"
    "Please try installing to a different directory!";

SeenMessage Error(int number, const char* text)
{
    return SeenMessage{"Velk Installation Error [" + std::to_string(number) + "]", text, IDOK};
}

struct RunOptions {
    std::string dir;
    std::string image; // empty: the program's own module
    int backup;
    int keep;
};

struct RunOutcome {
    int created;   // CreateInstallDirectory's result
    bool checked;  // CheckPayload's result
    int last;      // the last step's result (-1: no step)
    int steps;     // steps run
};

// The engine's calls in the order the wizard makes them for one Install.
RunOutcome RunInstallation(const RunOptions& options, int maxSteps = 100000)
{
    RunOutcome out = {0, false, -1, 0};
    lstrcpynA(gInstall.installDir, options.dir.c_str(), kPathSize);
    gInstall.backupFlag = options.backup;
    gInstall.keepSettingsFlag = options.keep;
    gInstall.shortcutsFlag = 0;
    ResetInstallState();
    UpdateStatusText();
    DrawOverallProgress(NULL, NULL);
    out.created = CreateInstallDirectory();
    if (out.created != 1)
        return out;
    SetInstallerImageForTests(options.image.empty() ? NULL : options.image.c_str());
    out.checked = CheckPayload();
    if (!out.checked)
        return out;
    do {
        out.last = ExtractStep();
        out.steps++;
        PumpMessages();
    } while (out.last == MoreWork && out.steps < maxSteps);
    if (out.last == Abort || out.last == Failed || (out.last == Finished && gInstall.fileIndex == 0))
        CleanUpInstallation();
    return out;
}

class Engine : public ::testing::Test {
protected:
    static HWND host;
    static std::string payload;             // the container velkpack built
    static std::string inputs[kInstallFileCount];
    static std::string work;
    std::string dir; // this test's folder

    static void SetUpTestSuite()
    {
        host = CreateHostWindow();
        gInstall.wizard = host;
        ConnectDecoderToFileBar();
        StartMessageWatcher("Velk Installation");
        payload = OwnPayload();
        for (int k = 0; k < kInstallFileCount; k++)
            inputs[k] = ReadBytes(std::string("engine_payload\\") + InstallFileTable[k]);
        work = Cwd() + "\\engine-work";
        CreateDirectoryA(work.c_str(), NULL);
    }
    static void TearDownTestSuite()
    {
        StopMessageWatcher();
        DestroyWindow(host);
        RemoveTree(work);
    }
    void SetUp() override
    {
        const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir = work + "\\" + info->name();
        RemoveTree(dir);
        TakeSeenMessages();
        SetEnvironmentVariableA("TMP", NULL);
        SetInstallerImageForTests(NULL);
    }
    void TearDown() override { SetEnvironmentVariableA("TMP", NULL); }

    // An image: a prefix that ends in a line end like the licence text, the
    // payload, then other resources.
    static std::string Image(size_t prefixLength, const std::string& suffix = std::string("\0\0PADDINGXX", 11))
    {
        std::string prefix = "MZ";
        while (prefix.size() + 5 < prefixLength)
            prefix += static_cast<char>('a' + prefix.size() % 23);
        prefix += "***\r\n";
        prefix.resize(prefixLength, 'p');
        return prefix + payload + suffix;
    }
    std::string SaveImage(const std::string& image, const char* name = "image.bin")
    {
        CreateDirectoryA((dir + "-img").c_str(), NULL);
        std::string path = dir + "-img\\" + name;
        WriteBytes(path, image);
        return path;
    }
    // Offset of the k-th marker of the payload inside an image (k from 0).
    static size_t MarkerOffset(const std::string& image, int k)
    {
        size_t at = image.find(Marker());
        for (int i = 0; i < k && at != std::string::npos; i++)
            at = image.find(Marker(), at + 4);
        return at;
    }
    void ExpectInstalled(const std::string& folder)
    {
        for (int k = 0; k < kInstallFileCount; k++)
            EXPECT_TRUE(ReadBytes(folder + "\\" + InstallFileTable[k]) == inputs[k])
                << InstallFileTable[k];
    }
    static std::string TempFile()
    {
        char path[MAX_PATH];
        GetTempPathA(MAX_PATH, path);
        return std::string(path) + "velk.tmp";
    }
};

HWND Engine::host;
std::string Engine::payload;
std::string Engine::inputs[kInstallFileCount];
std::string Engine::work;

TEST_F(Engine, InstallsTenFilesSliceBySlice)
{
    std::string image = Image(40000);
    RunOutcome out = RunInstallation({dir, SaveImage(image), 0, 0});
    ASSERT_EQ(1, out.created);
    ASSERT_TRUE(out.checked) << Describe(TakeSeenMessages());
    EXPECT_EQ(Finished, out.last);
    std::vector<SeenMessage> seen = TakeSeenMessages();
    EXPECT_TRUE(seen.empty()) << Describe(seen);
    ExpectInstalled(dir);
    EXPECT_EQ(static_cast<size_t>(kInstallFileCount), Listing(dir).size());
    EXPECT_FALSE(Exists(TempFile()));
    EXPECT_EQ(kInstallFileCount, gInstall.fileIndex);
    EXPECT_TRUE(gInstall.installerStream == NULL);
    EXPECT_TRUE(gInstall.tempStream == NULL);
    EXPECT_EQ(1, gInstall.createdDirFlag);
    // Slices of 15001 bytes: the run ends on the marker that closes the
    // last segment; the final marker and what follows are never read.
    size_t read = MarkerOffset(image, kInstallFileCount) + 4;
    EXPECT_EQ(static_cast<int>(read / 15001 + 1), out.steps);
    EXPECT_EQ("Extracting file: urls.ini", ControlText(host, IDC_STATUS));
}

TEST_F(Engine, TheProgramIsItsOwnImage)
{
    RunOutcome out = RunInstallation({dir, "", 0, 0});
    ASSERT_TRUE(out.checked) << Describe(TakeSeenMessages());
    char module[MAX_PATH];
    GetModuleFileNameA(NULL, module, MAX_PATH);
    EXPECT_STREQ(module, gInstall.installerPath);
    EXPECT_EQ(Finished, out.last);
    ExpectInstalled(dir);
}

TEST_F(Engine, DamagedImagesStopBeforeAnyFileIsWritten)
{
    std::string good = Image(3000);
    size_t first = MarkerOffset(good, 0);
    size_t last = MarkerOffset(good, kInstallFileCount + 1); // second of the final pair
    std::string flipped = good;
    flipped[first + 4 + 20] ^= 0x01;
    std::string kwx = good;
    kwx.replace(first + 4 + 30, 3, "KWX");
    std::string noPair = good.substr(0, MarkerOffset(good, kInstallFileCount)) + "trailing resources";
    std::string three = good.substr(0, MarkerOffset(good, 3));
    std::string extraMarker = good;
    extraMarker.insert(MarkerOffset(good, 5) + 10, Marker());
    std::string noMarker = std::string(5000, 'x');
    struct Case {
        const char* name;
        std::string image;
        int error;
    } cases[] = {
        {"flipped", flipped, 10},
        {"kwx", kwx, 10},
        {"nopair", noPair, 10},
        {"three", three, 10},
        {"extramarker", extraMarker, 10},
        {"nomarker", noMarker, 2},
    };
    ASSERT_NE(std::string::npos, last);
    for (const Case& c : cases) {
        std::string target = dir + "-" + c.name;
        RunOutcome out = RunInstallation({target, SaveImage(c.image, c.name), 0, 0});
        EXPECT_FALSE(out.checked) << c.name;
        std::vector<SeenMessage> expected = {Error(c.error, c.error == 2 ? kReadText : kCorruptText)};
        EXPECT_EQ(expected, TakeSeenMessages()) << c.name;
        EXPECT_EQ(std::vector<std::string>(), Listing(target)) << c.name;
        EXPECT_TRUE(gInstall.installerStream == NULL) << c.name;
        RemoveTree(target);
    }
    // A missing image reads as a failure to read.
    RunOutcome out = RunInstallation({dir, dir + "-img\\no-such-image.bin", 0, 0});
    EXPECT_FALSE(out.checked);
    EXPECT_EQ(std::vector<SeenMessage>{Error(2, kReadText)}, TakeSeenMessages());
}

TEST_F(Engine, BytesOutsideTheCheckedStretchDoNotMatter)
{
    std::string good = Image(3000);
    std::string prefixFlip = good;
    prefixFlip[100] ^= 0x01;
    std::string suffixFlip = good;
    suffixFlip[good.size() - 3] ^= 0x01;
    std::string crlfFlip = good;
    crlfFlip[MarkerOffset(good, kInstallFileCount + 1) + 4] ^= 0x01;
    const std::string* images[] = {&prefixFlip, &suffixFlip, &crlfFlip};
    int n = 0;
    for (const std::string* image : images) {
        std::string target = dir + "-" + std::to_string(n++);
        RunOutcome out = RunInstallation({target, SaveImage(*image), 0, 0});
        EXPECT_TRUE(out.checked) << n;
        EXPECT_EQ(Finished, out.last) << n;
        ExpectInstalled(target);
        EXPECT_EQ(std::vector<SeenMessage>(), TakeSeenMessages());
        RemoveTree(target);
    }
}

// The image is served once through a pipe: the check reads it, but the
// second opening for extraction finds no pipe any more.
struct PipeServer {
    HANDLE pipe;
    std::string bytes;
    static DWORD WINAPI Run(LPVOID param)
    {
        PipeServer* self = static_cast<PipeServer*>(param);
        if (!ConnectNamedPipe(self->pipe, NULL) && GetLastError() != ERROR_PIPE_CONNECTED)
            return 1;
        // The scan stops at the final pair and closes its end; the write of
        // the rest then fails, or the test closes the pipe to end it.
        DWORD written = 0;
        WriteFile(self->pipe, self->bytes.data(), static_cast<DWORD>(self->bytes.size()), &written, NULL);
        return 0;
    }
};

TEST_F(Engine, SecondOpeningFailsWithError9)
{
    const char* name = "\\\\.\\pipe\\velk-engine-image";
    PipeServer server;
    // Enough after the final pair that the scan never waits for more.
    server.bytes = Image(2000, std::string(200000, 'r'));
    server.pipe = CreateNamedPipeA(name, PIPE_ACCESS_OUTBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1,
                                   65536, 65536, 0, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, server.pipe);
    HANDLE thread = CreateThread(NULL, 0, PipeServer::Run, &server, 0, NULL);
    RunOutcome out = RunInstallation({dir, name, 0, 0});
    CloseHandle(server.pipe);
    WaitForSingleObject(thread, 10000);
    CloseHandle(thread);
    EXPECT_FALSE(out.checked);
    EXPECT_EQ(std::vector<SeenMessage>{Error(9, kReadText)}, TakeSeenMessages());
    EXPECT_TRUE(gInstall.installerStream == NULL);
    EXPECT_EQ(std::vector<std::string>(), Listing(dir));
}

TEST_F(Engine, InstallDirectoryErrors)
{
    // The parent folder does not exist.
    RunOutcome out = RunInstallation({dir + "\\missing\\velk", SaveImage(Image(100)), 0, 0});
    EXPECT_EQ(2, out.created);
    EXPECT_EQ(std::vector<SeenMessage>{Error(1, kDirText)}, TakeSeenMessages());
    EXPECT_FALSE(Exists(dir + "\\missing"));

    // Too long for the paths derived from it: refused before anything is made.
    CreateDirectoryA(dir.c_str(), NULL);
    std::string longDir = dir + "\\";
    longDir += std::string(kMaxInstallDirLength + 1 - longDir.size(), 'd');
    ASSERT_EQ(static_cast<size_t>(kMaxInstallDirLength + 1), longDir.size());
    out = RunInstallation({longDir, SaveImage(Image(100)), 0, 0});
    EXPECT_EQ(2, out.created);
    EXPECT_EQ(std::vector<SeenMessage>{Error(1, kDirText)}, TakeSeenMessages());
    EXPECT_EQ(std::vector<std::string>(), Listing(dir));

    // A long folder within the platform's path limit works, and every
    // derived path is whole.
    longDir.resize(240);
    out = RunInstallation({longDir, SaveImage(Image(100)), 1, 0});
    EXPECT_EQ(Finished, out.last) << Describe(TakeSeenMessages());
    ExpectInstalled(longDir);

    // An existing plain file of that name: not created, not removed; the
    // first destination file cannot be opened.
    std::string plain = dir + "\\plain";
    WriteBytes(plain, "a plain file");
    out = RunInstallation({plain, SaveImage(Image(100)), 0, 0});
    EXPECT_EQ(1, out.created);
    EXPECT_EQ(Abort, out.last);
    EXPECT_EQ(std::vector<SeenMessage>{Error(4, kCopyText)}, TakeSeenMessages());
    EXPECT_EQ("a plain file", ReadBytes(plain));
    EXPECT_EQ(0, gInstall.fileIndex);
}

TEST_F(Engine, FailuresCleanUpWhatTheRunWrote)
{
    std::string fixtures = Cwd() + "\\engine-fixtures";
    std::string image = SaveImage(Image(500));
    struct Case {
        const char* name;
        std::string dir;
        const char* tmp; // TMP for the run, or null
        int error;
        const char* text;
        std::vector<std::string> left; // what stays in the folder afterwards
    } cases[] = {
        // The destination's writes fail: at the first flush of a large file,
        // and, for a small one, only when the stream is flushed and closed.
        // The link itself stays: Wine does not delete a link to a device.
        {"large", fixtures + "\\full-dest-large", NULL, 5, kCopyText, {"velk32.exe"}},
        {"small", fixtures + "\\full-dest-small", NULL, 5, kCopyText, {"versions.txt"}},
        // The temporary folder does not exist.
        {"notemp", dir + "-notemp", "C:\\no-such-temp-folder", 11, kExtractText, {}},
        // The temporary file's writes fail: detected before it is decoded.
        {"fulltemp", dir + "-fulltemp", "full-temp", 11, kExtractText, {}},
    };
    for (const Case& c : cases) {
        if (c.tmp)
            SetEnvironmentVariableA("TMP", c.tmp[0] == 'C' ? c.tmp : (fixtures + "\\" + c.tmp).c_str());
        RunOutcome out = RunInstallation({c.dir, image, 0, 0});
        SetEnvironmentVariableA("TMP", NULL);
        EXPECT_EQ(Abort, out.last) << c.name;
        EXPECT_EQ(std::vector<SeenMessage>{Error(c.error, c.text)}, TakeSeenMessages()) << c.name;
        EXPECT_EQ(c.left, Listing(c.dir)) << c.name;
        EXPECT_EQ(0, gInstall.fileIndex) << c.name;
        EXPECT_TRUE(gInstall.tempStream == NULL && gInstall.installerStream == NULL) << c.name;
    }
    // A folder the failing run created is removed again.
    EXPECT_FALSE(Exists(dir + "-notemp"));
    EXPECT_FALSE(Exists(dir + "-fulltemp"));
    EXPECT_FALSE(Exists(TempFile()));
}

TEST_F(Engine, UnreadableTemporaryFileGivesError3)
{
    // Another program holds velk.tmp open for writing and does not share
    // reading: the driver can create it but not read it back.
    std::string temp = dir + "-temp";
    CreateDirectoryA(temp.c_str(), NULL);
    std::string tempFile = temp + "\\velk.tmp";
    HANDLE holder = CreateFileA(tempFile.c_str(), GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    SetEnvironmentVariableA("TMP", temp.c_str());
    RunOutcome out = RunInstallation({dir, SaveImage(Image(500)), 0, 0});
    CloseHandle(holder);
    EXPECT_EQ(Abort, out.last);
    EXPECT_EQ(std::vector<SeenMessage>{Error(3, kReadText)}, TakeSeenMessages());
    EXPECT_FALSE(Exists(dir));
}

TEST_F(Engine, TemporaryFolderTooLongFallsBackToDriveC)
{
    // A temporary folder whose path does not fit the 300-character buffer
    // counts as unknown: the file is c:\velk.tmp. Holding that file open
    // without read sharing shows that it is the one used.
    std::string longTemp = "C:\\" + std::string(310, 't');
    SetEnvironmentVariableA("TMP", longTemp.c_str());
    char path[kPathSize];
    BuildTempPath(path);
    EXPECT_STREQ("c:\\velk.tmp", path);
    HANDLE holder = CreateFileA("c:\\velk.tmp", GENERIC_WRITE, FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    RunOutcome out = RunInstallation({dir, SaveImage(Image(500)), 0, 0});
    CloseHandle(holder);
    DeleteFileA("c:\\velk.tmp");
    EXPECT_EQ(Abort, out.last);
    EXPECT_EQ(std::vector<SeenMessage>{Error(3, kReadText)}, TakeSeenMessages());

    // A folder that fits, with room for the name, is used as it is.
    SetEnvironmentVariableA("TMP", "C:\\windows\\temp");
    BuildTempPath(path);
    EXPECT_STREQ("C:\\windows\\temp\\velk.tmp", path);
}

TEST_F(Engine, BackupFolderErrors)
{
    std::string fixtures = Cwd() + "\\engine-fixtures";
    // A plain file named "backup": it counts as existing, the move fails.
    CreateDirectoryA(dir.c_str(), NULL);
    WriteBytes(dir + "\\backup", "not a folder");
    WriteBytes(dir + "\\velk32.exe", "old client");
    const DWORD protectedFile = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    SetFileAttributesA((dir + "\\velk32.exe").c_str(), protectedFile);
    RunOutcome out = RunInstallation({dir, SaveImage(Image(500)), 1, 0});
    EXPECT_EQ(Failed, out.last);
    EXPECT_EQ(std::vector<SeenMessage>{Error(7, kBackupFileText)}, TakeSeenMessages());
    // The file stays where it was, no longer read-only, hidden or system.
    EXPECT_EQ("old client", ReadBytes(dir + "\\velk32.exe"));
    EXPECT_EQ(0u, GetFileAttributesA((dir + "\\velk32.exe").c_str()) & protectedFile);
    EXPECT_EQ("not a folder", ReadBytes(dir + "\\backup"));
    EXPECT_EQ(std::vector<std::string>({"backup", "velk32.exe"}), Listing(dir));

    // "backup" names nothing, yet cannot be created (a dangling link).
    std::string dangling = fixtures + "\\dangling";
    WriteBytes(dangling + "\\velk32.exe", "old client");
    out = RunInstallation({dangling, SaveImage(Image(500)), 1, 0});
    EXPECT_EQ(Failed, out.last);
    EXPECT_EQ(std::vector<SeenMessage>{Error(6, kBackupDirText)}, TakeSeenMessages());
    EXPECT_EQ("old client", ReadBytes(dangling + "\\velk32.exe"));
}

TEST_F(Engine, ExistingFilePolicy)
{
    std::string image = SaveImage(Image(500));
    const DWORD hiddenReadOnly = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
    struct Case {
        const char* folder;
        int backup, keep;
        std::vector<std::string> existing;  // files present before, content "old NAME"
        std::vector<std::string> kept;      // of those, the ones left unchanged
        std::vector<std::string> backedUp;  // of those, the ones found in backup\ afterwards
    } cases[] = {
        {"plain", 0, 0, {"velk32.exe", "velk.ini"}, {}, {}},
        {"backup", 1, 0, {"velk32.exe", "readme.txt", "velk.ini", "urls.ini"}, {},
         {"velk32.exe", "readme.txt", "velk.ini", "urls.ini"}},
        {"keep", 0, 1, {"velk32.exe", "velk.ini", "aliases.ini"}, {"velk.ini", "aliases.ini"}, {}},
        {"keep-backup", 1, 1, {"readme.txt", "servers.ini"}, {"servers.ini"}, {"readme.txt"}},
        {"conf.ini.d", 0, 1, {"velk32.exe", "readme.txt", "velk.ini"}, {"velk32.exe", "readme.txt", "velk.ini"}, {}},
        {"conf.INI.d", 0, 1, {"velk32.exe", "velk.ini"}, {"velk.ini"}, {}},
        {"backup-nothing", 1, 0, {}, {}, {}},
    };
    for (const Case& c : cases) {
        std::string folder = dir + "\\" + c.folder;
        CreateDirectoryA(dir.c_str(), NULL);
        CreateDirectoryA(folder.c_str(), NULL);
        for (const std::string& name : c.existing) {
            WriteBytes(folder + "\\" + name, "old " + name);
            SetFileAttributesA((folder + "\\" + name).c_str(), hiddenReadOnly);
        }
        RunOutcome out = RunInstallation({folder, image, c.backup, c.keep});
        EXPECT_EQ(Finished, out.last) << c.folder;
        EXPECT_EQ(std::vector<SeenMessage>(), TakeSeenMessages()) << c.folder;
        for (int k = 0; k < kInstallFileCount; k++) {
            std::string name = InstallFileTable[k];
            std::string path = folder + "\\" + name;
            bool kept = std::find(c.kept.begin(), c.kept.end(), name) != c.kept.end();
            EXPECT_EQ(kept ? "old " + name : inputs[k], ReadBytes(path)) << c.folder << " " << name;
            bool existed = std::find(c.existing.begin(), c.existing.end(), name) != c.existing.end();
            if (existed) {
                EXPECT_EQ(static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE,
                          GetFileAttributesA(path.c_str()) | FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_ARCHIVE)
                    << c.folder << " " << name;
            }
        }
        std::vector<std::string> inBackup = Listing(folder + "\\backup");
        std::vector<std::string> expected = c.backedUp;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(expected, inBackup) << c.folder;
        for (const std::string& name : c.backedUp)
            EXPECT_EQ("old " + name, ReadBytes(folder + "\\backup\\" + name)) << c.folder;
        EXPECT_EQ(c.backup && !c.backedUp.empty(), Exists(folder + "\\backup")) << c.folder;
    }

    // A second run with backups replaces the first run's backups.
    std::string folder = dir + "\\backup";
    RunOutcome again = RunInstallation({folder, image, 1, 0});
    EXPECT_EQ(Finished, again.last);
    EXPECT_EQ(inputs[0], ReadBytes(folder + "\\backup\\velk32.exe"));
    EXPECT_EQ(inputs[5], ReadBytes(folder + "\\backup\\velk.ini"));
    EXPECT_EQ(static_cast<size_t>(kInstallFileCount), Listing(folder + "\\backup").size());
}

TEST_F(Engine, CleanUpDeletesTheRunsFilesBeforeItsFolder)
{
    // A run that ended after its first three files: the clean-up deletes them,
    // then removes the folder when the run created it (a folder that still
    // held them could not be removed), and never a folder that was there.
    struct Case {
        const char* name;
        bool existed;
    } cases[] = {{"created", false}, {"existed", true}};
    for (const Case& c : cases) {
        std::string folder = dir + "\\" + c.name;
        CreateDirectoryA(dir.c_str(), NULL);
        if (c.existed)
            CreateDirectoryA(folder.c_str(), NULL);
        lstrcpynA(gInstall.installDir, folder.c_str(), kPathSize);
        gInstall.backupFlag = 0;
        gInstall.keepSettingsFlag = 0;
        ResetInstallState();
        ASSERT_EQ(1, CreateInstallDirectory()) << c.name;
        // The image ends at the marker that closes segment 2.
        std::string image = Image(500);
        gInstall.installerStream = fopen(SaveImage(image.substr(0, MarkerOffset(image, 3))).c_str(), "rb");
        ASSERT_TRUE(gInstall.installerStream != NULL);
        int result;
        while ((result = ExtractStep()) == MoreWork) {
        }
        ASSERT_EQ(Finished, result) << c.name;
        ASSERT_EQ(3, gInstall.fileIndex) << c.name;
        EXPECT_EQ(std::vector<std::string>({"ircintro.hlp", "velk.hlp", "velk32.exe"}), Listing(folder))
            << c.name;
        CleanUpInstallation();
        EXPECT_EQ(c.existed, Exists(folder)) << c.name;
        EXPECT_EQ(std::vector<std::string>(), Listing(folder)) << c.name;
        EXPECT_FALSE(Exists(TempFile())) << c.name;
        EXPECT_EQ(std::vector<SeenMessage>(), TakeSeenMessages()) << c.name;
    }
}

TEST_F(Engine, AbandonedRunKeepsWhatItDidNotWrite)
{
    // Keep settings: velk.ini (index 5) stays. The image ends inside
    // segment 7, so the run stops after file 7 with later files missing, and
    // is then cleaned up as the wizard does after a confirmed abort.
    CreateDirectoryA(dir.c_str(), NULL);
    WriteBytes(dir + "\\velk.ini", "my settings");
    WriteBytes(dir + "\\velk32.exe", "old client");
    WriteBytes(dir + "\\notes.txt", "not ours");
    lstrcpynA(gInstall.installDir, dir.c_str(), kPathSize);
    gInstall.backupFlag = 1;
    gInstall.keepSettingsFlag = 1;
    ResetInstallState();
    ASSERT_EQ(1, CreateInstallDirectory());
    std::string image = Image(500);
    std::string imagePath = SaveImage(image.substr(0, MarkerOffset(image, 8)));
    gInstall.installerStream = fopen(imagePath.c_str(), "rb");
    int result;
    while ((result = ExtractStep()) == MoreWork) {
    }
    EXPECT_EQ(Finished, result);
    EXPECT_EQ(8, gInstall.fileIndex);
    EXPECT_EQ("my settings", ReadBytes(dir + "\\velk.ini"));
    EXPECT_TRUE(ReadBytes(dir + "\\popups.ini") == inputs[7]);
    CleanUpInstallation();
    EXPECT_EQ(std::vector<SeenMessage>(), TakeSeenMessages());
    EXPECT_EQ(std::vector<std::string>({"backup", "notes.txt", "velk.ini"}), Listing(dir));
    EXPECT_EQ("my settings", ReadBytes(dir + "\\velk.ini"));
    EXPECT_EQ("old client", ReadBytes(dir + "\\backup\\velk32.exe"));
    EXPECT_EQ(0, gInstall.fileIndex);
    // A second clean-up finds nothing to do.
    CleanUpInstallation();
    EXPECT_EQ(std::vector<std::string>({"backup", "notes.txt", "velk.ini"}), Listing(dir));
}

TEST_F(Engine, RemovesHelpIndexesOfTheHelpFilesOnly)
{
    CreateDirectoryA(dir.c_str(), NULL);
    const char* indexes[] = {"velk.gid", "ircintro.gid", "readme.gid", "velk32.gid"};
    for (const char* name : indexes)
        WriteBytes(dir + "\\" + name, "index");
    SetFileAttributesA((dir + "\\velk.gid").c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
    RunOutcome out = RunInstallation({dir, SaveImage(Image(500)), 0, 0});
    EXPECT_EQ(Finished, out.last);
    EXPECT_FALSE(Exists(dir + "\\velk.gid"));
    EXPECT_FALSE(Exists(dir + "\\ircintro.gid"));
    EXPECT_TRUE(Exists(dir + "\\readme.gid"));
    EXPECT_TRUE(Exists(dir + "\\velk32.gid"));
}

TEST_F(Engine, SlicesEndAnywhereInsideMarkers)
{
    // Place the first marker so that each of its bytes in turn is the last
    // byte of the first slice; and the marker that closes segment 0 so that
    // its last byte is the 15001st.
    for (int inside = 0; inside < 4; inside++) {
        std::string image = Image(15001 - 1 - inside);
        ASSERT_EQ(static_cast<size_t>(15000 - inside), MarkerOffset(image, 0));
        std::string target = dir + "-" + std::to_string(inside);
        RunOutcome out = RunInstallation({target, SaveImage(image), 0, 0});
        EXPECT_EQ(Finished, out.last) << inside;
        ExpectInstalled(target);
        RemoveTree(target);
    }
    // The marker that closes segment 1 ends exactly on the last byte of a
    // slice: file 1 is installed inside that step, which still says MoreWork.
    size_t closing = MarkerOffset(payload, 2) + 4; // bytes up to its end
    size_t prefix = (15001 - closing % 15001) % 15001;
    if (prefix < 16)
        prefix += 15001;
    std::string image = Image(prefix);
    size_t stepsToIt = (prefix + closing) / 15001;
    ASSERT_EQ(0u, (prefix + closing) % 15001);
    lstrcpynA(gInstall.installDir, dir.c_str(), kPathSize);
    gInstall.backupFlag = gInstall.keepSettingsFlag = 0;
    ResetInstallState();
    ASSERT_EQ(1, CreateInstallDirectory());
    std::string imagePath = SaveImage(image);
    SetInstallerImageForTests(imagePath.c_str());
    ASSERT_TRUE(CheckPayload());
    for (size_t step = 1; step <= stepsToIt; step++) {
        ASSERT_EQ(MoreWork, ExtractStep()) << step;
        if (step < stepsToIt) {
            ASSERT_LT(gInstall.fileIndex, 2) << step;
        }
    }
    EXPECT_EQ(2, gInstall.fileIndex);
    EXPECT_TRUE(ReadBytes(dir + "\\velk.hlp") == inputs[1]);
    EXPECT_EQ("Scanning file: ircintro.hlp", ControlText(host, IDC_STATUS));
    CleanUpInstallation();
}

// The driver on images that the check would refuse, opened directly.
TEST_F(Engine, DriverEndsWithTheImage)
{
    std::string good = Image(500);
    const std::string kSegment3("\x03\0\0\0KWXKKWAZ", 12);
    const std::string kSegment4("\x01\0\0\0KW", 6);
    struct Case {
        const char* name;
        std::string image;
        int files; // the file index at the end
    } cases[] = {
        {"nomarker", std::string(40000, 'x'), 0},
        {"three", good.substr(0, MarkerOffset(good, 3)), 3},
        // Segment 3 holds broken partial matches (K W X, K K W A Z); the image
        // ends inside segment 4 with "KW" pending: the held bytes belong to it.
        {"pending", good.substr(0, MarkerOffset(good, 3)) + Marker() + kSegment3 + Marker() + kSegment4, 5},
    };
    for (const Case& c : cases) {
        std::string target = dir + "-" + c.name;
        CreateDirectoryA(target.c_str(), NULL);
        lstrcpynA(gInstall.installDir, target.c_str(), kPathSize);
        ResetInstallState();
        std::string imagePath = SaveImage(c.image, c.name);
        gInstall.installerStream = fopen(imagePath.c_str(), "rb");
        int result;
        while ((result = ExtractStep()) == MoreWork) {
        }
        EXPECT_EQ(Finished, result) << c.name;
        EXPECT_EQ(c.files, gInstall.fileIndex) << c.name;
        EXPECT_TRUE(gInstall.installerStream == NULL);
        for (int k = 0; k < c.files && k < 3; k++)
            EXPECT_TRUE(ReadBytes(target + "\\" + InstallFileTable[k]) == inputs[k]) << c.name << k;
        TakeSeenMessages();
    }
    // Both crafted segments reached their files whole: the decoded bytes
    // depend on every code byte, the released and the held ones.
    EXPECT_EQ(DecodeBytes(kSegment3), ReadBytes(dir + "-pending\\readme.txt"));
    EXPECT_NE(DecodeBytes(std::string("\x03\0\0\0XZ", 6)), DecodeBytes(kSegment3));
    EXPECT_EQ(DecodeBytes(kSegment4), ReadBytes(dir + "-pending\\versions.txt"));
    EXPECT_NE(DecodeBytes(std::string("\x01\0\0\0", 4)), DecodeBytes(kSegment4));
}

TEST_F(Engine, StepsNeverOverlapOrRunWithoutAnInstallation)
{
    // No installer stream: nothing is read and nothing changes.
    ResetInstallState();
    static InstallState before;
    before = gInstall;
    EXPECT_EQ(NoStep, ExtractStep());
    EXPECT_EQ(0, memcmp(&before, &gInstall, sizeof before));

    // A step that shows a message box pumps messages; a timer that fires
    // meanwhile and asks for a step gets none.
    static int nested = -1;
    static int indexSeen = -1;
    struct Timer {
        static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD)
        {
            KillTimer(NULL, id);
            indexSeen = gInstall.fileIndex;
            nested = ExtractStep();
        }
    };
    std::string plain = dir + "-plain";
    WriteBytes(plain, "a plain file");
    lstrcpynA(gInstall.installDir, plain.c_str(), kPathSize);
    ResetInstallState();
    ASSERT_EQ(1, CreateInstallDirectory());
    std::string imagePath = SaveImage(Image(500));
    SetInstallerImageForTests(imagePath.c_str());
    ASSERT_TRUE(CheckPayload());
    SetTimer(NULL, 0, 1, Timer::Fire);
    int result;
    while ((result = ExtractStep()) == MoreWork) {
    }
    EXPECT_EQ(Abort, result); // message [4] is shown inside the step
    EXPECT_EQ(NoStep, nested);
    EXPECT_EQ(0, indexSeen);
    EXPECT_EQ(std::vector<SeenMessage>{Error(4, kCopyText)}, TakeSeenMessages());
}

TEST_F(Engine, ProgressBarsDrawOnTheWindow)
{
    RECT overall = ControlRect(host, IDC_OVERALL_BAR);
    RECT file = ControlRect(host, IDC_FILE_BAR);
    int midY = (overall.top + overall.bottom) / 2;
    const COLORREF white = RGB(255, 255, 255), black = RGB(0, 0, 0);

    lstrcpynA(gInstall.installDir, "C:\\Velk", kPathSize);
    ResetInstallState();
    UpdateStatusText();
    EXPECT_EQ("Scanning files...", ControlText(host, IDC_STATUS));
    DrawOverallProgress(NULL, NULL);
    // Framed in black, white inside, with a red "0%" near the left.
    EXPECT_EQ(black, ClientPixel(host, overall.left, midY));
    EXPECT_EQ(black, ClientPixel(host, overall.right - 1, midY));
    EXPECT_EQ(white, ClientPixel(host, overall.right - 3, midY));
    int red = 0;
    for (int x = overall.left + 1; x < overall.left + 30; x++)
        for (int y = overall.top + 1; y < overall.bottom - 1; y++)
            red += ClientPixel(host, x, y) == RGB(255, 0, 0);
    EXPECT_GT(red, 0);

    // Half way through a file written from the stream's position.
    std::string path = SaveImage(std::string(1000, 'x'));
    FILE* stream = fopen(path.c_str(), "rb");
    fseek(stream, 500, SEEK_SET);
    DrawOverallProgress(NULL, stream);
    EXPECT_EQ(1000, gInstall.installerFileLength);
    EXPECT_EQ(500, ftell(stream));
    EXPECT_EQ(1000, MeasureFileLength(stream));
    EXPECT_EQ(500, ftell(stream));
    int width = overall.right - overall.left;
    EXPECT_EQ(width / 2, gInstall.overallFill);
    EXPECT_EQ(RGB(0, 70, 140), ClientPixel(host, overall.left + 2, midY));
    EXPECT_EQ(RGB(0, 70, 140), ClientPixel(host, overall.left + width / 2 - 1, midY));
    EXPECT_EQ(white, ClientPixel(host, overall.right - 3, midY));
    // Once the overall bar has fill, the status names the current file.
    UpdateStatusText();
    EXPECT_EQ("Scanning file: velk32.exe", ControlText(host, IDC_STATUS));

    // At the end of the file the bar is full to its inner end, no text.
    fseek(stream, 0, SEEK_END);
    DrawOverallProgress(NULL, stream);
    fclose(stream);
    EXPECT_EQ(RGB(0, 70, 140), ClientPixel(host, overall.right - 2, midY));
    EXPECT_EQ(black, ClientPixel(host, overall.right - 1, midY));
    int notFill = 0;
    for (int x = overall.left + 1; x < overall.right - 1; x++)
        notFill += ClientPixel(host, x, midY) != RGB(0, 70, 140);
    EXPECT_EQ(0, notFill);

    // The per-file bar: a quarter, none for a total of 0, all of it.
    int fileY = (file.top + file.bottom) / 2;
    int fileWidth = file.right - file.left;
    DrawFileProgress(NULL, 250, 1000);
    EXPECT_EQ(RGB(0, 200, 100), ClientPixel(host, file.left + 2, fileY));
    EXPECT_EQ(white, ClientPixel(host, file.left + fileWidth / 4 + 2, fileY));
    DrawFileProgress(NULL, 5, 0);
    EXPECT_EQ(white, ClientPixel(host, file.left + 2, fileY));
    DrawFileProgress(NULL, 1000, 1000);
    EXPECT_EQ(RGB(0, 200, 100), ClientPixel(host, file.right - 2, fileY));
}

// The file bar as the decoder drives it: after every report the bar looks
// exactly as a whole redraw for that report draws it, and the wipe after
// the last byte erases it.
namespace barcheck {
HWND window;
RECT bar;
int reports, differing;
std::vector<COLORREF> Row()
{
    std::vector<COLORREF> row;
    for (int y = bar.top; y < bar.bottom; y++)
        for (int x = bar.left; x < bar.right; x++)
            row.push_back(ClientPixel(window, x, y));
    return row;
}
int Width() { return FileBarProgress()->barWidth(); }
void Report(uint32_t done, uint32_t total)
{
    FileBarProgress()->report(done, total);
    std::vector<COLORREF> shown = Row();
    DrawFileProgress(NULL, done, total);
    reports++;
    differing += shown != Row();
}
void Wipe() { FileBarProgress()->wipe(); }
} // namespace barcheck

TEST_F(Engine, FileBarAfterEveryReportIsTheWholeBar)
{
    barcheck::window = host;
    barcheck::bar = ControlRect(host, IDC_FILE_BAR);
    const DecodeProgress checking = {barcheck::Width, barcheck::Report, barcheck::Wipe};
    SetDecodeProgress(&checking);
    // Files shorter and longer than the bar is wide, the sample of each.
    for (int k : {0, 3, 9}) {
        barcheck::reports = barcheck::differing = 0;
        std::string stream = payload.substr(MarkerOffset(payload, k) + 4,
                                            MarkerOffset(payload, k + 1) - MarkerOffset(payload, k) - 4);
        std::string in = SaveImage(stream, "stream.lzh"), out = dir + "-img\\out.bin";
        FILE* i = fopen(in.c_str(), "rb");
        FILE* o = fopen(out.c_str(), "wb");
        EXPECT_EQ(1, DecodeSegment(i, o)) << k;
        fclose(i);
        fclose(o);
        EXPECT_TRUE(ReadBytes(out) == inputs[k]) << k;
        EXPECT_GT(barcheck::reports, 10) << k;
        EXPECT_EQ(0, barcheck::differing) << k << ": of " << barcheck::reports << " reports";
        PumpMessages();
        // Wiped: nothing of the fill is left.
        int filled = 0;
        for (COLORREF c : barcheck::Row())
            filled += c == RGB(0, 200, 100);
        EXPECT_EQ(0, filled) << k;
    }
    ConnectDecoderToFileBar();
}

TEST_F(Engine, OverallBarReachesItsEndAfterTheLastSlice)
{
    // An image that ends with the payload: when the last step has read the
    // whole file, the bar is full.
    std::string image = Image(20000, "");
    image.resize(MarkerOffset(image, kInstallFileCount) + 4);
    RunOutcome out = RunInstallation({dir, SaveImage(image), 0, 0});
    ASSERT_TRUE(out.checked) << Describe(TakeSeenMessages());
    RECT overall = ControlRect(host, IDC_OVERALL_BAR);
    int midY = (overall.top + overall.bottom) / 2;
    EXPECT_EQ(RGB(0, 70, 140), ClientPixel(host, overall.right - 2, midY));
    // The per-file bar was wiped after the last file: back to the window.
    RECT file = ControlRect(host, IDC_FILE_BAR);
    EXPECT_EQ(GetSysColor(COLOR_BTNFACE), ClientPixel(host, file.left + 3, (file.top + file.bottom) / 2));
}

} // namespace
