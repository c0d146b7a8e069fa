#include "ui/wizard.h"

#include <cstring>
#include <direct.h>

#include "install/extraction.h"
#include "install/install_state.h"
#include "install/payload_check.h"
#include "resources/resource_ids.h"
#include "shell/post_install.h"
#include "shell/progman.h"
#include "shell/shell_state.h"
#include "ui/folder_chooser.h"
#include "ui/progress_display.h"

int gWizardPage = LayoutPending;

namespace {

const char kWelcomeText[] =
    "Welcome to the Velk installation program! This program will install Velk v5.81 32bit on your computer.";
const char kCorruptText[] =
    "The installation file seems to be corrupt!\n\n"
    "Please try running the installation program again or download a new version!";
const char kShortcutRetryText[] =
    "There seems to be a problem adding Velk icons to the Program Manager!\n\n"
    "Do you want me to try again?";
const char kAbortQuestion[] = "Are you sure you want to abort the installation?";

// The licence resource is shown up to its first 2900 bytes, and only up to
// its end marker "***".
const int kLicenceBufferSize = 3000;
const int kLicenceShown = 2900;

const int kGroups[] = {IDC_WELCOME_GROUP, IDC_LICENCE_GROUP, IDC_OPTIONS_GROUP, IDC_PROGRESS_GROUP,
                       IDC_FINISH_GROUP};

// A control's window rectangle in the wizard's client coordinates.
RECT ClientRectOf(HWND wizard, int id)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(wizard, id), &r);
    MapWindowPoints(HWND_DESKTOP, wizard, reinterpret_cast<POINT*>(&r), 2);
    return r;
}

void SetButton(HWND wizard, int id, const char* caption, int show, int enable)
{
    HWND button = GetDlgItem(wizard, id);
    if (caption)
        SetWindowTextA(button, caption);
    ShowWindow(button, show ? SW_SHOW : SW_HIDE);
    EnableWindow(button, enable);
}

void Focus(HWND wizard, int id)
{
    SetFocus(GetDlgItem(wizard, id));
}

// Shows one page group and hides the others; the buttons outside the
// groups are set per page by the caller.
void ShowOnlyGroup(HWND wizard, int shown)
{
    for (int group : kGroups)
        if (group != shown)
            ShowControlGroup(wizard, group, 0);
    ShowControlGroup(wizard, shown, 1);
}

void StartInstallation(HWND wizard)
{
    GetDlgItemTextA(wizard, IDC_FOLDER, gInstall.installDir, kPathSize);
    gInstall.backupFlag = IsDlgButtonChecked(wizard, IDC_BACKUP) == BST_CHECKED;
    gInstall.keepSettingsFlag = IsDlgButtonChecked(wizard, IDC_KEEP_SETTINGS) == BST_CHECKED;
    gInstall.shortcutsFlag = IsDlgButtonChecked(wizard, IDC_SHORTCUTS) == BST_CHECKED;

    ShowPage(wizard, InstallingPage);
    ResetInstallState();
    UpdateStatusText();
    DrawOverallProgress(NULL, NULL);
    if (CreateInstallDirectory() == 2) {
        ShowPage(wizard, OptionsPage);
        return;
    }
    Focus(wizard, IDC_CANCEL);
    if (!CheckPayload()) {
        // Nothing has been extracted; a folder this run created goes again.
        CleanUpInstallation();
        EndDialog(wizard, 1);
        return;
    }
    PostMessageA(wizard, kExtractMessage, 0, 0);
}

void OnForward(HWND wizard)
{
    switch (gWizardPage) {
    case WelcomePage:
        ShowPage(wizard, LicencePage);
        break;
    case LicencePage:
        ShowPage(wizard, OptionsPage);
        break;
    case FinishPage:
        gFinishFlag = 1;
        EndDialog(wizard, 1);
        break;
    case OptionsPage:
        StartInstallation(wizard);
        break;
    default:
        // The installing page's Install button is disabled; a forward
        // command that still arrives (the Enter key) must not start a
        // second run over the one in progress.
        break;
    }
}

