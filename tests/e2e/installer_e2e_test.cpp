// End-to-end scenarios: velk-setup.exe runs as its own process in the Wine
// session and is driven through its windows, as a user would drive it.
#include <windows.h>
#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/scenario.h"

using namespace e2e;

namespace {

const char kCorruptText[] = "The installation file seems to be corrupt!\n\n"
                            "Please try running the installation program again or download a new version!";
const char kShortcutRetryText[] = "There seems to be a problem adding Velk icons to the Program Manager!\n\n"
                                  "Do you want me to try again?";
const char kAbortQuestion[] = "Are you sure you want to abort the installation?";

std::string Marker() { return std::string("K") + "WAZ"; }

// What one page shows: visible groups, the two buttons, the focus.
struct PageLook {
    int page;
    std::vector<int> visible;
    std::vector<int> hidden;
    const char* forward; // nullptr: the forward button is hidden and disabled
    bool forwardEnabled;
    const char* cancel;
    int focus;
};

const PageLook kPageLooks[] = {
    {Welcome, {130, 131, 132, 133}, {140, 141, 142, 150, 152, 156, 170, 180, 121}, "&Next >", true, "Cancel", IDC_FORWARD},
    {Licence, {140, 141, 142}, {130, 133, 150, 152, 156, 170, 180, 121}, "&Yes", true, "&No", IDC_LICENCE_TEXT},
    {Options, {150, 151, 152, 153, 154, 155, 156, 157, 158, 159}, {130, 141, 170, 172, 180, 121}, "&Install", true, "Cancel", IDC_FORWARD},
    {Installing, {150, 151, 152, 154, 170, 172}, {130, 141, 155, 156, 157, 158, 159, 180, 121}, "&Install", false, "Abort", IDC_CANCEL},
    {Finish, {180, 181, 182, 183, 184, 185}, {130, 141, 150, 152, 156, 170, 121}, nullptr, false, "&Finish", IDC_CANCEL},
};

// Checks what a page shows. The controls' states and captions are read
// without the installer's help (the system keeps them), so the look is
// read in one go while the installer's thread is held: nothing changes
// half-way through.
void ExpectPageLook(Installer& installer, const PageLook& look)
{
    SCOPED_TRACE(std::string("page ") + PageName(look.page));
    // The page's focus is set last: wait for it (it must come before the
    // page is left).
    EXPECT_TRUE(WaitUntil([&] { return installer.FocusedId() == look.focus || installer.CurrentPage() != look.page; },
                          5000));
    struct Seen {
        std::vector<bool> visible, hidden, hiddenEnabled;
        bool browseVisible, browseEnabled;
        bool forwardVisible, forwardEnabled, cancelVisible, cancelEnabled, backVisible, backEnabled;
        std::string forward, cancel;
        int focus;
    } seen;
    auto caption = [&](int id) {
        char text[256] = "";
        GetWindowTextA(installer.Control(id), text, sizeof text);
        return std::string(text);
    };
    installer.Hold();
    for (int id : look.visible)
        seen.visible.push_back(installer.Visible(id) && installer.Enabled(id));
    for (int id : look.hidden) {
        seen.hidden.push_back(!installer.Visible(id));
        seen.hiddenEnabled.push_back(installer.Enabled(id));
    }
    seen.browseVisible = installer.Visible(IDC_BROWSE);
    seen.browseEnabled = installer.Enabled(IDC_BROWSE);
    seen.forwardVisible = installer.Visible(IDC_FORWARD);
    seen.forwardEnabled = installer.Enabled(IDC_FORWARD);
    seen.cancelVisible = installer.Visible(IDC_CANCEL);
    seen.cancelEnabled = installer.Enabled(IDC_CANCEL);
    seen.backVisible = installer.Visible(IDC_BACK);
    seen.backEnabled = installer.Enabled(IDC_BACK);
    seen.forward = caption(IDC_FORWARD);
    seen.cancel = caption(IDC_CANCEL);
    seen.focus = installer.FocusedId();
    installer.Release();

    for (size_t i = 0; i < look.visible.size(); i++)
        EXPECT_TRUE(seen.visible[i]) << "control " << look.visible[i] << " should be shown and enabled";
    for (size_t i = 0; i < look.hidden.size(); i++) {
        EXPECT_TRUE(seen.hidden[i]) << "control " << look.hidden[i] << " should be hidden";
        // 153 stays visible but disabled on the installing page; hidden
        // controls of the groups are disabled too.
        EXPECT_FALSE(seen.hiddenEnabled[i]) << "control " << look.hidden[i] << " should be disabled";
    }
    EXPECT_FALSE(seen.backVisible);
    EXPECT_FALSE(seen.backEnabled);
    if (look.forward) {
        EXPECT_TRUE(seen.forwardVisible);
        EXPECT_EQ(look.forward, seen.forward);
        EXPECT_EQ(look.forwardEnabled, seen.forwardEnabled);
    } else {
        EXPECT_FALSE(seen.forwardVisible);
        EXPECT_FALSE(seen.forwardEnabled);
    }
    EXPECT_TRUE(seen.cancelVisible);
    EXPECT_TRUE(seen.cancelEnabled);
    EXPECT_EQ(look.cancel, seen.cancel);
    EXPECT_EQ(look.focus, seen.focus);
    if (look.page == Installing) {
        EXPECT_TRUE(seen.browseVisible) << "Browse stays in view while installing";
        EXPECT_FALSE(seen.browseEnabled) << "Browse is disabled while installing";
    }
}


// ---- Program Manager groups, as the shell keeps them --------------------

std::string SpecialFolder(int csidl)
{
    char path[MAX_PATH] = "";
    if (FAILED(SHGetFolderPathA(NULL, csidl, NULL, SHGFP_TYPE_CURRENT, path)))
        return std::string();
    return path;
}

// The group "Velk" may be kept for the user or for all users: both places
// are looked at.
std::vector<std::string> GroupFolders()
{
    return {JoinPath(SpecialFolder(CSIDL_PROGRAMS), "Velk"), JoinPath(SpecialFolder(CSIDL_COMMON_PROGRAMS), "Velk")};
}

void RemoveGroups()
{
    for (const std::string& g : GroupFolders())
        ASSERT_TRUE(RemoveTree(g)) << g;
}

std::string FoundGroup()
{
    for (const std::string& g : GroupFolders())
        if (IsDirectory(g))
            return g;
    return std::string();
}

struct Link {
    bool read = false;
    std::string target, workDir, iconFile;
    int iconIndex = -1;
};

Link ReadLink(const std::string& path)
{
    Link link;
    IShellLinkA* shellLink = NULL;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, NULL, CLSCTX_INPROC_SERVER, IID_IShellLinkA,
                                reinterpret_cast<void**>(&shellLink))))
        return link;
    IPersistFile* file = NULL;
    if (SUCCEEDED(shellLink->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file)))) {
        wchar_t wide[MAX_PATH];
        MultiByteToWideChar(CP_ACP, 0, path.c_str(), -1, wide, MAX_PATH);
        if (SUCCEEDED(file->Load(wide, STGM_READ))) {
            char text[MAX_PATH] = "";
            WIN32_FIND_DATAA data;
            shellLink->GetPath(text, MAX_PATH, &data, SLGP_RAWPATH);
            link.target = text;
            text[0] = '\0';
            shellLink->GetWorkingDirectory(text, MAX_PATH);
            link.workDir = text;
            text[0] = '\0';
            shellLink->GetIconLocation(text, MAX_PATH, &link.iconIndex);
            link.iconFile = text;
            link.read = true;
        }
        file->Release();
    }
    shellLink->Release();
    return link;
}

