#include "tests/e2e/driver.h"

#include <cstdlib>
#include <cstring>

#include "resources/resource_ids.h"

namespace e2e {

const char kWizardCaption[] = "Velk v5.81 32bit Installation";

namespace {

// A cross-process message that gets no answer within this time counts as
// failed instead of hanging the test.
const UINT kSendTimeoutMs = 15000;

struct WindowSearch {
    DWORD pid;
    HWND wizard; // excluded when searching for message boxes
    bool wantWizard;
    HWND found;
};

bool IsDialogOf(HWND window, DWORD pid)
{
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != pid || !IsWindowVisible(window))
        return false;
    char cls[32];
    GetClassNameA(window, cls, sizeof cls);
    return lstrcmpA(cls, "#32770") == 0;
}

BOOL CALLBACK FindDialog(HWND window, LPARAM param)
{
    WindowSearch* search = reinterpret_cast<WindowSearch*>(param);
    if (!IsDialogOf(window, search->pid))
        return TRUE;
    char caption[256] = "";
    // The caption of a top-level window is kept by the system: reading it
    // needs no answer from the installer's thread.
    GetWindowTextA(window, caption, sizeof caption);
    bool isWizard = lstrcmpA(caption, kWizardCaption) == 0;
    if (search->wantWizard ? isWizard : (!isWizard && window != search->wizard)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

} // namespace

const char* PageName(int page)
{
    switch (page) {
    case Welcome: return "welcome";
    case Licence: return "licence";
    case Options: return "options";
    case Installing: return "installing";
    case Finish: return "finish";
    }
    return "unknown";
}

std::string Describe(const std::vector<AnsweredBox>& boxes)
{
    std::string out;
    for (const AnsweredBox& b : boxes)
        out += "[" + b.caption + "] " + b.text + " -> " + std::to_string(b.answer) + "\n";
    return out.empty() ? "(no message boxes)\n" : out;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start >= timeoutMs)
            return condition();
        Sleep(intervalMs);
    }
}

std::string UnixToWindowsPath(const std::string& unixPath)
{
    if (unixPath.size() >= 2 && unixPath[1] == ':')
        return unixPath; // already a Windows path
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::string SourceDir()
{
    const char* dir = getenv("VELK_SOURCE_DIR");
    return dir ? UnixToWindowsPath(dir) : std::string();
}

std::string ThisProgramDir()
{
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(NULL, path, MAX_PATH);
    std::string p(path, n);
    return p.substr(0, p.find_last_of("\\/"));
}

std::string JoinPath(const std::string& dir, const std::string& name)
{
    if (dir.empty() || dir.back() == '\\')
        return dir + name;
    return dir + "\\" + name;
}

bool Exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsDirectory(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool ReadFileBytes(const std::string& path, std::string* bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    bytes->clear();
    char buffer[65536];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(f, buffer, sizeof buffer, &got, NULL) != 0) && got > 0)
        bytes->append(buffer, got);
    CloseHandle(f);
    return ok;
}

bool WriteFileBytes(const std::string& path, const std::string& bytes)
{
    HANDLE f = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (f == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL) &&
              written == bytes.size();
    CloseHandle(f);
    return ok;
}

std::vector<std::string> ListDir(const std::string& dir)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(JoinPath(dir, "*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (strcmp(data.cFileName, ".") != 0 && strcmp(data.cFileName, "..") != 0)
            names.push_back(data.cFileName);
    } while (FindNextFileA(find, &data));
    FindClose(find);
    return names;
}

bool RemoveTree(const std::string& path)
{
    DWORD a = GetFileAttributesA(path.c_str());
    if (a == INVALID_FILE_ATTRIBUTES)
        return true;
    SetFileAttributesA(path.c_str(), a & ~FILE_ATTRIBUTE_READONLY);
    if (a & FILE_ATTRIBUTE_DIRECTORY) {
        for (const std::string& name : ListDir(path))
            RemoveTree(JoinPath(path, name));
        RemoveDirectoryA(path.c_str());
    } else {
        DeleteFileA(path.c_str());
    }
    return !Exists(path);
}

