// The installer process: its entry, the hidden main window that owns the
// wizard, and the message loop that ends the process.
#include <windows.h>
#include <ddeml.h>

#include <cstring>

#include "shell/post_install.h"
#include "shell/shell_state.h"
#include "ui/wizard.h"

const char kInstallerCaption[] = "Velk v5.81 32bit Installation";

HINSTANCE gInstance = NULL;
HWND gMainWindow = NULL;
int gNewShell = 0;
DWORD gDdeInstance = 0;

namespace {

const UINT kCloseDelay = 50;

typedef BOOL(WINAPI* Ctl3dEntry)(HINSTANCE);

// The optional 3-D controls library of old systems, in use only when it is
// complete.
HMODULE g_ctl3d = NULL;
Ctl3dEntry g_ctl3dRegister = NULL;
Ctl3dEntry g_ctl3dUnregister = NULL;
Ctl3dEntry g_ctl3dAutoSubclass = NULL;

Ctl3dEntry FindCtl3dEntry(const char* name)
{
    FARPROC found = GetProcAddress(g_ctl3d, name);
    Ctl3dEntry entry;
    memcpy(&entry, &found, sizeof entry);
    return entry;
}

void LoadCtl3d()
{
    SetErrorMode(SEM_NOOPENFILEERRORBOX);
    g_ctl3d = LoadLibraryA("Ctl3d32.dll");
    if (!g_ctl3d)
        return;
    g_ctl3dRegister = FindCtl3dEntry("Ctl3dRegister");
    g_ctl3dUnregister = FindCtl3dEntry("Ctl3dUnregister");
    g_ctl3dAutoSubclass = FindCtl3dEntry("Ctl3dAutoSubclass");
    if (!g_ctl3dRegister || !g_ctl3dUnregister || !g_ctl3dAutoSubclass) {
        FreeLibrary(g_ctl3d);
        g_ctl3d = NULL;
        return;
    }
    g_ctl3dRegister(gInstance);
    g_ctl3dAutoSubclass(gInstance);
}

void ReleaseCtl3d()
{
    if (!g_ctl3d)
        return;
    g_ctl3dUnregister(gInstance);
    FreeLibrary(g_ctl3d);
    g_ctl3d = NULL;
}

} // namespace

int IsNewShellVersion(DWORD version)
{
    unsigned major = version & 0xFF;
    unsigned minor = (version >> 8) & 0xFF;
    return major == 4 || minor >= 95;
}

// The installer acts only as a DDE client: every transaction gets nothing.
HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return NULL;
}

LRESULT CALLBACK MainWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_TIMER:
        KillTimer(window, kCloseTimer);
        PostMessageA(window, WM_CLOSE, 0, 0);
        return 0;
    case kStartMessage:
        // The wizard's result is not used: what happened in it is read
        // later from the flags it set.
        if (DialogBoxParamA(gInstance, "INSTALL_DLG", window, WizardDlgProc, 0) == -1)
            MessageBoxA(NULL, "Unable to display dialog", "System Error", MB_SYSTEMMODAL | MB_ICONHAND);
        SetTimer(window, kCloseTimer, kCloseDelay, NULL);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR, int show)
{
    if (previous) {
        HWND running = FindWindowA(kInstallerCaption, NULL);
        if (running)
            BringWindowToTop(running);
        return 0;
    }
    gInstance = instance;

    WNDCLASSA wc;
    wc.style = CS_BYTEALIGNWINDOW;
    wc.lpfnWndProc = MainWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_APPWORKSPACE + 1);
    wc.lpszMenuName = NULL;
    wc.lpszClassName = kInstallerCaption;
    if (!RegisterClassA(&wc))
        return 0;

    gMainWindow = CreateWindowExA(0, kInstallerCaption, kInstallerCaption,
                                  WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0, 0, 0, NULL, NULL,
                                  instance, NULL);
    if (!gMainWindow)
        return 0;
    ShowWindow(gMainWindow, show);
    UpdateWindow(gMainWindow);

    gNewShell = IsNewShellVersion(GetVersion());
    if (!gNewShell)
        LoadCtl3d();

    DdeInitializeA(&gDdeInstance, DdeCallback, APPCLASS_STANDARD, 0);
    gFinishFlag = 0;
    PostMessageA(gMainWindow, kStartMessage, 0, 0);

    MSG msg;
    BOOL got;
    while ((got = GetMessageA(&msg, NULL, 0, 0)) != 0) {
        if (got == -1)
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }

    if (gDdeInstance)
        DdeUninitialize(gDdeInstance);
    ReleaseCtl3d();
    RunPostInstallActions();
    return 0;
}