struct ExpectedItem {
    const char* name;
    const char* file;
    bool textItem; // readme and version history: "write.exe" on old shells
};
const ExpectedItem kItems[] = {{"Velk32", "Velk32.exe", false},
                               {"Velk Help", "Velk.hlp", false},
                               {"IRC Intro", "IRCintro.hlp", false},
                               {"Readme.txt", "readme.txt", true},
                               {"Versions.txt", "versions.txt", true}};

void ExpectShortcuts(const std::string& installDir, bool newShell)
{
    std::string group = FoundGroup();
    ASSERT_FALSE(group.empty()) << "no group folder Velk in " << GroupFolders()[0] << " or " << GroupFolders()[1];
    std::vector<std::string> names = ListDir(group);
    std::string listing;
    for (const std::string& n : names)
        listing += n + "; ";
    EXPECT_EQ(5u, names.size()) << listing;
    for (const ExpectedItem& item : kItems) {
        SCOPED_TRACE(item.name);
        Link link = ReadLink(JoinPath(group, std::string(item.name) + ".lnk"));
        ASSERT_TRUE(link.read) << "cannot read " << item.name << ".lnk; group holds " << listing;
        EXPECT_EQ(Lower(JoinPath(installDir, item.file)), Lower(link.target));
        EXPECT_EQ(Lower(installDir), Lower(link.workDir));
        if (item.textItem && !newShell) {
            EXPECT_EQ("write.exe", Lower(link.iconFile.substr(link.iconFile.find_last_of('\\') + 1)))
                << link.iconFile;
            EXPECT_EQ(0, link.iconIndex);
        } else {
            EXPECT_EQ("", link.iconFile);
        }
    }
}