void OnCancel(HWND wizard)
{
    if (gWizardPage == FinishPage) {
        gFinishFlag = 1;
        gHelpFlag = IsDlgButtonChecked(wizard, IDC_READ_HELP) == BST_CHECKED;
        gLaunchFlag = IsDlgButtonChecked(wizard, IDC_LAUNCH) == BST_CHECKED;
        EndDialog(wizard, 1);
        return;
    }
    gInstall.abortFlag = 1;
    if (!gInstall.installerStream) {
        EndDialog(wizard, 0);
        return;
    }
    // While the question is open, step messages find the abort flag set
    // and run no step.
    int answer = MessageBoxA(wizard, kAbortQuestion, "Velk Installation Warning", MB_ICONQUESTION | MB_YESNO);
    if (answer == IDNO) {
        gInstall.abortFlag = 0;
        PostMessageA(wizard, kExtractMessage, 0, 0);
        return;
    }
    CleanUpInstallation();
    ResetInstallState();
    ShowPage(wizard, OptionsPage);
}

void OnBrowse(HWND wizard)
{
    GetDlgItemTextA(wizard, IDC_FOLDER, gInstall.installDir, kPathSize);
    CharLowerA(gInstall.installDir);
    if (ChooseFolder(wizard)) {
        CharLowerA(gInstall.installDir);
        SetDlgItemTextA(wizard, IDC_FOLDER, gInstall.installDir);
    }
}

// One extraction step; TRUE when the step ended the run.
BOOL OnExtract(HWND wizard)
{
    if (gInstall.abortFlag)
        return FALSE;
    switch (ExtractStep()) {
    case NoStep:
        // No installation is extracting (a step timer that outlived an
        // aborted run), or a step is already under way.
        return FALSE;
    case MoreWork:
        SetTimer(wizard, kStepTimer, kStepPause, NULL);
        return FALSE;
    case Finished:
        if (gInstall.fileIndex == 0) {
            CleanUpInstallation();
            ShowInstallError(14, kCorruptText);
            EndDialog(wizard, 0);
        } else if (gWizardPage == InstallingPage) {
            if (gInstall.shortcutsFlag)
                while (!CreateProgmanShortcuts() &&
                       MessageBoxA(gMainWindow, kShortcutRetryText, "Velk Installation Error [15]",
                                   MB_ICONQUESTION | MB_YESNO) == IDYES) {
                }
            ShowPage(wizard, FinishPage);
        } else {
            EndDialog(wizard, 1);
        }
        return TRUE;
    case Failed:
        CleanUpInstallation();
        ShowPage(wizard, OptionsPage);
        return TRUE;
    default: // Abort
        CleanUpInstallation();
        EndDialog(wizard, 0);
        return TRUE;
    }
}

void OnPaint(HWND wizard)
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(wizard, &paint);
    RECT place = ClientRectOf(wizard, IDC_ICON_PLACE);
    HICON icon = LoadIconA(gInstance, MAKEINTRESOURCEA(IDI_WIZARD));
    DrawIcon(dc, place.left, place.top, icon);
    DestroyIcon(icon);
    if (IsWindowVisible(GetDlgItem(wizard, IDC_STATUS)))
        DrawOverallProgress(dc, NULL);
    EndPaint(wizard, &paint);
}

} // namespace

void PlaceGroup(HWND wizard, int firstId)
{
    RECT r = ClientRectOf(wizard, firstId);
    int dx = r.left - 20, dy = r.top - 20;
    if (firstId == IDC_WELCOME_GROUP) {
        dy = r.top - 24;
    } else if (firstId == IDC_FINISH_GROUP) {
        dy = r.top - 30;
    } else if (firstId == IDC_PROGRESS_GROUP) {
        // Centred across the client area, in the place of the options'
        // check boxes.
        RECT client;
        GetClientRect(wizard, &client);
        dx = r.left - (client.right / 2 - (r.right - r.left) / 2);
        dy = r.top - ClientRectOf(wizard, IDC_BACKUP).top;
    }
    for (int id = firstId; GetDlgItem(wizard, id); id++) {
        RECT c = ClientRectOf(wizard, id);
        SetWindowPos(GetDlgItem(wizard, id), NULL, c.left - dx, c.top - dy, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_HIDEWINDOW);
    }
}

