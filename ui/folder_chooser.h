// The destination folder chooser: the system's open-file dialog run with a
// template that shows only the folder and drive lists and an edit field
// holding the proposed install folder, kept up to date by a hook.
#ifndef VELK_UI_FOLDER_CHOOSER_H
#define VELK_UI_FOLDER_CHOOSER_H

#include <windows.h>

// True when the user confirmed a folder: the install directory of the
// install state then holds the edit field's text as it was at OK.
bool ChooseFolder(HWND owner);

// The hook of the open-file dialog; always 0, so the dialog does its own
// processing of every message.
UINT_PTR CALLBACK FileHook(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Rebuilds the proposed install folder from the current folder: lower-cased,
// with "velk" appended unless the path already holds "\velk".
void RefreshFolderEdit(HWND dialog);

#endif