// ---- Scenarios ---------------------------------------------------------

TEST_F(InstallerTest, HappyPathShowsEveryPageAndInstallsThePayload)
{
    WineVersion version("");
    RemoveGroups();
    Scenario s("happy");
    Installer installer;
    ASSERT_TRUE(s.CopyInstaller());
    ASSERT_TRUE(installer.Start(s.exe, s.dir));
    ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
    ASSERT_TRUE(installer.WaitForPage(Welcome, kStepTimeout));
    ExpectPageLook(installer, kPageLooks[Welcome]);
    EXPECT_EQ("Welcome to the Velk installation program! This program will install Velk v5.81 32bit on your computer.",
              installer.Text(IDC_WELCOME_TEXT));

    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Licence, kStepTimeout));
    ExpectPageLook(installer, kPageLooks[Licence]);
    std::string licence = installer.Text(IDC_LICENCE_TEXT);
    EXPECT_GT(licence.size(), 1000u);
    EXPECT_EQ(std::string::npos, licence.find("***")) << "the licence is shown up to its end line";

    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout));
    ExpectPageLook(installer, kPageLooks[Options]);
    // The proposal: the installer's drive (a fixed disk here) and "Velk".
    EXPECT_EQ(Lower(s.exe.substr(0, 3)) + "Velk", installer.Text(IDC_FOLDER));
    EXPECT_TRUE(installer.Checked(IDC_BACKUP));
    EXPECT_TRUE(installer.Checked(IDC_KEEP_SETTINGS));
    EXPECT_TRUE(installer.Checked(IDC_SHORTCUTS));
    EXPECT_FALSE(installer.Checked(IDC_READ_HELP));
    EXPECT_FALSE(installer.Checked(IDC_LAUNCH));
    ASSERT_TRUE(installer.SetFolder(s.installDir));

    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    // The installing page lasts as long as the steps through the image.
    if (installer.WaitForPage(Installing, kStepTimeout))
        ExpectPageLook(installer, kPageLooks[Installing]);
    else
        ADD_FAILURE() << "installing page not seen; now on " << PageName(installer.CurrentPage());
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << Describe(installer.Answered());
    ExpectPageLook(installer, kPageLooks[Finish]);
    EXPECT_FALSE(installer.Checked(IDC_READ_HELP));
    EXPECT_FALSE(installer.Checked(IDC_LAUNCH));
    ExpectInstalledFiles(s.installDir);
    EXPECT_FALSE(Exists(TempFilePath()));
    MessageBoxSeen box;
    EXPECT_FALSE(installer.FindMessageBox(&box)) << box.caption;

    FinishAndExit(installer);
    RemoveGroups();
}

// Leaving one of the first three pages ends the installer at once, with no
// question and nothing installed.
struct LeaveCase {
    int page;
    bool systemClose; // the system menu's Close instead of the cancel button
};

class LeaveEarlyTest : public InstallerTest, public ::testing::WithParamInterface<LeaveCase> {};

TEST_P(LeaveEarlyTest, EndsAtOnceWithoutAQuestion)
{
    const LeaveCase& c = GetParam();
    Scenario s(std::string("leave-") + PageName(c.page) + (c.systemClose ? "-close" : "-cancel"));
    Installer installer;
    ASSERT_TRUE(s.CopyInstaller());
    ASSERT_TRUE(installer.Start(s.exe, s.dir));
    ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
    for (int page = Welcome; page < c.page; page++) {
        ASSERT_TRUE(installer.WaitForPage(page, kStepTimeout));
        ASSERT_TRUE(installer.Click(IDC_FORWARD));
    }
    ASSERT_TRUE(installer.WaitForPage(c.page, kStepTimeout));
    if (c.page == Options) {
        ASSERT_TRUE(installer.SetFolder(s.installDir));
    }
    if (c.systemClose) {
        installer.SystemClose();
    } else {
        ASSERT_TRUE(installer.Click(IDC_CANCEL));
    }
    MessageBoxSeen box;
    bool asked = false;
    // Watch for a question until the process has gone.
    WaitUntil([&] {
        if (installer.FindMessageBox(&box))
            asked = true;
        return asked || !installer.Running();
    }, kStepTimeout);
    EXPECT_FALSE(asked) << "[" << box.caption << "] " << box.text;
    if (asked)
        installer.Answer(box, box.hasNo ? IDNO : IDOK);
    ExpectExitZero(installer);
    EXPECT_FALSE(Exists(s.installDir));
}

