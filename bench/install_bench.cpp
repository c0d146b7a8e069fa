// The installer as a user meets it: the time from pressing Install to the
// finish page, for each installer given, next to its floor (the number of
// extraction slices times the 25 ms pause between them). Prints figures;
// never fails.
//
//   install_bench INSTALLER.exe...
#include <windows.h>

#include <cstdio>
#include <string>

#include "payload/marker_matcher.h"
#include "tests/e2e/driver.h"

namespace {

// Slices the extraction reads: up to the marker that closes the tenth
// segment, 15001 bytes a slice.
int CountSlices(const std::string& image)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    size_t at = image.find(marker);
    for (int k = 0; k < 10 && at != std::string::npos; k++)
        at = image.find(marker, at + 4);
    if (at == std::string::npos)
        return 0;
    return static_cast<int>((at + 4) / 15001 + 1);
}

double Now()
{
    LARGE_INTEGER f, t;
    QueryPerformanceFrequency(&f);
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(f.QuadPart);
}

void Measure(const std::string& exe)
{
    std::string image;
    if (!e2e::ReadFileBytes(exe, &image)) {
        printf("%s: cannot be read\n", exe.c_str());
        return;
    }
    int slices = CountSlices(image);
    std::string work = e2e::JoinPath(e2e::ThisProgramDir(), "install-bench");
    std::string target = e2e::JoinPath(work, "velk");
    const int runs = 3;
    double best = 1e9;
    for (int run = 0; run < runs; run++) {
        e2e::RemoveTree(work);
        CreateDirectoryA(work.c_str(), NULL);
        e2e::Installer installer;
        if (!installer.Start(exe, work) || !installer.WaitForWizard(20000) ||
            !installer.Click(1) || !installer.WaitForPage(e2e::Licence, 5000) ||
            !installer.Click(1) || !installer.WaitForPage(e2e::Options, 5000) ||
            !installer.SetFolder(target) || !installer.SetChecked(158, false)) {
            printf("%s: could not reach the options page\n", exe.c_str());
            return;
        }
        // The finish page's first text is shown by its page switch: watched
        // every millisecond by a query that asks the installer nothing, so
        // that neither the polling nor the driver's questions add to the
        // figure; the page is then recognised in full.
        HWND finishText = installer.Control(180);
        double start = Now();
        installer.Click(1);
        e2e::WaitUntil([&] { return IsWindowVisible(finishText) || !installer.Running(); }, 120000, 1);
        double seconds = Now() - start;
        if (!installer.WaitForPage(e2e::Finish, 120000)) {
            printf("%s: the finish page did not come\n", exe.c_str());
            return;
        }
        if (seconds < best)
            best = seconds;
        installer.Click(2);
        DWORD status = 0;
        installer.WaitForExit(20000, &status);
    }
    e2e::RemoveTree(work);
    double floor = slices * 0.025;
    printf("%-28s %9zu bytes %4d slices  Install to finish %7.0f ms  floor %6.0f ms  ratio %.2f\n",
           exe.substr(exe.find_last_of("\\/") + 1).c_str(), image.size(), slices, best * 1000,
           floor * 1000, floor > 0 ? best / floor : 0.0);
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; i++)
        Measure(argv[i]);
    return 0;
}
