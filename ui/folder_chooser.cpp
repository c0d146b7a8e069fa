#include "ui/folder_chooser.h"

#include <commdlg.h>
#include <cstring>

#include "install/install_state.h"
#include "resources/resource_ids.h"
#include "shell/shell_state.h"
#include "ui/wizard.h"

namespace {

// The first browse starts at the drive root of the proposed folder; later
// ones at the folder itself.
bool g_firstBrowse = true;

const char kFileNameFiller[] = "JUNK!";

// Appends `tail` when the result still fits the install directory buffer;
// a folder too long to take it is shown as it is.
void AppendIfRoom(char* path, const char* tail)
{
    if (strlen(path) + strlen(tail) < static_cast<size_t>(kPathSize))
        strcat(path, tail);
}

} // namespace

void RefreshFolderEdit(HWND dialog)
{
    GetDlgItemTextA(dialog, IDC_CURRENT_FOLDER, gInstall.installDir, kPathSize);
    CharLowerA(gInstall.installDir);
    if (strlen(gInstall.installDir) <= 1) {
        // No current folder yet: the installer's own folder.
        char module[kPathSize];
        DWORD length = GetModuleFileNameA(gInstance, module, kPathSize - 1);
        module[length < static_cast<DWORD>(kPathSize) ? length : kPathSize - 1] = '\0';
        gInstall.installDir[0] = '\0';
        if (SplitPathParts(module)) {
            lstrcpynA(gInstall.installDir, gInstall.drivePart, kPathSize);
            AppendIfRoom(gInstall.installDir, gInstall.dirPart);
        }
        AppendIfRoom(gInstall.installDir, "velk");
    } else if (!strstr(gInstall.installDir, "\\velk")) {
        size_t length = strlen(gInstall.installDir);
        AppendIfRoom(gInstall.installDir, gInstall.installDir[length - 1] == '\\' ? "velk" : "\\velk");
    }
    SetDlgItemTextA(dialog, IDC_CHOSEN_FOLDER, gInstall.installDir);
}

UINT_PTR CALLBACK FileHook(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    if (message == WM_SHOWWINDOW) {
        RefreshFolderEdit(dialog);
        HWND edit = GetDlgItem(dialog, IDC_CHOSEN_FOLDER);
        SetFocus(edit);
        SendMessageA(edit, EM_SETSEL, 0, -1);
        SendMessageA(edit, EM_SETSEL, static_cast<WPARAM>(-1), -1);
        SendMessageA(edit, EM_SCROLLCARET, 0, 0);
        CenterOnDesktop(dialog);
    } else if (message == WM_COMMAND) {
        WORD id = LOWORD(wParam), code = HIWORD(wParam);
        if (id == IDOK) {
            GetDlgItemTextA(dialog, IDC_CHOSEN_FOLDER, gInstall.installDir, kPathSize);
            // Some open-file dialogs (Wine's, without a file buffer) put a
            // filter into the file-name field; OK then only re-applies it and
            // the chooser never closes. The filler makes OK accepted.
            SetDlgItemTextA(dialog, IDC_FILE_NAME, kFileNameFiller);
        } else if (id == IDC_CURRENT_FOLDER && code == EN_CHANGE) {
            RefreshFolderEdit(dialog);
        } else if ((id == IDC_FOLDER_LIST || id == IDC_DRIVE_LIST) && (code == 1 || code == 2)) {
            RefreshFolderEdit(dialog);
        }
    }
    return 0;
}

bool ChooseFolder(HWND owner)
{
    OPENFILENAMEA dialog;
    memset(&dialog, 0, sizeof dialog);
    // The classic structure size, without the fields of later systems.
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400A;
    dialog.hwndOwner = owner;
    dialog.hInstance = gInstance;
    dialog.lpstrInitialDir = gInstall.installDir;
    dialog.lpstrTitle = "Velk Select Folder";
    dialog.Flags = OFN_ENABLEHOOK | OFN_ENABLETEMPLATE;
    dialog.lpfnHook = FileHook;
    dialog.lpTemplateName = MAKEINTRESOURCEA(IDD_CHOOSE_FOLDER);
    if (g_firstBrowse) {
        if (strlen(gInstall.installDir) > 3)
            gInstall.installDir[3] = '\0';
        g_firstBrowse = false;
    }
    // The hook writes every proposal into the install directory; a chooser
    // that is cancelled leaves it as it was before the call.
    char before[kPathSize];
    lstrcpynA(before, gInstall.installDir, kPathSize);
    if (GetOpenFileNameA(&dialog))
        return true;
    lstrcpynA(gInstall.installDir, before, kPathSize);
    return false;
}
