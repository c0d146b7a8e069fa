#include "tests/win/message_boxes.h"

#include <deque>

namespace {

CRITICAL_SECTION g_lock;
HANDLE g_thread = NULL;
volatile LONG g_stop = 0;
std::string g_prefix;
std::deque<int> g_answers;
std::vector<SeenMessage> g_seen;
std::vector<HWND> g_handled;

struct Found {
    HWND box;
};

BOOL CALLBACK FindBox(HWND window, LPARAM param)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    char cls[64];
    GetClassNameA(window, cls, sizeof cls);
    if (lstrcmpA(cls, "#32770") != 0)
        return TRUE;
    char caption[256];
    GetWindowTextA(window, caption, sizeof caption);
    if (std::string(caption).compare(0, g_prefix.size(), g_prefix) != 0)
        return TRUE;
    for (HWND handled : g_handled)
        if (handled == window)
            return TRUE;
    reinterpret_cast<Found*>(param)->box = window;
    return FALSE;
}

void Answer(HWND box)
{
    char caption[256], text[2048];
    GetWindowTextA(box, caption, sizeof caption);
    // The text of a message box is its static control 0xFFFF.
    GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    int button = IDOK;
    if (GetDlgItem(box, IDYES)) {
        EnterCriticalSection(&g_lock);
        button = IDNO;
        if (!g_answers.empty()) {
            button = g_answers.front();
            g_answers.pop_front();
        }
        LeaveCriticalSection(&g_lock);
    }
    EnterCriticalSection(&g_lock);
    g_seen.push_back(SeenMessage{caption, text, button});
    g_handled.push_back(box);
    LeaveCriticalSection(&g_lock);
    HWND control = GetDlgItem(box, button);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
}

DWORD WINAPI Watch(LPVOID)
{
    while (!g_stop) {
        Found found = {NULL};
        EnumWindows(FindBox, reinterpret_cast<LPARAM>(&found));
        if (found.box) {
            Sleep(20); // let the box finish its start-up
            Answer(found.box);
        } else {
            Sleep(10);
        }
        // Forget boxes that are gone, so that a new box reusing a handle counts.
        EnterCriticalSection(&g_lock);
        for (size_t i = 0; i < g_handled.size();)
            if (!IsWindow(g_handled[i]))
                g_handled.erase(g_handled.begin() + i);
            else
                i++;
        LeaveCriticalSection(&g_lock);
    }
    return 0;
}

} // namespace

void StartMessageWatcher(const char* captionPrefix)
{
    if (g_thread)
        return;
    InitializeCriticalSection(&g_lock);
    g_prefix = captionPrefix;
    g_stop = 0;
    g_thread = CreateThread(NULL, 0, Watch, NULL, 0, NULL);
}

void StopMessageWatcher()
{
    if (!g_thread)
        return;
    InterlockedExchange(&g_stop, 1);
    WaitForSingleObject(g_thread, 5000);
    CloseHandle(g_thread);
    g_thread = NULL;
    DeleteCriticalSection(&g_lock);
}

void PlanAnswers(const std::vector<int>& answers)
{
    EnterCriticalSection(&g_lock);
    g_answers.assign(answers.begin(), answers.end());
    LeaveCriticalSection(&g_lock);
}

std::vector<SeenMessage> TakeSeenMessages()
{
    EnterCriticalSection(&g_lock);
    std::vector<SeenMessage> seen;
    seen.swap(g_seen);
    LeaveCriticalSection(&g_lock);
    return seen;
}

void PumpMessages()
{
    MSG msg;
    while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string Describe(const std::vector<SeenMessage>& messages)
{
    std::string out;
    for (const SeenMessage& m : messages)
        out += "[" + m.caption + "] " + m.text + " -> " + std::to_string(m.button) + "\n";
    return out.empty() ? "(no messages)\n" : out;
}
