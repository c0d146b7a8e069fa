// What happens after the wizard has ended: the uninstall entry, the
// settings default, and the client and its help file started when the user
// asked for them on the finish page.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/scenario.h"

using namespace e2e;

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velk";

// A 32-bit installer on 64-bit Windows has its HKLM\Software keys redirected
// into the 32-bit registry view (Software\WOW6432Node), which is where
// Add/Remove Programs looks for the entries of 32-bit programs; the x86_64
// twin writes the 64-bit view. The entry is read, and deleted, in the view
// of the installer under test, whatever the width of this test program.
const REGSAM kInstallerView = VELK_SETUP_IS_32BIT ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
const REGSAM kOtherView = VELK_SETUP_IS_32BIT ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
const char kIgnoredPatterns[] = "*.exe,*.com,*.bat,*.dll,*.ini,*.vlk,*.vbs,*.js,*.pif,*.scr,*.lnk,*.pl,*.shs";
// Wine's help viewer takes its time over the file: up to half a minute and
// more was seen on a fresh session.
const DWORD kHelpViewerTimeout = 120000;
const char kAbortQuestion[] = "Are you sure you want to abort the installation?";

// Ends whatever the installer started when the scenario is over, passed or
// not: the client and the help viewer stay open until they are closed.
struct EndChildrenAtExit {
    const Installer& installer;
    ~EndChildrenAtExit()
    {
        for (const ProcessSeen& p : ChildrenOf(installer.ProcessId()))
            EndProcess(p.pid);
    }
};

std::vector<ProcessSeen> ChildrenNamed(DWORD parent, const std::string& exe)
{
    std::vector<ProcessSeen> found;
    for (const ProcessSeen& p : ChildrenOf(parent))
        if (p.exe == exe)
            found.push_back(p);
    return found;
}

std::string ProfileValue(const std::string& file, const char* section, const char* key)
{
    char value[1024] = "";
    GetPrivateProfileStringA(section, key, "(none)", value, sizeof value, file.c_str());
    return value;
}

// Installs into the scenario's folder without shortcuts and waits for the
// finish page.
void InstallToFinish(Installer& installer, const Scenario& s,
                     const std::vector<std::pair<std::string, std::string>>& env = {})
{
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s, env));
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << Describe(installer.Answered());
}

// Install pressed and the run aborted at once (the abort question answered
// Yes): the wizard has read the folder field and is back on the options page.
void InstallAndAbort(Installer& installer)
{
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.ClickInSequence({IDC_FORWARD, IDC_CANCEL}));
    MessageBoxSeen box;
    ASSERT_TRUE(installer.WaitForMessageBox(kStepTimeout, &box)) << "no abort question";
    ASSERT_EQ(kAbortQuestion, box.text);
    ASSERT_TRUE(installer.Answer(box, IDYES));
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout)) << PageName(installer.CurrentPage());
}

// Browse, then Cancel in the chooser: the wizard has read the folder field
// (the first browse cuts it to its drive root, so it is done twice).
void BrowseAndCancelTwice(Installer& installer)
{
    for (int i = 0; i < 2; i++) {
        ASSERT_TRUE(installer.Click(IDC_BROWSE));
        ASSERT_TRUE(installer.WaitForChooser(kStepTimeout)) << "no folder chooser";
        ASSERT_TRUE(installer.ClickChooser(IDCANCEL));
        ASSERT_TRUE(installer.WaitForChooserGone(kStepTimeout));
    }
}

// ---- Client and help viewer ----------------------------------------------

struct FinishCase {
    const char* name;
    bool help, launch;
};

class FinishChoiceTest : public InstallerTest, public ::testing::WithParamInterface<FinishCase> {};