void ShowControlGroup(HWND wizard, int firstId, int show)
{
    for (int id = firstId; GetDlgItem(wizard, id); id++) {
        if (id == IDC_FILE_BAR || id == IDC_OVERALL_BAR)
            continue; // they only lend their rectangles to the bars
        HWND control = GetDlgItem(wizard, id);
        if (show) {
            EnableWindow(control, TRUE);
            ShowWindow(control, SW_SHOWNORMAL);
        } else {
            ShowWindow(control, SW_HIDE);
            EnableWindow(control, FALSE);
        }
    }
}

void InvalidateControl(HWND wizard, int id)
{
    RECT r;
    GetWindowRect(GetDlgItem(wizard, id), &r);
    POINT topLeft = {r.left, r.top};
    ScreenToClient(wizard, &topLeft);
    RECT area = {topLeft.x, topLeft.y, topLeft.x + (r.right - r.left), topLeft.y + (r.bottom - r.top)};
    InvalidateRect(wizard, &area, TRUE);
}

void CenterOnDesktop(HWND window)
{
    RECT d, w;
    GetWindowRect(GetDesktopWindow(), &d);
    GetWindowRect(window, &w);
    int width = w.right - w.left, height = w.bottom - w.top;
    int y = d.top + (d.bottom - d.top) / 2 - height / 2;
    int x = d.left + (d.right - d.left) / 2 - width / 2;
    GetWindowRect(GetDesktopWindow(), &d);
    if (d.bottom - 10 < y + height)
        y = d.bottom - 10 - height;
    if (d.right - 10 < x + width)
        x = d.right - 10 - width;
    if (y < 0)
        y = 1;
    if (x < 0)
        x = 1;
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}

void SetWizardTexts(HWND wizard)
{
    SetWindowTextA(wizard, kInstallerCaption);
    SetDlgItemTextA(wizard, IDC_WELCOME_TEXT, kWelcomeText);

    static char licence[kLicenceBufferSize];
    memset(licence, 0, sizeof licence);
    HRSRC found = FindResourceA(gInstance, MAKEINTRESOURCEA(IDR_LICENCE), MAKEINTRESOURCEA(10));
    HGLOBAL loaded = found ? LoadResource(gInstance, found) : NULL;
    const char* text = loaded ? static_cast<const char*>(LockResource(loaded)) : NULL;
    if (!text)
        return;
    DWORD size = SizeofResource(gInstance, found);
    memcpy(licence, text, size < static_cast<DWORD>(kLicenceShown) ? size : kLicenceShown);
    licence[kLicenceShown] = '\0';
    char* end = strstr(licence, "***");
    if (end)
        *end = '\0';
    SetDlgItemTextA(wizard, IDC_LICENCE_TEXT, licence);
}

void SetDefaultInstallDir(HWND wizard)
{
    char folder[kLongTextSize];
    GetModuleFileNameA(gInstance, folder, kLongTextSize - 1);
    CharLowerA(folder);
    folder[3] = '\0'; // the drive root, such as c:\ .
    char windows[MAX_PATH];
    if (GetDriveTypeA(folder) != DRIVE_FIXED && GetWindowsDirectoryA(windows, MAX_PATH)) {
        wsprintfA(folder, "%c%c\\", windows[0], windows[1]);
        CharLowerA(folder);
        _chdrive(folder[0] - 'a' + 1);
    }
    lstrcatA(folder, "Velk");
    SetDlgItemTextA(wizard, IDC_FOLDER, folder);
}