Installer::~Installer()
{
    if (!started_)
        return;
    if (Running()) {
        TerminateProcess(process_.hProcess, 99);
        WaitForSingleObject(process_.hProcess, 5000);
    }
    CloseHandle(process_.hThread);
    CloseHandle(process_.hProcess);
}

bool Installer::Start(const std::string& exePath, const std::string& workDir,
                      const std::vector<std::pair<std::string, std::string>>& env)
{
    // The child inherits the environment as it is while it is created.
    std::vector<std::pair<std::string, std::string>> saved;
    for (const auto& v : env) {
        char old[4096];
        DWORD n = GetEnvironmentVariableA(v.first.c_str(), old, sizeof old);
        saved.push_back({v.first, n && n < sizeof old ? std::string(old, n) : std::string("\x01")});
        SetEnvironmentVariableA(v.first.c_str(), v.second.c_str());
    }
    std::string commandLine = "\"" + exePath + "\"";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    BOOL ok = CreateProcessA(exePath.c_str(), &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                             workDir.empty() ? NULL : workDir.c_str(), &startup, &process_);
    for (const auto& v : saved)
        SetEnvironmentVariableA(v.first.c_str(), v.second == "\x01" ? NULL : v.second.c_str());
    started_ = ok != 0;
    return started_;
}

bool Installer::Running() const
{
    return started_ && WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT;
}

bool Installer::WaitForExit(DWORD timeoutMs, DWORD* status)
{
    if (!started_ || WaitForSingleObject(process_.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return false;
    return GetExitCodeProcess(process_.hProcess, status) != 0;
}

HWND Installer::Wizard()
{
    if (!started_)
        return NULL;
    WindowSearch search = {process_.dwProcessId, NULL, true, NULL};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Installer::WaitForWizard(DWORD timeoutMs)
{
    return WaitUntil([this] { return Wizard() != NULL || !Running(); }, timeoutMs) && Wizard() != NULL;
}

HWND Installer::Control(int id)
{
    HWND wizard = Wizard();
    return wizard ? GetDlgItem(wizard, id) : NULL;
}

LRESULT Installer::Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, kSendTimeoutMs, &result))
        return 0;
    return static_cast<LRESULT>(result);
}

std::string Installer::WindowText(HWND window)
{
    if (!window)
        return std::string();
    // WM_GETTEXT is marshalled across processes.
    static char text[8192];
    text[0] = '\0';
    LRESULT n = Send(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

std::string Installer::Text(int id)
{
    return WindowText(Control(id));
}

bool Installer::Visible(int id)
{
    HWND c = Control(id);
    return c && IsWindowVisible(c);
}

bool Installer::Enabled(int id)
{
    HWND c = Control(id);
    return c && IsWindowEnabled(c);
}

bool Installer::Checked(int id)
{
    HWND c = Control(id);
    return c && Send(c, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

HWND Installer::FocusedWindow()
{
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!started_ || !GetGUIThreadInfo(process_.dwThreadId, &info))
        return NULL;
    return info.hwndFocus;
}

int Installer::FocusedId()
{
    HWND focus = FocusedWindow();
    if (!focus || GetParent(focus) != Wizard())
        return 0;
    return GetDlgCtrlID(focus);
}

int Installer::CurrentPage()
{
    if (!Wizard())
        return Unknown;
    std::string forward = Text(IDC_FORWARD), cancel = Text(IDC_CANCEL);
    if (Visible(IDC_WELCOME_TEXT) && forward == "&Next >" && cancel == "Cancel")
        return Welcome;
    if (Visible(IDC_LICENCE_TEXT) && forward == "&Yes" && cancel == "&No")
        return Licence;
    if (Visible(IDC_BACKUP) && forward == "&Install" && cancel == "Cancel")
        return Options;
    if (Visible(IDC_STATUS) && cancel == "Abort")
        return Installing;
    if (Visible(IDC_FINISH_DONE) && cancel == "&Finish")
        return Finish;
    return Unknown;
}

bool Installer::WaitForPage(int page, DWORD timeoutMs)
{
    return WaitUntil([&] { return CurrentPage() == page || !Running(); }, timeoutMs) &&
           CurrentPage() == page;
}

bool Installer::Click(int id)
{
    HWND c = Control(id);
    if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c))
        return false;
    return PostMessageA(c, BM_CLICK, 0, 0) != 0;
}

bool Installer::SetChecked(int id, bool checked)
{
    if (Checked(id) == checked)
        return true;
    if (!Click(id))
        return false;
    return WaitUntil([&] { return Checked(id) == checked; }, 5000);
}

bool Installer::Hold()
{
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT, FALSE, process_.dwThreadId);
    if (!thread)
        return false;
    bool ok = SuspendThread(thread) != static_cast<DWORD>(-1);
    if (ok) {
        CONTEXT context = {};
        context.ContextFlags = CONTEXT_CONTROL;
        GetThreadContext(thread, &context); // returns once the thread is really held
    }
    CloseHandle(thread);
    return ok;
}