// The client is started in the install folder, and the help viewer opens
// the installed help file, each only when its box is checked; the client
// first.
TEST_P(FinishChoiceTest, StartsTheClientAndTheHelpViewerOnlyWhenAsked)
{
    const FinishCase& c = GetParam();
    Scenario s(std::string("finish-") + c.name);
    Installer installer;
    EndChildrenAtExit endChildren{installer};
    ASSERT_NO_FATAL_FAILURE(InstallToFinish(installer, s));
    ASSERT_TRUE(installer.SetChecked(IDC_READ_HELP, c.help));
    ASSERT_TRUE(installer.SetChecked(IDC_LAUNCH, c.launch));
    ASSERT_TRUE(installer.Click(IDC_CANCEL)); // "&Finish"

    const std::string helpFile = JoinPath(s.installDir, "velk.hlp");
    // The viewer is watched while it is there: it ends by itself once its
    // box is closed.
    ProcessSeen viewer;
    unsigned long long viewerCreated = 0;
    if (c.help) {
        // The help call waits until the viewer has taken the file. The
        // sample help file is no real help file: Wine's viewer says so in a
        // box of its own, which the user closes.
        HWND box = NULL;
        std::string text, seen;
        WaitUntil([&] {
            seen.clear();
            for (const ProcessSeen& p : ChildrenNamed(installer.ProcessId(), "winhlp32.exe")) {
                viewer = p;
                viewerCreated = viewerCreated ? viewerCreated : CreationTime(p.pid);
                for (const auto& w : TopWindows(p.pid)) {
                    seen += "[" + w.second + "] ";
                    HWND label = GetDlgItem(w.first, 0xFFFF);
                    char t[1024] = "";
                    if (label && GetWindowTextA(label, t, sizeof t) && strstr(t, "help file")) {
                        box = w.first;
                        text = t;
                        return true;
                    }
                }
            }
            return !installer.Running();
        }, kHelpViewerTimeout);
        ASSERT_NE(0u, viewer.pid) << "no help viewer started";
        if (!box) {
            // What the viewer has, shown or not, for the failure message.
            for (HWND w = GetTopWindow(NULL); w; w = GetWindow(w, GW_HWNDNEXT)) {
                DWORD owner = 0;
                GetWindowThreadProcessId(w, &owner);
                if (owner != viewer.pid)
                    continue;
                char cls[64] = "", caption[256] = "";
                GetClassNameA(w, cls, sizeof cls);
                GetWindowTextA(w, caption, sizeof caption);
                seen += std::string(IsWindowVisible(w) ? "shown " : "hidden ") + cls + " [" + caption + "]; ";
            }
        }
        ASSERT_TRUE(box) << "the help viewer shows no word about the help file; its windows: " << seen
                         << (installer.Running() ? "; the installer still runs" : "; the installer has ended");
        EXPECT_EQ("Error while reading the help file `" + helpFile + "'", text);
        EXPECT_TRUE(installer.Running()) << "the help call returned before the viewer took the file";
        PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    }
    ExpectExitZero(installer);

    // Both are started before the installer ends; what it has not started
    // by then it never starts.
    std::vector<ProcessSeen> clients = ChildrenNamed(installer.ProcessId(), "velk32.exe");
    std::vector<ProcessSeen> viewers = ChildrenNamed(installer.ProcessId(), "winhlp32.exe");
    EXPECT_EQ(c.launch ? 1u : 0u, clients.size());
    for (const ProcessSeen& p : viewers)
        EXPECT_TRUE(c.help && p.pid == viewer.pid) << "a help viewer was started";
    const std::string log = JoinPath(s.installDir, "velk32.log");
    if (c.launch && clients.size() == 1) {
        HWND window = NULL;
        EXPECT_TRUE(WaitUntil([&] {
            for (const auto& w : TopWindows(clients[0].pid))
                if (w.second == "Velk")
                    window = w.first;
            return window != NULL;
        }, kStepTimeout)) << "no client window \"Velk\"";
        std::string lines;
        ReadFileBytes(log, &lines);
        EXPECT_EQ("start\tcwd=" + s.installDir + "\targs=\r\n", lines) << "one start, in the install folder";
        if (c.help) {
            unsigned long long clientCreated = CreationTime(clients[0].pid);
            EXPECT_NE(0u, clientCreated);
            EXPECT_LT(clientCreated, viewerCreated) << "the client comes first";
        }
        if (window) {
            PostMessageA(window, WM_CLOSE, 0, 0);
            HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, clients[0].pid);
            EXPECT_TRUE(process && WaitForSingleObject(process, kStepTimeout) == WAIT_OBJECT_0)
                << "the client did not end on closing its window";
            if (process)
                CloseHandle(process);
        }
    } else {
        EXPECT_FALSE(Exists(log)) << "the client was started";
    }
}

