#include "tests/e2e/driver.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "resources/resource_ids.h"

namespace e2e {

const char kWizardCaption[] = "Velk v5.81 32bit Installation";
const char kChooserCaption[] = "Velk Select Folder";

namespace {

// A cross-process message that gets no answer within this time counts as
// failed instead of hanging the test.
const UINT kSendTimeoutMs = 15000;

struct WindowSearch {
    DWORD pid;
    HWND wizard; // excluded when searching for message boxes
    bool wantWizard;
    HWND found;
    bool wantChooser;
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
    bool isChooser = lstrcmpA(caption, kChooserCaption) == 0;
    if (search->wantChooser ? isChooser
        : search->wantWizard ? isWizard
                             : (!isWizard && !isChooser && window != search->wizard)) {
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

std::vector<std::string> FoldersBelowRoot(const std::string& path)
{
    std::vector<std::string> names;
    size_t at = 3;
    while (at < path.size()) {
        size_t end = path.find('\\', at);
        if (end == std::string::npos)
            end = path.size();
        if (end > at)
            names.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return names;
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
    WindowSearch search = {process_.dwProcessId, NULL, true, NULL, false};
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
    WindowSearch search = {process_.dwProcessId, Wizard(), false, NULL, false};
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
    return SaveWindowBitmap(Wizard(), path);
}

bool SaveWindowBitmap(HWND wizard, const std::string& path)
{
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

std::vector<ProcessSeen> Processes()
{
    std::vector<ProcessSeen> list;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return list;
    PROCESSENTRY32 entry = {};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        ProcessSeen p;
        p.pid = entry.th32ProcessID;
        p.parent = entry.th32ParentProcessID;
        p.exe = entry.szExeFile;
        for (char& c : p.exe)
            c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
        list.push_back(p);
    }
    CloseHandle(snapshot);
    return list;
}

unsigned long long CreationTime(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (!process)
        return 0;
    FILETIME created, exited, kernel, user;
    unsigned long long t = 0;
    if (GetProcessTimes(process, &created, &exited, &kernel, &user))
        t = (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
    CloseHandle(process);
    return t;
}

std::vector<ProcessSeen> ChildrenOf(DWORD parent)
{
    std::vector<ProcessSeen> children;
    for (const ProcessSeen& p : Processes())
        if (p.parent == parent)
            children.push_back(p);
    std::stable_sort(children.begin(), children.end(), [](const ProcessSeen& a, const ProcessSeen& b) {
        return CreationTime(a.pid) < CreationTime(b.pid);
    });
    return children;
}

namespace {

struct TopWindowSearch {
    DWORD pid;
    std::vector<std::pair<HWND, std::string>> found;
};

BOOL CALLBACK CollectTopWindow(HWND window, LPARAM param)
{
    TopWindowSearch* search = reinterpret_cast<TopWindowSearch*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->pid && IsWindowVisible(window)) {
        char caption[256] = "";
        GetWindowTextA(window, caption, sizeof caption);
        search->found.push_back({window, caption});
    }
    return TRUE;
}

} // namespace

std::vector<std::pair<HWND, std::string>> TopWindows(DWORD pid)
{
    TopWindowSearch search = {pid, {}};
    EnumWindows(CollectTopWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool EndProcess(DWORD pid)
{
    HANDLE process = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, pid);
    if (!process)
        return true; // already gone
    TerminateProcess(process, 1);
    bool gone = WaitForSingleObject(process, 5000) == WAIT_OBJECT_0;
    CloseHandle(process);
    return gone;
}

// ---- The folder chooser -------------------------------------------------

namespace {

std::string Narrow(const wchar_t* text)
{
    char buffer[1024] = "";
    WideCharToMultiByte(CP_ACP, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    return buffer;
}

std::string LowerText(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

// List entries are read as wide text: the common dialog's lists keep their
// entries as Unicode strings, and a narrow LB_GETTEXT across processes
// comes back as the wide bytes (so "[" and a zero byte).
std::vector<std::string> ListEntries(HWND list, UINT countMessage, UINT lengthMessage, UINT textMessage)
{
    std::vector<std::string> entries;
    DWORD_PTR count = 0;
    if (!list || !SendMessageTimeoutW(list, countMessage, 0, 0, SMTO_NORMAL, kSendTimeoutMs, &count))
        return entries;
    for (DWORD_PTR i = 0; i < count && i < 4096; i++) {
        DWORD_PTR length = 0;
        SendMessageTimeoutW(list, lengthMessage, i, 0, SMTO_NORMAL, kSendTimeoutMs, &length);
        wchar_t text[1024] = L"";
        if (length < 1000)
            SendMessageTimeoutW(list, textMessage, i, reinterpret_cast<LPARAM>(text), SMTO_NORMAL, kSendTimeoutMs,
                                &length);
        entries.push_back(Narrow(text));
    }
    return entries;
}

} // namespace

HWND Installer::Chooser()
{
    if (!started_)
        return NULL;
    WindowSearch search = {process_.dwProcessId, NULL, false, NULL, true};
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

bool Installer::WaitForChooser(DWORD timeoutMs)
{
    // Shown means refreshed: the proposed folder is filled in on showing.
    return WaitUntil([this] { return (Chooser() && !ChooserText(102).empty()) || !Running(); }, timeoutMs) &&
           Chooser() != NULL;
}

bool Installer::WaitForChooserGone(DWORD timeoutMs)
{
    return WaitUntil([this] { return Chooser() == NULL; }, timeoutMs);
}

HWND Installer::ChooserControl(int id)
{
    HWND chooser = Chooser();
    return chooser ? GetDlgItem(chooser, id) : NULL;
}

std::string Installer::ChooserText(int id)
{
    return WindowText(ChooserControl(id));
}

bool Installer::SetChooserText(int id, const std::string& text)
{
    HWND c = ChooserControl(id);
    if (!c)
        return false;
    Send(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    return ChooserText(id) == text;
}

std::vector<std::string> Installer::FolderListEntries()
{
    return ListEntries(ChooserControl(1121), LB_GETCOUNT, LB_GETTEXTLEN, LB_GETTEXT);
}

std::vector<std::string> Installer::DriveListEntries()
{
    return ListEntries(ChooserControl(1137), CB_GETCOUNT, CB_GETLBTEXTLEN, CB_GETLBTEXT);
}

bool Installer::OpenListFolder(const std::string& name)
{
    HWND list = ChooserControl(1121);
    if (!list || !IsWindowVisible(list))
        return false;
    std::vector<std::string> entries = FolderListEntries();
    std::string wanted = "[" + LowerText(name) + "]";
    int index = -1;
    for (size_t i = 0; i < entries.size(); i++)
        if (LowerText(entries[i]) == wanted)
            index = static_cast<int>(i);
    if (index < 0)
        return false;
    std::string before = ChooserText(1088);
    // Scrolled into view, then double-clicked in the middle of its line:
    // button down and up, then the second press that makes the double
    // click, as the system delivers them.
    Send(list, LB_SETTOPINDEX, index, 0);
    int top = static_cast<int>(Send(list, LB_GETTOPINDEX, 0, 0));
    int height = static_cast<int>(Send(list, LB_GETITEMHEIGHT, 0, 0));
    if (height <= 0)
        return false;
    LPARAM at = MAKELPARAM(8, (index - top) * height + height / 2);
    PostMessageA(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    PostMessageA(list, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
    PostMessageA(list, WM_LBUTTONUP, 0, at);
    return WaitUntil([&] { return ChooserText(1088) != before; }, 10000);
}

bool Installer::PickDrive(char letter)
{
    HWND combo = ChooserControl(1137);
    if (!combo || !IsWindowVisible(combo))
        return false;
    std::vector<std::string> entries = DriveListEntries();
    std::string wanted = std::string("[-") + static_cast<char>(tolower(letter)) + "-]";
    int index = -1;
    for (size_t i = 0; i < entries.size(); i++)
        if (LowerText(entries[i]).find(wanted) == 0)
            index = static_cast<int>(i);
    if (index < 0)
        return false;
    // The drive list picks the entry and tells the dialog, as it does when
    // the user chooses an entry of its drop-down list.
    Send(combo, CB_SETCURSEL, index, 0);
    PostMessageA(Chooser(), WM_COMMAND, MAKEWPARAM(1137, CBN_SELCHANGE), reinterpret_cast<LPARAM>(combo));
    std::string prefix = std::string(1, static_cast<char>(tolower(letter))) + ":";
    return WaitUntil([&] { return LowerText(ChooserText(1088)).compare(0, 2, prefix) == 0; }, 10000);
}

bool Installer::ClickChooser(int id)
{
    HWND c = ChooserControl(id);
    if (!c || !IsWindowVisible(c) || !IsWindowEnabled(c))
        return false;
    return PostMessageA(c, BM_CLICK, 0, 0) != 0;
}

} // namespace e2e
