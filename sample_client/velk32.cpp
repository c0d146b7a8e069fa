// The sample Velk client that the sample payload installs: a window titled
// "Velk" that records each start, with its working folder and command line,
// in velk32.log beside itself, so that a start by the installer can be seen.
#include <windows.h>

#include <cstdio>
#include <cstring>

namespace {

void RecordStart(const char* commandLine)
{
    char log[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(NULL, log, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return;
    char* slash = strrchr(log, '\\');
    strcpy(slash ? slash + 1 : log, "velk32.log");
    char cwd[MAX_PATH];
    if (!GetCurrentDirectoryA(MAX_PATH, cwd))
        cwd[0] = '\0';
    FILE* f = fopen(log, "ab");
    if (!f)
        return;
    fprintf(f, "start\tcwd=%s\targs=%s\r\n", cwd, commandLine);
    fclose(f);
}

LRESULT CALLBACK ClientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        const char text[] = "Velk chat client (sample)";
        TextOutA(dc, 12, 12, text, sizeof text - 1);
        EndPaint(window, &paint);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    RecordStart(commandLine);
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ClientProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorA(NULL, IDC_ARROW);
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = "VelkSampleClient";
    if (!RegisterClassA(&wc))
        return 1;
    HWND window = CreateWindowExA(0, wc.lpszClassName, "Velk", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                  CW_USEDEFAULT, 360, 200, NULL, NULL, instance, NULL);
    if (!window)
        return 1;
    ShowWindow(window, show);
    UpdateWindow(window);
    MSG msg;
    while (GetMessageA(&msg, NULL, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return 0;
}