void Installer::Release()
{
    HANDLE thread = OpenThread(THREAD_SUSPEND_RESUME, FALSE, process_.dwThreadId);
    if (!thread)
        return;
    ResumeThread(thread);
    CloseHandle(thread);
}

bool Installer::ClickInSequence(const std::vector<int>& ids)
{
    std::vector<HWND> controls;
    for (int id : ids) {
        HWND c = Control(id);
        if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c))
            return false;
        controls.push_back(c);
    }
    // Held, the thread cannot take the first click before the others are
    // queued behind it; whatever the first click posts comes after them.
    if (!Hold())
        return false;
    bool ok = true;
    for (HWND c : controls)
        ok = PostMessageA(c, BM_CLICK, 0, 0) && ok;
    Release();
    return ok;
}

bool Installer::SetFolder(const std::string& folder)
{
    HWND c = Control(IDC_FOLDER);
    if (!c)
        return false;
    Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    return Text(IDC_FOLDER) == folder;
}

void Installer::SystemClose()
{
    HWND wizard = Wizard();
    if (wizard)
        PostMessageA(wizard, WM_SYSCOMMAND, SC_CLOSE, 0);
}

bool Installer::FindMessageBox(MessageBoxSeen* box)
{
    if (!started_)
        return false;
    WindowSearch search = {process_.dwProcessId, Wizard(), false, NULL};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    if (!search.found)
        return false;
    box->window = search.found;
    char caption[256] = "";
    GetWindowTextA(search.found, caption, sizeof caption);
    box->caption = caption;
    // The text of a message box is its static control 0xFFFF.
    box->text = WindowText(GetDlgItem(search.found, 0xFFFF));
    box->hasOk = GetDlgItem(search.found, IDOK) != NULL;
    box->hasYes = GetDlgItem(search.found, IDYES) != NULL;
    box->hasNo = GetDlgItem(search.found, IDNO) != NULL;
    return true;
}

bool Installer::WaitForMessageBox(DWORD timeoutMs, MessageBoxSeen* box)
{
    return WaitUntil([&] { return FindMessageBox(box) || !Running(); }, timeoutMs) && FindMessageBox(box);
}

bool Installer::Answer(const MessageBoxSeen& box, int button)
{
    HWND control = GetDlgItem(box.window, button);
    if (!control)
        return false;
    answered_.push_back(AnsweredBox{box.caption, box.text, button});
    PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(control));
    return WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 10000);
}

bool Installer::SaveWizardBitmap(const std::string& path)
{
    HWND wizard = Wizard();
    if (!wizard)
        return false;
    RECT r;
    GetWindowRect(wizard, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    if (width <= 0 || height <= 0)
        return false;
    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height; // bottom-up, as BMP files store it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = NULL;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // What the screen shows of the window, as the user sees it (the icon
    // and the bars are painted by the wizard itself, which a WM_PRINT
    // rendering would miss); the window is brought to the top first.
    SetWindowPos(wizard, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    SelectObject(memory, old);
    int stride = (width * 3 + 3) & ~3;
    DWORD imageSize = static_cast<DWORD>(stride) * height;
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42; // "BM"
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    info.bmiHeader.biSizeImage = imageSize;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info.bmiHeader), sizeof info.bmiHeader);
    bytes.append(static_cast<const char*>(bits), imageSize);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    return WriteFileBytes(path, bytes);
}

} // namespace e2e
