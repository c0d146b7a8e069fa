// Walks the installer's wizard through all five pages as a user would:
// the install folder given on the command line, the options as they are,
// Install, Finish. A picture of every page is saved as a 24-bit BMP file.
//
//   walk.exe INSTALLER.exe INSTALL_FOLDER OUTPUT_FOLDER
//
// Exit status 0 when all five pages were seen and saved and the installer
// ended with status 0.
#include <cstdio>
#include <string>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"

using namespace e2e;

namespace {

const DWORD kTimeout = 60000;

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

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: walk INSTALLER.exe INSTALL_FOLDER OUTPUT_FOLDER\n");
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
    if (!installer.WaitForPage(Options, kTimeout) || !installer.SetFolder(folder))
        return 1;
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
    if (!Reach(installer, Finish, outDir, 700) || !installer.Click(IDC_CANCEL))
        return 1;
    DWORD status = 1;
    if (!installer.WaitForExit(kTimeout, &status)) {
        fprintf(stderr, "walk: the installer did not end\n");
        return 1;
    }
    printf("walk: installed into %s; the installer ended with status %lu\n", folder.c_str(),
           static_cast<unsigned long>(status));
    return status == 0 ? 0 : 1;
}
