#include "tests/win/host_window.h"

#include "resources/resource_ids.h"

namespace {

LRESULT CALLBACK HostProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefWindowProcA(window, message, wParam, lParam);
}

void AddControl(HWND host, const char* cls, DWORD style, int id, int x, int y, int cx, int cy,
                const char* text)
{
    CreateWindowExA(0, cls, text, WS_CHILD | style, x, y, cx, cy, host,
                    reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleA(NULL), NULL);
}

} // namespace

HWND CreateHostWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = HostProc;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    wc.lpszClassName = "VelkTestHost";
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    RegisterClassA(&wc);
    HWND host = CreateWindowExA(0, "VelkTestHost", "Velk test host", WS_POPUP | WS_VISIBLE | WS_BORDER,
                                20, 20, 360, 160, NULL, NULL, GetModuleHandleA(NULL), NULL);
    // The installing page's group, in pixels: status line, the per-file
    // bar's thin frame, the label and the overall bar's frame. The frames
    // are never shown; they only lend their rectangles.
    AddControl(host, "STATIC", WS_VISIBLE | SS_LEFT, IDC_STATUS, 70, 20, 153, 16, "Scanning...");
    AddControl(host, "BUTTON", BS_GROUPBOX, IDC_FILE_BAR, 66, 40, 160, 5, "");
    AddControl(host, "STATIC", WS_VISIBLE | SS_LEFT, IDC_PROGRESS_LABEL, 70, 50, 108, 16,
               "Install Progress:");
    AddControl(host, "BUTTON", BS_GROUPBOX, IDC_OVERALL_BAR, 66, 68, 160, 29, "");
    UpdateWindow(host);
    return host;
}

std::string ControlText(HWND host, int id)
{
    char text[1024];
    GetDlgItemTextA(host, id, text, sizeof text);
    return text;
}

COLORREF ClientPixel(HWND host, int x, int y)
{
    HDC dc = GetDC(host);
    COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(host, dc);
    return colour;
}

RECT ControlRect(HWND host, int id)
{
    RECT r;
    GetWindowRect(GetDlgItem(host, id), &r);
    MapWindowPoints(NULL, host, reinterpret_cast<POINT*>(&r), 2);
    return r;
}
