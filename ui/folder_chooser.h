// The destination folder chooser: the system's open-file dialog with a
// custom template, used to pick the install directory.
#ifndef VELK_UI_FOLDER_CHOOSER_H
#define VELK_UI_FOLDER_CHOOSER_H

#include <windows.h>

// True when the user confirmed a folder; the install directory of the
// install state then holds it.
bool ChooseFolder(HWND wizard);

#endif
