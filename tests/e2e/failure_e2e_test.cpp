// Runs that fail or are aborted after they have written files, and what the
// machine keeps afterwards. The installer under test is a large one (its
// client is a real program of over a megabyte), so that a run can be
// stopped in the middle: after the client is in place and while the later
// files are still to come.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/scenario.h"

using namespace e2e;

namespace {

const char kAbortQuestion[] = "Are you sure you want to abort the installation?";
const char kCopyProblemText[] = "There seems to be a problem copying files to their destination.\n\n"
                                "Please try running the installation program again!";

// The small full disk: a tmpfs mounted by the fixture script and reached
// as the Wine drive R: of this session.
const char kFullDiskDrive[] = "r:\\";

std::string Input(const char* name)
{
    std::string bytes;
    ReadFileBytes(JoinPath(PayloadInputs(), name), &bytes);
    return bytes;
}

std::string Content(const std::string& path)
{
    std::string bytes;
    if (!ReadFileBytes(path, &bytes))
        return "(missing)";
    return bytes;
}

std::vector<std::string> Sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

// The run is under way and has written its first file: the client is
// complete once the file after it has been opened.
bool WaitForFirstFileWritten(Installer& installer, const std::string& installDir)
{
    return WaitUntil([&] {
        return Exists(JoinPath(installDir, kPayloadFiles[1])) || installer.CurrentPage() != Installing;
    }, kStepTimeout) && installer.CurrentPage() == Installing;
}

// Presses Abort (or the system menu's Close) and checks the question.
void AskToAbort(Installer& installer, bool systemClose, MessageBoxSeen* box)
{
    if (systemClose)
        installer.SystemClose();
    else
        ASSERT_TRUE(installer.Click(IDC_CANCEL));
    ASSERT_TRUE(installer.WaitForMessageBox(kStepTimeout, box)) << "no abort question";
    EXPECT_EQ("Velk Installation Warning", box->caption);
    EXPECT_EQ(kAbortQuestion, box->text);
    EXPECT_TRUE(box->hasYes && box->hasNo && !box->hasOk);
    EXPECT_EQ(Installing, installer.CurrentPage());
}

// ---- Abort after the first files ------------------------------------------

struct AbortCase {
    const char* name;
    bool folderExists;
    // Files in the folder before the run: name and content. "backup\NAME"
    // is a file in the backup folder.
    std::vector<std::pair<std::string, std::string>> before;
    // What the folder holds after the confirmed abort (sorted).
    std::vector<std::string> afterAbort;
};

class AbortMidRunTest : public InstallerTest, public ::testing::WithParamInterface<AbortCase> {};

// Backups on and settings kept (the options page's defaults). The old
// client is moved into backup\ before the new one is written; the user's
// own file and the kept settings are never the run's to delete.
TEST_P(AbortMidRunTest, LeavesWhatTheOptionsPromiseAndASecondInstallSucceeds)
{
    const AbortCase& c = GetParam();
    Scenario s(std::string("abort-mid-") + c.name);
    if (c.folderExists) {
        ASSERT_TRUE(CreateDirectoryA(s.installDir.c_str(), NULL));
    }
    for (const auto& file : c.before) {
        ASSERT_TRUE(WriteFileBytes(JoinPath(s.installDir, file.first), file.second));
    }

    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.Checked(IDC_BACKUP) && installer.Checked(IDC_KEEP_SETTINGS));
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(WaitForFirstFileWritten(installer, s.installDir)) << PageName(installer.CurrentPage());
    EXPECT_EQ(Input(kPayloadFiles[0]), Content(JoinPath(s.installDir, kPayloadFiles[0])));

    MessageBoxSeen box;
    ASSERT_NO_FATAL_FAILURE(AskToAbort(installer, false, &box));
    // The question holds the run in the middle: the last file is not there.
    EXPECT_FALSE(Exists(JoinPath(s.installDir, kPayloadFiles[9])));
    ASSERT_TRUE(installer.Answer(box, IDYES));
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout)) << PageName(installer.CurrentPage());

    // Every file this run wrote is gone, with the temporary file; a folder
    // the run created is removed, one that was there stays with what it
    // held, and backup\ keeps what was moved into it.
    EXPECT_FALSE(Exists(TempFilePath()));
    EXPECT_EQ(c.folderExists, Exists(s.installDir));
    if (c.folderExists) {
        EXPECT_EQ(c.afterAbort, Sorted(ListDir(s.installDir)));
    }
    for (const auto& file : c.before) {
        std::string kept = file.first == "velk32.exe" ? "backup\\velk32.exe" : file.first;
        EXPECT_EQ(file.second, Content(JoinPath(s.installDir, kept))) << kept;
    }

    // The options page is as the user left it, and Install works again.
    EXPECT_EQ(s.installDir, installer.Text(IDC_FOLDER));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << PageName(installer.CurrentPage());
    for (const char* name : kPayloadFiles) {
        std::string expected = Input(name);
        for (const auto& file : c.before)
            if (file.first == name && strstr(name, ".ini"))
                expected = file.second; // the kept settings file
        EXPECT_TRUE(expected == Content(JoinPath(s.installDir, name))) << name;
    }
    FinishAndExit(installer);
}