INSTANTIATE_TEST_SUITE_P(Pages, LeaveEarlyTest,
                         ::testing::Values(LeaveCase{Welcome, false}, LeaveCase{Licence, false},
                                           LeaveCase{Options, false}, LeaveCase{Welcome, true},
                                           LeaveCase{Licence, true}, LeaveCase{Options, true}),
                         [](const ::testing::TestParamInfo<LeaveCase>& info) {
                             return std::string(PageName(info.param.page)) +
                                    (info.param.systemClose ? "SystemClose" : "CancelButton");
                         });

// Abort pressed during the installation. The click on Abort is queued right
// behind the click on Install, so it is taken before the first extraction
// step; while the question is open no step runs.
void StartAndAbort(Installer& installer, const Scenario& s, MessageBoxSeen* box)
{
    StartToOptions(installer, s);
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.ClickInSequence({IDC_FORWARD, IDC_CANCEL}));
    ASSERT_TRUE(installer.WaitForMessageBox(kStepTimeout, box)) << "no abort question";
    EXPECT_EQ("Velk Installation Warning", box->caption);
    EXPECT_EQ(kAbortQuestion, box->text);
    EXPECT_TRUE(box->hasYes && box->hasNo && !box->hasOk);
    EXPECT_EQ(Installing, installer.CurrentPage());
    // The run is held: nothing is installed while the question is open.
    Sleep(300);
    EXPECT_TRUE(installer.FindMessageBox(box));
    EXPECT_EQ(Installing, installer.CurrentPage());
    ExpectNoPayloadFiles(s.installDir);
}

TEST_F(InstallerTest, AbortAnsweredNoResumesAndCompletes)
{
    Scenario s("abort-no");
    Installer installer;
    MessageBoxSeen box;
    ASSERT_NO_FATAL_FAILURE(StartAndAbort(installer, s, &box));
    ASSERT_TRUE(installer.Answer(box, IDNO));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << PageName(installer.CurrentPage());
    ExpectInstalledFiles(s.installDir);
    EXPECT_FALSE(installer.FindMessageBox(&box)) << box.caption;
    FinishAndExit(installer);
}

TEST_F(InstallerTest, AbortAnsweredYesCleansUpAndASecondInstallSucceeds)
{
    Scenario s("abort-yes");
    Installer installer;
    MessageBoxSeen box;
    ASSERT_NO_FATAL_FAILURE(StartAndAbort(installer, s, &box));
    ASSERT_TRUE(installer.Answer(box, IDYES));
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout)) << PageName(installer.CurrentPage());
    // Nothing of the run is left: the folder it created, the temporary file.
    EXPECT_FALSE(Exists(s.installDir));
    EXPECT_FALSE(Exists(TempFilePath()));
    // The options page again, with the user's folder and options.
    ExpectPageLook(installer, kPageLooks[Options]);
    EXPECT_EQ(s.installDir, installer.Text(IDC_FOLDER));
    EXPECT_TRUE(installer.Checked(IDC_BACKUP));
    EXPECT_FALSE(installer.Checked(IDC_SHORTCUTS));
    // No step of the aborted run comes back.
    Sleep(300);
    EXPECT_EQ(Options, installer.CurrentPage());
    ExpectNoPayloadFiles(s.installDir);

    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << PageName(installer.CurrentPage());
    ExpectInstalledFiles(s.installDir);
    EXPECT_FALSE(installer.FindMessageBox(&box)) << box.caption;
    EXPECT_TRUE(installer.Answered().size() == 1) << Describe(installer.Answered());
    FinishAndExit(installer);
}

TEST_F(InstallerTest, SystemCloseOnTheFinishPageFinishes)
{
    Scenario s("close-finish");
    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout));
    ExpectInstalledFiles(s.installDir);
    installer.SystemClose();
    MessageBoxSeen box;
    bool asked = false;
    WaitUntil([&] {
        asked = asked || installer.FindMessageBox(&box);
        return asked || !installer.Running();
    }, kStepTimeout);
    EXPECT_FALSE(asked) << box.caption;
    ExpectExitZero(installer);
    // Finishing keeps what was installed.
    for (const char* name : kPayloadFiles)
        EXPECT_TRUE(Exists(JoinPath(s.installDir, name))) << name;
}

