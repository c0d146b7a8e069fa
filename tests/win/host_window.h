// A small visible window that holds the installing page's controls 170 to
// 173 where the wizard has them, so that the engine's status line and bars
// draw on a real window until the wizard itself is under test.
#ifndef VELK_TESTS_WIN_HOST_WINDOW_H
#define VELK_TESTS_WIN_HOST_WINDOW_H

#include <windows.h>

#include <string>

HWND CreateHostWindow();

// Text of a control of the host.
std::string ControlText(HWND host, int id);

// The colour at a point of the host's client area.
COLORREF ClientPixel(HWND host, int x, int y);

// A control's rectangle in the host's client coordinates.
RECT ControlRect(HWND host, int id);

#endif
