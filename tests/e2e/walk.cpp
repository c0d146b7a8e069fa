// Walks the installer's wizard through all five pages as a user would:
// Browse, where the folder chooser opens the folders of the path given on
// the command line one by one from the drive root and takes the proposed
// install folder (that path plus "\velk"), the options as they are,
// Install, both finish-page boxes checked, Finish. A picture of every page
// and of the chooser is saved as a 24-bit BMP file. The client and the help
// viewer that the installer starts at the end are closed again.
//
//   walk.exe INSTALLER.exe BROWSE_FOLDER OUTPUT_FOLDER
//
// Exit status 0 when all five pages and the chooser were seen and saved,
// the installer ended with status 0 and the client was started.
#include <cstdio>
#include <string>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"

using namespace e2e;

namespace {

const DWORD kTimeout = 60000;

bool Save(HWND window, const std::string& name, const std::string& outDir)
{
    std::string path = JoinPath(outDir, name + ".bmp");
    if (!SaveWindowBitmap(window, path)) {
        fprintf(stderr, "walk: cannot save %s\n", path.c_str());
        return false;
    }
    printf("walk: %s saved as %s\n", name.c_str(), path.c_str());
    return true;
}

bool Save(Installer& installer, int page, const std::string& outDir)
{
    std::string path = JoinPath(outDir, "page-" + std::to_string(page) + "-" + PageName(page) + ".bmp");
    if (!installer.SaveWizardBitmap(path)) {
        fprintf(stderr, "walk: cannot save %s\n", path.c_str());
        return false;
    }
    printf("walk: %s page saved as %s\n", PageName(page), path.c_str());
    return true;
}

// Waits for a page, gives it time to paint, and saves it.
bool Reach(Installer& installer, int page, const std::string& outDir, DWORD settleMs)
{
    if (!installer.WaitForPage(page, kTimeout)) {
        MessageBoxSeen box;
        if (installer.FindMessageBox(&box))
            fprintf(stderr, "walk: message [%s] %s\n", box.caption.c_str(), box.text.c_str());
        fprintf(stderr, "walk: the %s page did not come (now %s)\n", PageName(page),
                PageName(installer.CurrentPage()));
        return false;
    }
    Sleep(settleMs);
    return Save(installer, page, outDir);
}

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// Browse: the chooser starts at the drive root; the folders of `folder` are
// opened one after the other in its folder list, the chooser is saved and
// its proposal taken with OK.
bool ChooseFolder(Installer& installer, const std::string& folder, const std::string& outDir)
{
    if (!installer.Click(IDC_BROWSE) || !installer.WaitForChooser(kTimeout)) {
        fprintf(stderr, "walk: no folder chooser\n");
        return false;
    }
    if (Lower(installer.ChooserText(1088)) != Lower(folder.substr(0, 3)) && !installer.PickDrive(folder[0])) {
        fprintf(stderr, "walk: cannot pick drive %c\n", folder[0]);
        return false;
    }
    for (const std::string& name : FoldersBelowRoot(folder)) {
        if (!installer.OpenListFolder(name)) {
            fprintf(stderr, "walk: no folder %s in %s\n", name.c_str(), installer.ChooserText(1088).c_str());
            return false;
        }
    }
    std::string proposed = installer.ChooserText(102);
    printf("walk: the chooser proposes %s\n", proposed.c_str());
    Sleep(400);
    if (!Save(installer.Chooser(), "page-2-options-chooser", outDir) || !installer.ClickChooser(IDOK) ||
        !installer.WaitForChooserGone(kTimeout)) {
        fprintf(stderr, "walk: the chooser did not take the folder\n");
        return false;
    }
    if (installer.Text(IDC_FOLDER) != proposed) {
        fprintf(stderr, "walk: the folder field shows %s, not %s\n", installer.Text(IDC_FOLDER).c_str(),
                proposed.c_str());
        return false;
    }
    return true;
}

BOOL CALLBACK CloseGroupWindow(HWND window, LPARAM)
{
    char cls[64] = "", caption[64] = "";
    GetClassNameA(window, cls, sizeof cls);
    GetWindowTextA(window, caption, sizeof caption);
    if (IsWindowVisible(window) && lstrcmpA(cls, "ExplorerWClass") == 0 && lstrcmpA(caption, "Velk") == 0) {
        PostMessageA(window, WM_CLOSE, 0, 0);
        printf("walk: the shell's group window \"Velk\" closed\n");
    }
    return TRUE;
}

void CloseGroupWindows()
{
    EnumWindows(CloseGroupWindow, 0);
    Sleep(300);
}

// The help viewer opened on the installed help file. The sample help file
// is no real help file, and the viewer says so in a box; the installer's
// help call returns once that box is closed.
void CloseHelpViewer(Installer& installer)
{
    bool closed = WaitUntil([&] {
        for (const ProcessSeen& p : ChildrenOf(installer.ProcessId()))
            if (p.exe == "winhlp32.exe")
                for (const auto& w : TopWindows(p.pid)) {
                    HWND ok = GetDlgItem(w.first, IDOK);
                    if (ok) {
                        printf("walk: the help viewer shows \"%s\"; closed\n", w.second.c_str());
                        PostMessageA(w.first, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
                        return true;
                    }
                }
        return !installer.Running();
    }, kTimeout);
    if (!closed)
        fprintf(stderr, "walk: no help viewer seen\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: walk INSTALLER.exe BROWSE_FOLDER OUTPUT_FOLDER\n");
        return 2;
    }
    std::string exe = UnixToWindowsPath(argv[1]);
    std::string folder = UnixToWindowsPath(argv[2]);
    std::string outDir = UnixToWindowsPath(argv[3]);
    CreateDirectoryA(outDir.c_str(), NULL);
    std::string workDir = exe.substr(0, exe.find_last_of('\\'));

    Installer installer;
    if (!installer.Start(exe, workDir)) {
        fprintf(stderr, "walk: cannot start %s\n", exe.c_str());
        return 1;
    }
    if (!installer.WaitForWizard(kTimeout)) {
        fprintf(stderr, "walk: no wizard window\n");
        return 1;
    }
    if (!Reach(installer, Welcome, outDir, 700) || !installer.Click(IDC_FORWARD))
        return 1;
    if (!Reach(installer, Licence, outDir, 400) || !installer.Click(IDC_FORWARD))
        return 1;
    if (!installer.WaitForPage(Options, kTimeout) || !ChooseFolder(installer, folder, outDir))
        return 1;
    std::string installDir = installer.Text(IDC_FOLDER);
    if (!Reach(installer, Options, outDir, 400) || !installer.Click(IDC_FORWARD))
        return 1;
    // The installing page lasts as long as the extraction: taken as soon as
    // the first step has shown its progress.
    if (!installer.WaitForPage(Installing, kTimeout))
        return 1;
    WaitUntil([&] { return installer.Text(IDC_STATUS) != "Scanning files..." || installer.CurrentPage() != Installing; },
              300);
    if (!Save(installer, Installing, outDir))
        return 1;
    if (!installer.WaitForPage(Finish, kTimeout) || !installer.SetChecked(IDC_READ_HELP, true) ||
        !installer.SetChecked(IDC_LAUNCH, true))
        return 1;
    // The shell shows the new Program Manager group in a folder window
    // "Velk" of its own; closed, as a user would, so that it does not
    // cover the finish page.
    CloseGroupWindows();
    if (!Reach(installer, Finish, outDir, 700) || !installer.Click(IDC_CANCEL))
        return 1;
    CloseHelpViewer(installer);
    DWORD status = 1;
    if (!installer.WaitForExit(kTimeout, &status)) {
        fprintf(stderr, "walk: the installer did not end\n");
        return 1;
    }
    printf("walk: installed into %s; the installer ended with status %lu\n", installDir.c_str(),
           static_cast<unsigned long>(status));
    // The client started by the installer: its window, then closed.
    bool clientSeen = false;
    for (const ProcessSeen& p : ChildrenOf(installer.ProcessId())) {
        if (p.exe != "velk32.exe")
            continue;
        WaitUntil([&] {
            for (const auto& w : TopWindows(p.pid))
                if (w.second == "Velk") {
                    clientSeen = true;
                    printf("walk: the client runs (window \"Velk\"); closed\n");
                    PostMessageA(w.first, WM_CLOSE, 0, 0);
                    return true;
                }
            return false;
        }, kTimeout);
    }
    if (!clientSeen)
        fprintf(stderr, "walk: the client was not started\n");
    return status == 0 && clientSeen ? 0 : 1;
}
