// The folder chooser behind Browse, driven as a user drives it: the folder
// list, the drive list, the proposed folder field, OK and Cancel.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"
#include "tests/e2e/scenario.h"

using namespace e2e;

namespace {

const int kProposed = 102;      // "&Install Velk into this folder:"
const int kCurrentFolder = 1088; // hidden, kept by the common dialog

void Browse(Installer& installer)
{
    ASSERT_TRUE(installer.Click(IDC_BROWSE));
    ASSERT_TRUE(installer.WaitForChooser(kStepTimeout)) << "no folder chooser";
}

void CloseChooser(Installer& installer, int button)
{
    ASSERT_TRUE(installer.ClickChooser(button));
    ASSERT_TRUE(installer.WaitForChooserGone(kStepTimeout)) << "the chooser stays open";
    MessageBoxSeen box;
    EXPECT_FALSE(installer.FindMessageBox(&box)) << "[" << box.caption << "] " << box.text;
}

// Opens the folders of `path` one after the other from the drive root the
// chooser shows; at each one the proposal is that folder plus "\velk",
// lower-cased, or the folder itself once its path holds "\velk".
void OpenFoldersDownTo(Installer& installer, const std::string& path)
{
    std::string current = Lower(path.substr(0, 3));
    for (const std::string& name : FoldersBelowRoot(path)) {
        ASSERT_TRUE(installer.OpenListFolder(name)) << "cannot open " << name << " in " << current;
        current = JoinPath(current, name);
        SCOPED_TRACE(current);
        EXPECT_EQ(Lower(current), Lower(installer.ChooserText(kCurrentFolder)));
        std::string expected = Lower(current);
        if (expected.find("\\velk") == std::string::npos)
            expected += "\\velk";
        EXPECT_EQ(expected, installer.ChooserText(kProposed));
    }
}

// Browsing proposes the product folder wherever the user goes: a drive root
// plus "velk", a folder plus "\velk", a folder whose path holds "\velk" as
// it is; always lower-cased. The first browse starts at the drive root, a
// later one at the folder itself; Cancel changes nothing, OK takes the
// proposal, and the installation goes there.
TEST_F(InstallerTest, ChooserProposesTheProductFolderWhereverTheUserBrowses)
{
    Scenario s("chooser-browse");
    std::string games = JoinPath(s.dir, "Games");
    ASSERT_TRUE(CreateDirectoryA(games.c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(JoinPath(games, "Velk").c_str(), NULL));
    ASSERT_TRUE(CreateDirectoryA(JoinPath(games, "Velk\\Old").c_str(), NULL));
    ASSERT_EQ(std::string::npos, Lower(s.dir).find("\\velk")) << "the scenarios need a folder without \\velk";
    const std::string root = Lower(s.dir.substr(0, 3)); // such as z:\ .

    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_TRUE(installer.SetFolder(games)); // mixed case, as typed
    ASSERT_NO_FATAL_FAILURE(Browse(installer));
    EXPECT_EQ(root, Lower(installer.ChooserText(kCurrentFolder))) << "the first browse starts at the drive root";
    EXPECT_EQ(root + "velk", installer.ChooserText(kProposed));
    {
        SCOPED_TRACE("down to the Games folder");
        ASSERT_NO_FATAL_FAILURE(OpenFoldersDownTo(installer, games));
    }
    ASSERT_TRUE(installer.OpenListFolder("Velk"));
    EXPECT_EQ(Lower(JoinPath(games, "Velk")), installer.ChooserText(kProposed));
    ASSERT_TRUE(installer.OpenListFolder("Old"));
    EXPECT_EQ(Lower(JoinPath(games, "Velk\\Old")), installer.ChooserText(kProposed))
        << "a path holding \\velk stays as it is";
    ASSERT_TRUE(installer.OpenListFolder(".."));
    EXPECT_EQ(Lower(JoinPath(games, "Velk")), installer.ChooserText(kProposed));
    ASSERT_TRUE(installer.PickDrive('c'));
    EXPECT_EQ("c:\\", Lower(installer.ChooserText(kCurrentFolder)));
    EXPECT_EQ("c:\\velk", installer.ChooserText(kProposed));
    ASSERT_NO_FATAL_FAILURE(CloseChooser(installer, IDCANCEL));
    EXPECT_EQ(games, installer.Text(IDC_FOLDER)) << "Cancel leaves the folder field as it was";

    ASSERT_NO_FATAL_FAILURE(Browse(installer));
    EXPECT_EQ(Lower(games), Lower(installer.ChooserText(kCurrentFolder)))
        << "a later browse starts at the folder itself";
    EXPECT_EQ(Lower(games) + "\\velk", installer.ChooserText(kProposed));
    ASSERT_NO_FATAL_FAILURE(CloseChooser(installer, IDOK));
    EXPECT_EQ(Lower(games) + "\\velk", installer.Text(IDC_FOLDER));

    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << Describe(installer.Answered());
    ExpectInstalledFiles(JoinPath(games, "Velk"));
    EXPECT_TRUE(IsDirectory(JoinPath(games, "Velk\\Old"))) << "the folder's own content stays";
    FinishAndExit(installer);
}

// A folder typed into the chooser's field is taken as it stands: nothing is
// appended; the wizard shows it lower-cased and installs there.
TEST_F(InstallerTest, ChooserTakesAnEditedFolderUnchanged)
{
    Scenario s("chooser-edited");
    std::string typed = JoinPath(s.dir, "My Chat");
    Installer installer;
    ASSERT_NO_FATAL_FAILURE(StartToOptions(installer, s));
    ASSERT_NO_FATAL_FAILURE(Browse(installer));
    ASSERT_TRUE(installer.SetChooserText(kProposed, typed));
    ASSERT_NO_FATAL_FAILURE(CloseChooser(installer, IDOK));
    EXPECT_EQ(Lower(typed), installer.Text(IDC_FOLDER));

    ASSERT_TRUE(installer.SetChecked(IDC_SHORTCUTS, false));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Finish, kStepTimeout)) << Describe(installer.Answered());
    ExpectInstalledFiles(typed);
    FinishAndExit(installer);
}

} // namespace
