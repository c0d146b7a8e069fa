#include "shell/post_install.h"

#include <windows.h>
#include <shellapi.h>

#include "install/install_state.h"
#include "shell/shell_state.h"

int gFinishFlag = 0;
int gHelpFlag = 0;
int gLaunchFlag = 0;

namespace {

const char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Velk";
// Files the client does not show as text by default.
const char kIgnoredPatterns[] =
    "*.exe,*.com,*.bat,*.dll,*.ini,*.vlk,*.vbs,*.js,*.pif,*.scr,*.lnk,*.pl,*.shs";

char g_path[kLongTextSize];
char g_workingDir[kLongTextSize];

} // namespace

int WriteUninstallValue(const char* name, const char* text)
{
    HKEY key;
    DWORD disposition;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kUninstallKey, 0, const_cast<char*>(""),
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, NULL, &key, &disposition) != ERROR_SUCCESS)
        return 0;
    LONG set = RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              lstrlenA(text) + 1);
    RegCloseKey(key);
    return set == ERROR_SUCCESS;
}

void RunPostInstallActions()
{
    if (gFinishFlag && gNewShell) {
        WriteUninstallValue("DisplayName", "Velk");
        wsprintfA(g_path, "\"%s\\velk32.exe\" -uninstall", gInstall.installDir);
        WriteUninstallValue("UninstallString", g_path);
    }

    // The settings default goes only into a settings file that exists.
    wsprintfA(g_path, "%s\\velk.ini", gInstall.installDir);
    if (GetFileAttributesA(g_path) != INVALID_FILE_ATTRIBUTES)
        WritePrivateProfileStringA("text", "ignore", kIgnoredPatterns, g_path);

    if (gLaunchFlag) {
        lstrcpyA(g_workingDir, gInstall.installDir);
        wsprintfA(g_path, "%s\\velk32.exe", gInstall.installDir);
        SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
        ShellExecuteA(NULL, "open", g_path, "", g_workingDir, SW_SHOW);
        SetErrorMode(0);
    }

    if (gHelpFlag) {
        wsprintfA(g_path, "%s\\velk.hlp", gInstall.installDir);
        WinHelpA(NULL, g_path, HELP_CONTEXT, 10);
    }
}