INSTANTIATE_TEST_SUITE_P(Boxes, FinishChoiceTest,
                         ::testing::Values(FinishCase{"both", true, true}, FinishCase{"help", true, false},
                                           FinishCase{"launch", false, true}, FinishCase{"none", false, false}),
                         [](const ::testing::TestParamInfo<FinishCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- Uninstall entry -----------------------------------------------------

enum LeaveBy { FinishButton, FinishSystemClose, CancelOnWelcome, CancelOnOptions, AbortThenCancel };

struct UninstallCase {
    const char* name;
    const char* version; // "" : Wine's default, an old shell
    LeaveBy leave;
    bool entry;
};

class UninstallEntryTest : public InstallerTest, public ::testing::WithParamInterface<UninstallCase> {
protected:
    void SetUp() override
    {
        InstallerTest::SetUp();
        DeleteKey();
    }
    void TearDown() override { DeleteKey(); }
    static void DeleteKey()
    {
        for (REGSAM view : {kInstallerView, kOtherView}) {
            LONG r = RegDeleteKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, view, 0);
            ASSERT_TRUE(r == ERROR_SUCCESS || r == ERROR_FILE_NOT_FOUND) << r;
        }
    }
};

struct RegValue {
    bool present = false;
    DWORD type = 0;
    std::string data;
};

RegValue ReadUninstallValue(const char* name, REGSAM view = kInstallerView)
{
    RegValue v;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, KEY_READ | view, &key) != ERROR_SUCCESS)
        return v;
    char data[1024];
    DWORD size = sizeof data;
    if (RegQueryValueExA(key, name, NULL, &v.type, reinterpret_cast<BYTE*>(data), &size) == ERROR_SUCCESS) {
        v.present = true;
        v.data.assign(data, size); // with its terminating zero, as stored
    }
    RegCloseKey(key);
    return v;
}

// The entry for removal is written only when the user leaves the finish
// page on a new-shell system.
TEST_P(UninstallEntryTest, IsWrittenOnlyOnFinishOnANewShell)
{
    const UninstallCase& c = GetParam();
    WineVersion version(c.version);
    Scenario s(std::string("uninstall-") + c.name);
    Installer installer;
    EndChildrenAtExit endChildren{installer};
    if (c.leave == CancelOnWelcome) {
        ASSERT_TRUE(s.CopyInstaller());
        ASSERT_TRUE(installer.Start(s.exe, s.dir));
        ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
        ASSERT_TRUE(installer.WaitForPage(Welcome, kStepTimeout));
        ASSERT_TRUE(installer.Click(IDC_CANCEL));
    } else if (c.leave == CancelOnOptions || c.leave == AbortThenCancel) {
        ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
        if (c.leave == AbortThenCancel) {
            ASSERT_NO_FATAL_FAILURE(InstallAndAbort(installer));
        }
        ASSERT_TRUE(installer.Click(IDC_CANCEL));
    } else {
        ASSERT_NO_FATAL_FAILURE(InstallToFinish(installer, s));
        if (c.leave == FinishSystemClose)
            installer.SystemClose();
        else
            ASSERT_TRUE(installer.Click(IDC_CANCEL));
    }
    ExpectExitZero(installer);

    RegValue name = ReadUninstallValue("DisplayName");
    RegValue command = ReadUninstallValue("UninstallString");
    if (c.entry) {
        ASSERT_TRUE(name.present);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), name.type);
        EXPECT_EQ(std::string("Velk", 5), name.data);
        ASSERT_TRUE(command.present);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), command.type);
        // Quoted although the path has no blank.
        EXPECT_EQ("\"" + s.installDir + "\\velk32.exe\" -uninstall" + std::string(1, '\0'), command.data);
        // Only in the installer's own view.
        EXPECT_FALSE(ReadUninstallValue("DisplayName", kOtherView).present);
    } else {
        EXPECT_FALSE(name.present) << name.data;
        EXPECT_FALSE(command.present) << command.data;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ways, UninstallEntryTest,
    ::testing::Values(UninstallCase{"finish_win98", "win98", FinishButton, true},
                      UninstallCase{"finish_nt40", "nt40", FinishButton, true},
                      UninstallCase{"systemclose_finish_win98", "win98", FinishSystemClose, true},
                      UninstallCase{"finish_oldshell", "", FinishButton, false},
                      UninstallCase{"cancel_welcome_win98", "win98", CancelOnWelcome, false},
                      UninstallCase{"cancel_options_win98", "win98", CancelOnOptions, false},
                      UninstallCase{"abort_then_cancel_win98", "win98", AbortThenCancel, false}),
    [](const ::testing::TestParamInfo<UninstallCase>& info) { return std::string(info.param.name); });

// ---- Settings default ----------------------------------------------------

const char kUserSettings[] = "[velk]\r\nnick=tester\r\n\r\n[text]\r\nignore=*.txt\r\nquit=Bye\r\n";

struct InstalledSettingsCase {
    const char* name;
    bool keepSettings;
};

class InstalledSettingsTest : public InstallerTest,
                              public ::testing::WithParamInterface<InstalledSettingsCase> {};