TEST_F(InstallerTest, DamagedImageReportsErrorTenAndExtractsNothing)
{
    Scenario s("damaged");
    std::string image;
    ASSERT_TRUE(ReadFileBytes(SetupExe(), &image));
    const std::string marker = Marker();
    size_t first = image.find(marker);
    ASSERT_NE(std::string::npos, first) << "no payload in the image";
    size_t second = image.find(marker, first + marker.size());
    ASSERT_NE(std::string::npos, second);
    ASSERT_GT(second - first, marker.size() + 4) << "segment 0 is too short";
    // One byte in the middle of segment 0, changed so that it forms no marker.
    size_t at = first + marker.size() + (second - first - marker.size()) / 2;
    image[at] = static_cast<char>(image[at] ^ 0x20);
    ASSERT_EQ(std::string::npos, image.substr(at - 4, 8).find(marker));
    ASSERT_TRUE(WriteFileBytes(s.exe, image));

    Installer installer;
    ASSERT_TRUE(installer.Start(s.exe, s.dir));
    ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
    for (int page = Welcome; page < Options; page++) {
        ASSERT_TRUE(installer.WaitForPage(page, kStepTimeout));
        ASSERT_TRUE(installer.Click(IDC_FORWARD));
    }
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout));
    ASSERT_TRUE(installer.SetFolder(s.installDir));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    MessageBoxSeen box;
    ASSERT_TRUE(installer.WaitForMessageBox(kStepTimeout, &box)) << "no error message";
    EXPECT_EQ("Velk Installation Error [10]", box.caption);
    EXPECT_EQ(kCorruptText, box.text);
    EXPECT_TRUE(box.hasOk && !box.hasYes && !box.hasNo);
    ExpectNoPayloadFiles(s.installDir);
    ASSERT_TRUE(installer.Answer(box, IDOK));
    ExpectExitZero(installer);
    ExpectNoPayloadFiles(s.installDir);
    EXPECT_FALSE(Exists(TempFilePath()));
}

// Shortcuts through the shell's real Program Manager service, on both shell
// paths: the Windows version decides the new-shell flag.
struct ShellCase {
    const char* version; // "" : Wine's default
    bool newShell;
};

class ShortcutTest : public InstallerTest, public ::testing::WithParamInterface<ShellCase> {};

TEST_P(ShortcutTest, GroupVelkHoldsFiveLinksIntoTheInstallFolder)
{
    const ShellCase& c = GetParam();
    WineVersion version(c.version);
    RemoveGroups();
    Scenario s(std::string("shortcuts-") + (*c.version ? c.version : "default"));
    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.Checked(IDC_SHORTCUTS));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, 60000)) << PageName(installer.CurrentPage());
    MessageBoxSeen box;
    EXPECT_FALSE(installer.FindMessageBox(&box)) << box.caption;
    ExpectShortcuts(s.installDir, c.newShell);
    FinishAndExit(installer);
    RemoveGroups();
}

INSTANTIATE_TEST_SUITE_P(Shells, ShortcutTest,
                         ::testing::Values(ShellCase{"", false}, ShellCase{"win98", true}, ShellCase{"nt40", true}),
                         [](const ::testing::TestParamInfo<ShellCase>& info) {
                             return std::string(*info.param.version ? info.param.version : "default");
                         });

// A plain file where the group's folder would be: the service cannot add
// the items and the installer asks whether to try again.
struct RetryCase {
    bool removeCauseAndRetry;
};

