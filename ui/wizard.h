// The wizard: the installer's one visible window, a modal dialog from the
// template INSTALL_DLG whose five pages (welcome, licence, options,
// installing, finish) are blocks of controls shown and hidden in turn.
#ifndef VELK_UI_WIZARD_H
#define VELK_UI_WIZARD_H

#include <windows.h>

enum WizardPage {
    LayoutPending = -1, // before the first page switch has laid out the groups
    WelcomePage = 0,
    LicencePage = 1,
    OptionsPage = 2,
    InstallingPage = 3,
    FinishPage = 4,
};

// The wizard's private message: run one extraction step.
const UINT kExtractMessage = 1126;
// One-shot step timer of the wizard: its expiry posts the next step.
const UINT_PTR kStepTimer = 1125;
const UINT kStepPause = 25;

extern int gWizardPage;

INT_PTR CALLBACK WizardDlgProc(HWND wizard, UINT message, WPARAM wParam, LPARAM lParam);

void ShowPage(HWND wizard, int page);
void PlaceGroup(HWND wizard, int firstId);
void ShowControlGroup(HWND wizard, int firstId, int show);
void InvalidateControl(HWND wizard, int id);
void CenterOnDesktop(HWND window);
void SetWizardTexts(HWND wizard);
void SetDefaultInstallDir(HWND wizard);

#endif
