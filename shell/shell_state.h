// Process-wide handles and flags of the installer process, set up by the
// entry and read by the wizard, the shortcuts and the post-install actions.
#ifndef VELK_SHELL_SHELL_STATE_H
#define VELK_SHELL_SHELL_STATE_H

#include <windows.h>

// The installer caption: the main window's class name and title, and the
// wizard's caption.
extern const char kInstallerCaption[];

const UINT kStartMessage = WM_USER + 100; // 1124: run the wizard
const UINT_PTR kCloseTimer = 1125;        // 50 ms after the wizard: close

extern HINSTANCE gInstance;
extern HWND gMainWindow;
extern int gNewShell;       // 1 on a new-shell system
extern DWORD gDdeInstance;  // 0 when DDE could not be initialised

// 1 when the major version byte is exactly 4, or the minor byte is 95 or
// more (systems that report themselves as 3.95).
int IsNewShellVersion(DWORD version);

#endif