class ShortcutRetryTest : public InstallerTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(ShortcutRetryTest, AsksAgainUntilTheUserStops)
{
    const RetryCase& c = GetParam();
    WineVersion version("");
    RemoveGroups();
    std::string blocker = GroupFolders()[0];
    ASSERT_TRUE(WriteFileBytes(blocker, "not a folder"));
    std::string blocker2 = GroupFolders()[1];
    ASSERT_TRUE(WriteFileBytes(blocker2, "not a folder"));
    Scenario s(c.removeCauseAndRetry ? "retry-yes" : "retry-no");
    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    MessageBoxSeen box;
    ASSERT_TRUE(installer.WaitForMessageBox(60000, &box)) << "no retry question; page "
                                                          << PageName(installer.CurrentPage());
    EXPECT_EQ("Velk Installation Error [15]", box.caption);
    EXPECT_EQ(kShortcutRetryText, box.text);
    EXPECT_TRUE(box.hasYes && box.hasNo && !box.hasOk);
    // The question belongs to the hidden main window, not to the wizard.
    EXPECT_NE(installer.Wizard(), GetWindow(box.window, GW_OWNER));
    EXPECT_EQ(Installing, installer.CurrentPage());
    ExpectInstalledFiles(s.installDir);
    if (c.removeCauseAndRetry) {
        ASSERT_TRUE(RemoveTree(blocker));
        ASSERT_TRUE(RemoveTree(blocker2));
        ASSERT_TRUE(installer.Answer(box, IDYES));
    } else {
        ASSERT_TRUE(installer.Answer(box, IDNO));
    }
    ASSERT_TRUE(installer.WaitForPage(Finish, 60000)) << PageName(installer.CurrentPage());
    EXPECT_FALSE(installer.FindMessageBox(&box)) << box.caption;
    if (c.removeCauseAndRetry) {
        ExpectShortcuts(s.installDir, false);
    } else {
        EXPECT_TRUE(FoundGroup().empty());
    }
    FinishAndExit(installer);
    RemoveTree(blocker);
    RemoveTree(blocker2);
    RemoveGroups();
}

INSTANTIATE_TEST_SUITE_P(Answers, ShortcutRetryTest,
                         ::testing::Values(RetryCase{true}, RetryCase{false}),
                         [](const ::testing::TestParamInfo<RetryCase>& info) {
                             return std::string(info.param.removeCauseAndRetry ? "YesAfterTheCauseIsGone" : "No");
                         });

// The 3-D controls library: a library beside the installer copy records
// every call of its entries in ctl3d.log.
struct Ctl3dCase {
    const char* name;
    const char* library; // nullptr: none beside the installer
    const char* version;
    const char* expectedLog;
    const char* expectedLoads;
};

class Ctl3dTest : public InstallerTest, public ::testing::WithParamInterface<Ctl3dCase> {};

TEST_P(Ctl3dTest, EntriesAreCalledOnlyWhenTheLibraryIsCompleteOnAnOldShell)
{
    const Ctl3dCase& c = GetParam();
    WineVersion version(c.version);
    Scenario s(std::string("ctl3d-") + c.name);
    ASSERT_TRUE(s.CopyInstaller());
    std::string log = JoinPath(s.dir, "ctl3d.log");
    if (c.library) {
        ASSERT_TRUE(CopyFileA(UnixToWindowsPath(c.library).c_str(), JoinPath(s.dir, "Ctl3d32.dll").c_str(), FALSE));
    }
    // For the installer, the library beside it and never Wine's own; with
    // none beside it, no library is found at all.
    RegistrySetting loadOrder("Software\\Wine\\AppDefaults\\velk-setup.exe\\DllOverrides", "ctl3d32",
                              c.library ? "native" : "");
    Installer installer;
    ASSERT_TRUE(installer.Start(s.exe, s.dir));
    ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
    ASSERT_TRUE(installer.WaitForPage(Welcome, kStepTimeout));
    ASSERT_TRUE(installer.Click(IDC_CANCEL));
    ExpectExitZero(installer);
    std::string calls, loads;
    ReadFileBytes(log, &calls);
    ReadFileBytes(JoinPath(s.dir, "ctl3d-load.log"), &loads);
    EXPECT_EQ(c.expectedLog, calls);
    EXPECT_EQ(c.expectedLoads, loads);
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, Ctl3dTest,
    ::testing::Values(
        Ctl3dCase{"complete", CTL3D_COMPLETE_DLL, "", "Ctl3dRegister\r\nCtl3dAutoSubclass\r\nCtl3dUnregister\r\n",
                  "loaded\r\nunloaded\r\n"},
        // Freed at once, none of its entries called.
        Ctl3dCase{"incomplete", CTL3D_INCOMPLETE_DLL, "", "", "loaded\r\nunloaded\r\n"},
        Ctl3dCase{"absent", nullptr, "", "", ""},
        // A new-shell system never loads it.
        Ctl3dCase{"complete_newshell", CTL3D_COMPLETE_DLL, "win98", "", ""}),
    [](const ::testing::TestParamInfo<Ctl3dCase>& info) { return std::string(info.param.name); });

} // namespace