INSTANTIATE_TEST_SUITE_P(
    Folders, AbortMidRunTest,
    ::testing::Values(
        AbortCase{"new-folder", false, {}, {}},
        AbortCase{"empty-folder", true, {}, {}},
        AbortCase{"earlier-install", true,
                  {{"notes.txt", "the user's own notes"}, {"velk32.exe", "the old client"},
                   {"velk.ini", "[text]\r\nmy=settings\r\n"}},
                  {"backup", "notes.txt", "velk.ini"}}),
    [](const ::testing::TestParamInfo<AbortCase>& info) {
        std::string name = info.param.name;
        std::replace(name.begin(), name.end(), '-', '_');
        return name;
    });

// ---- The system menu's Close while installing ------------------------------

class SystemCloseWhileInstallingTest : public InstallerTest, public ::testing::WithParamInterface<int> {};

// Close asks the abort question as the Abort button does: No goes on to
// the finish page, Yes cleans up and returns to the options page.
TEST_P(SystemCloseWhileInstallingTest, AsksTheAbortQuestion)
{
    const int answer = GetParam();
    Scenario s(answer == IDYES ? "close-installing-yes" : "close-installing-no");
    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(WaitForFirstFileWritten(installer, s.installDir)) << PageName(installer.CurrentPage());
    MessageBoxSeen box;
    ASSERT_NO_FATAL_FAILURE(AskToAbort(installer, true, &box));
    ASSERT_TRUE(installer.Answer(box, answer));
    if (answer == IDNO) {
        ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << PageName(installer.CurrentPage());
        ExpectInstalledFiles(s.installDir);
        FinishAndExit(installer);
        return;
    }
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout)) << PageName(installer.CurrentPage());
    EXPECT_FALSE(Exists(s.installDir));
    EXPECT_FALSE(Exists(TempFilePath()));
    ASSERT_TRUE(installer.Click(IDC_CANCEL));
    ExpectExitZero(installer);
}

INSTANTIATE_TEST_SUITE_P(Answers, SystemCloseWhileInstallingTest, ::testing::Values(IDNO, IDYES),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return std::string(info.param == IDYES ? "Yes" : "No");
                         });

// ---- A disk that fills up part way -----------------------------------------

// The destination is a small real file system, too small for the client:
// its writes fail part way. The run shows [5], cleans up and ends; nothing
// of it is left on the disk, and a folder that was there keeps its files.
TEST_F(InstallerTest, FullDiskPartWayShowsErrorFiveAndLeavesNothingOfTheRun)
{
    ASSERT_TRUE(IsDirectory(kFullDiskDrive)) << "the full-disk drive " << kFullDiskDrive
                                             << " is missing (its fixture mounts a tmpfs as root)";
    struct Case {
        const char* folder;
        bool exists;
    } cases[] = {{"velk", false}, {"kept", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.folder);
        Scenario s(std::string("full-disk-") + c.folder);
        s.installDir = JoinPath(kFullDiskDrive, c.folder);
        RemoveTree(s.installDir);
        if (c.exists) {
            ASSERT_TRUE(CreateDirectoryA(s.installDir.c_str(), NULL));
            ASSERT_TRUE(WriteFileBytes(JoinPath(s.installDir, "notes.txt"), "the user's own notes"));
        }
        Installer installer;
        ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
        ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
        ASSERT_TRUE(installer.Click(IDC_FORWARD));
        MessageBoxSeen box;
        ASSERT_TRUE(installer.WaitForMessageBox(kStepTimeout, &box)) << "no message";
        EXPECT_EQ("Velk Installation Error [5]", box.caption);
        EXPECT_EQ(kCopyProblemText, box.text);
        EXPECT_TRUE(box.hasOk);
        ASSERT_TRUE(installer.Answer(box, IDOK));
        ExpectExitZero(installer);
        EXPECT_EQ(1u, installer.Answered().size()) << Describe(installer.Answered());
        EXPECT_FALSE(Exists(TempFilePath()));
        if (c.exists) {
            EXPECT_EQ(std::vector<std::string>{"notes.txt"}, ListDir(s.installDir));
        } else {
            EXPECT_FALSE(Exists(s.installDir));
        }
        RemoveTree(s.installDir);
    }
    EXPECT_TRUE(ListDir(kFullDiskDrive).empty());
}

} // namespace