// After an installation the settings file holds the thirteen patterns: in
// the user's own file when it is kept (its earlier value replaced, the rest
// as it was), in the installed one when it is replaced.
TEST_P(InstalledSettingsTest, SettingsFileHoldsTheIgnoredPatterns)
{
    const InstalledSettingsCase& c = GetParam();
    Scenario s(std::string("settings-") + c.name);
    ASSERT_TRUE(CreateDirectoryA(s.installDir.c_str(), NULL));
    const std::string ini = JoinPath(s.installDir, "velk.ini");
    ASSERT_TRUE(WriteFileBytes(ini, kUserSettings));
    Installer installer;
    EndChildrenAtExit endChildren{installer};
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.SetChecked(IDC_KEEP_SETTINGS, c.keepSettings));
    ASSERT_TRUE(installer.Checked(IDC_BACKUP));
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << Describe(installer.Answered());
    // Written only after the wizard.
    EXPECT_EQ(c.keepSettings ? "*.txt" : "(none)", ProfileValue(ini, "text", "ignore"));
    FinishAndExit(installer);

    EXPECT_EQ(kIgnoredPatterns, ProfileValue(ini, "text", "ignore"));
    if (c.keepSettings) {
        EXPECT_EQ("tester", ProfileValue(ini, "velk", "nick"));
        EXPECT_EQ("Bye", ProfileValue(ini, "text", "quit"));
    } else {
        EXPECT_EQ("Leaving", ProfileValue(ini, "text", "quit")) << "the installed file";
        // The user's file went into the backup folder as it was.
        std::string saved;
        EXPECT_TRUE(ReadFileBytes(JoinPath(s.installDir, "backup\\velk.ini"), &saved));
        EXPECT_EQ(kUserSettings, saved);
    }
}

INSTANTIATE_TEST_SUITE_P(Options, InstalledSettingsTest,
                         ::testing::Values(InstalledSettingsCase{"kept", true},
                                           InstalledSettingsCase{"replaced", false}),
                         [](const ::testing::TestParamInfo<InstalledSettingsCase>& info) {
                             return std::string(info.param.name);
                         });

enum ReadBy { BrowseThenCancel, InstallThenAbort };

struct CancelledSettingsCase {
    const char* name;
    ReadBy readBy;
    bool fileExists;
};

class CancelledSettingsTest : public InstallerTest,
                              public ::testing::WithParamInterface<CancelledSettingsCase> {};

// Cancelled after the wizard has read the folder field: the patterns go
// into a settings file standing in that folder, and no file is created. A
// cancelled chooser leaves the folder the wizard read as it was.
TEST_P(CancelledSettingsTest, DefaultGoesOnlyIntoAnExistingFile)
{
    const CancelledSettingsCase& c = GetParam();
    Scenario s(std::string("cancel-settings-") + c.name);
    // Not named velk: a browse proposes folder\velk, which a cancelled
    // chooser must not leave behind as the install directory.
    const std::string folder = JoinPath(s.dir, "Chat");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), NULL));
    const std::string ini = JoinPath(folder, "velk.ini");
    if (c.fileExists) {
        ASSERT_TRUE(WriteFileBytes(ini, kUserSettings));
    }
    Installer installer;
    EndChildrenAtExit endChildren{installer};
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.SetFolder(folder));
    if (c.readBy == BrowseThenCancel) {
        ASSERT_NO_FATAL_FAILURE(BrowseAndCancelTwice(installer));
    } else {
        ASSERT_NO_FATAL_FAILURE(InstallAndAbort(installer));
    }
    ASSERT_TRUE(installer.Click(IDC_CANCEL));
    ExpectExitZero(installer);

    if (c.fileExists) {
        EXPECT_EQ(kIgnoredPatterns, ProfileValue(ini, "text", "ignore"));
        EXPECT_EQ("tester", ProfileValue(ini, "velk", "nick"));
    } else {
        EXPECT_FALSE(Exists(ini)) << "a settings file was created";
    }
    std::vector<std::string> left = ListDir(folder);
    EXPECT_EQ(c.fileExists ? 1u : 0u, left.size()) << "nothing installed";
}

INSTANTIATE_TEST_SUITE_P(
    Reads, CancelledSettingsTest,
    ::testing::Values(CancelledSettingsCase{"browse_file", BrowseThenCancel, true},
                      CancelledSettingsCase{"browse_nofile", BrowseThenCancel, false},
                      CancelledSettingsCase{"abort_file", InstallThenAbort, true},
                      CancelledSettingsCase{"abort_nofile", InstallThenAbort, false}),
    [](const ::testing::TestParamInfo<CancelledSettingsCase>& info) { return std::string(info.param.name); });

} // namespace
