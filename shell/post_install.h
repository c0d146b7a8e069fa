// What happens after the wizard has ended and DDE and the 3-D controls
// library have been released: the uninstall entry, the settings default,
// launching the client and opening its help. Nothing here has an owner
// window and no failure is reported.
#ifndef VELK_SHELL_POST_INSTALL_H
#define VELK_SHELL_POST_INSTALL_H

// Written only when the user leaves the wizard from its finish page.
extern int gFinishFlag;
extern int gHelpFlag;
extern int gLaunchFlag;

void RunPostInstallActions();

// Writes one text value of the uninstall key under HKEY_LOCAL_MACHINE,
// opening and closing the key for it. 1 when written.
int WriteUninstallValue(const char* name, const char* text);

#endif