void ShowPage(HWND wizard, int page)
{
    if (page == LayoutPending) {
        for (int group : kGroups)
            PlaceGroup(wizard, group);
        for (int group : kGroups)
            ShowControlGroup(wizard, group, 0);
        page = WelcomePage;
    }
    if (page > FinishPage || page < WelcomePage) {
        UpdateWindow(wizard);
        return;
    }
    gWizardPage = page;
    gInstall.overallFill = 0;
    SetDlgItemTextA(wizard, IDC_STATUS, "Scanning files...");
    InvalidateControl(wizard, IDC_OVERALL_BAR);
    InvalidateControl(wizard, IDC_FILE_BAR);

    // The first three pages differ only in their group, the two buttons'
    // captions and the focus.
    struct SimplePage {
        int group;
        const char* forward;
        const char* cancel;
        int focus;
    };
    static const SimplePage kSimplePages[] = {
        {IDC_WELCOME_GROUP, "&Next >", "Cancel", IDC_FORWARD},
        {IDC_LICENCE_GROUP, "&Yes", "&No", IDC_LICENCE_TEXT},
        {IDC_OPTIONS_GROUP, "&Install", "Cancel", IDC_FORWARD},
    };

    switch (page) {
    case WelcomePage:
    case LicencePage:
    case OptionsPage: {
        const SimplePage& p = kSimplePages[page];
        ShowOnlyGroup(wizard, p.group);
        SetButton(wizard, IDC_BACK, NULL, 0, 0);
        SetButton(wizard, IDC_FORWARD, p.forward, 1, 1);
        SetButton(wizard, IDC_CANCEL, p.cancel, 1, 1);
        Focus(wizard, p.focus);
        break;
    }
    case InstallingPage:
        // The folder stays in view; the options give way to the progress.
        ShowControlGroup(wizard, IDC_WELCOME_GROUP, 0);
        ShowControlGroup(wizard, IDC_LICENCE_GROUP, 0);
        ShowWindow(GetDlgItem(wizard, IDC_BROWSE), SW_SHOW);
        EnableWindow(GetDlgItem(wizard, IDC_BROWSE), FALSE);
        for (int id = IDC_OPTIONS_HINT; id <= IDC_OPTIONS_READY; id++) {
            ShowWindow(GetDlgItem(wizard, id), SW_HIDE);
            EnableWindow(GetDlgItem(wizard, id), FALSE);
        }
        ShowControlGroup(wizard, IDC_FINISH_GROUP, 0);
        ShowControlGroup(wizard, IDC_PROGRESS_GROUP, 1);
        SetButton(wizard, IDC_BACK, NULL, 0, 0);
        SetButton(wizard, IDC_FORWARD, "&Install", 1, 0);
        SetButton(wizard, IDC_CANCEL, "Abort", 1, 1);
        Focus(wizard, IDC_CANCEL);
        break;
    case FinishPage:
        MessageBeep(0);
        ShowOnlyGroup(wizard, IDC_FINISH_GROUP);
        SetButton(wizard, IDC_BACK, NULL, 0, 0);
        SetButton(wizard, IDC_FORWARD, NULL, 0, 0);
        SetButton(wizard, IDC_CANCEL, "&Finish", 1, 1);
        Focus(wizard, IDC_CANCEL);
        break;
    }
    UpdateWindow(wizard);
}

INT_PTR CALLBACK WizardDlgProc(HWND wizard, UINT message, WPARAM wParam, LPARAM)
{
    switch (message & 0xFFFF) {
    case WM_INITDIALOG:
        gInstall.wizard = wizard;
        CheckDlgButton(wizard, IDC_BACKUP, BST_CHECKED);
        CheckDlgButton(wizard, IDC_KEEP_SETTINGS, BST_CHECKED);
        CheckDlgButton(wizard, IDC_SHORTCUTS, BST_CHECKED);
        CheckDlgButton(wizard, IDC_READ_HELP, BST_UNCHECKED);
        CheckDlgButton(wizard, IDC_LAUNCH, BST_UNCHECKED);
        ConnectDecoderToFileBar();
        SetWizardTexts(wizard);
        SetDefaultInstallDir(wizard);
        ShowPage(wizard, LayoutPending);
        return FALSE;
    case WM_SHOWWINDOW:
        CenterOnDesktop(wizard);
        Focus(wizard, IDC_FORWARD);
        return FALSE;
    case WM_PAINT:
        OnPaint(wizard);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_FORWARD:
            OnForward(wizard);
            return TRUE;
        case IDC_CANCEL:
            OnCancel(wizard);
            return TRUE;
        case IDC_BACK:
            if (gWizardPage > WelcomePage)
                ShowPage(wizard, gWizardPage - 1);
            return FALSE;
        case IDC_BROWSE:
            OnBrowse(wizard);
            return FALSE;
        }
        return FALSE;
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == SC_CLOSE) {
            PostMessageA(wizard, WM_COMMAND, IDC_CANCEL, 0);
            return TRUE;
        }
        return FALSE;
    case WM_TIMER:
        if (wParam == kStepTimer) {
            KillTimer(wizard, kStepTimer);
            PostMessageA(wizard, kExtractMessage, 0, 0);
        }
        return FALSE;
    case kExtractMessage:
        return OnExtract(wizard);
    }
    if (!gInstall.wizard)
        gInstall.wizard = wizard;
    return FALSE;
}
