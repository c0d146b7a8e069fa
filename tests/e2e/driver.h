// Automation driver for the installer: starts velk-setup.exe as a separate
// process and works its wizard the way a user or an accessibility tool
// would, through window messages and window state only. Nothing here calls
// into the installer's code.
#ifndef VELK_TESTS_E2E_DRIVER_H
#define VELK_TESTS_E2E_DRIVER_H

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

extern const char kWizardCaption[];
extern const char kChooserCaption[];

// Wizard pages as the user sees them; Unknown while none is recognisable.
enum Page { Unknown = -1, Welcome = 0, Licence = 1, Options = 2, Installing = 3, Finish = 4 };
const char* PageName(int page);

// A message box of the installer process, as found on the screen.
struct MessageBoxSeen {
    HWND window = NULL;
    std::string caption;
    std::string text;
    bool hasOk = false, hasYes = false, hasNo = false;
};

// A message box after it was answered (IDOK, IDYES or IDNO).
struct AnsweredBox {
    std::string caption;
    std::string text;
    int answer = 0;
};
std::string Describe(const std::vector<AnsweredBox>& boxes);

// Polls until the condition holds or the time is up; true when it held.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs, DWORD intervalMs = 10);

// Paths: the source tree (VELK_SOURCE_DIR, a unix path under Wine's Z:),
// this program's own folder, and small file helpers.
std::string UnixToWindowsPath(const std::string& unixPath);
std::string SourceDir();
std::string ThisProgramDir();
std::string JoinPath(const std::string& dir, const std::string& name);
bool Exists(const std::string& path);
bool IsDirectory(const std::string& path);
bool ReadFileBytes(const std::string& path, std::string* bytes);
bool WriteFileBytes(const std::string& path, const std::string& bytes);
// Removes a file or a whole folder tree; true when nothing is left.
bool RemoveTree(const std::string& path);
// The folders of a path below its drive root: "z:\a\b" gives a, b.
std::vector<std::string> FoldersBelowRoot(const std::string& path);
// Names of the entries of a folder (no "." and "..").
std::vector<std::string> ListDir(const std::string& dir);

// Processes of the Wine session, as a process list shows them.
struct ProcessSeen {
    DWORD pid = 0, parent = 0;
    std::string exe; // file name only, such as "winhlp32.exe"
};
std::vector<ProcessSeen> Processes();
// The processes that the given process started, in the order they were
// created (earliest first).
std::vector<ProcessSeen> ChildrenOf(DWORD parent);
// Creation time of a process (100 ns units); 0 when it cannot be read.
unsigned long long CreationTime(DWORD pid);
// Visible top-level windows of a process, with their captions.
std::vector<std::pair<HWND, std::string>> TopWindows(DWORD pid);
// Ends a process by its id; true when it has gone.
bool EndProcess(DWORD pid);
// Saves what the screen shows of a window as a 24-bit BMP file.
bool SaveWindowBitmap(HWND window, const std::string& path);

class Installer {
public:
    Installer() = default;
    ~Installer(); // an installer still running at the end is terminated
    Installer(const Installer&) = delete;
    Installer& operator=(const Installer&) = delete;

    // Starts the program with its own working directory. Extra environment
    // variables (name, value) are added to this process's environment.
    bool Start(const std::string& exePath, const std::string& workDir,
               const std::vector<std::pair<std::string, std::string>>& env = {});
    DWORD ProcessId() const { return process_.dwProcessId; }
    bool Running() const;
    // Waits for the process to end; its exit status goes to *status.
    bool WaitForExit(DWORD timeoutMs, DWORD* status);

    // The wizard: the dialog of this process with the installer caption.
    HWND Wizard();
    bool WaitForWizard(DWORD timeoutMs);
    HWND Control(int id);
    std::string Text(int id);       // a control's text (WM_GETTEXT)
    std::string WindowText(HWND w); // any window's text (WM_GETTEXT)
    bool Visible(int id);
    bool Enabled(int id);
    bool Checked(int id); // BM_GETCHECK
    int FocusedId();      // id of the control with the keyboard focus, 0 if none
    HWND FocusedWindow();

    // The page recognised by which group is visible and by the captions of
    // the two buttons; Unknown while the wizard is between pages.
    int CurrentPage();
    bool WaitForPage(int page, DWORD timeoutMs);

    // User actions. Clicking is refused (false) for a control that is not
    // visible and enabled, as a user could not click it either. The click
    // is posted: the call returns before the installer has acted on it.
    bool Click(int id);
    // Checks or unchecks a check box by clicking it when its state differs.
    bool SetChecked(int id, bool checked);
    // Posts clicks on several controls so that the installer takes them one
    // right after the other with nothing in between: its thread is held
    // while they are posted. Each control must be clickable now.
    bool ClickInSequence(const std::vector<int>& ids);
    // Holds the installer's thread (it takes no message) so that several
    // reads see one moment; every Hold needs its Release.
    bool Hold();
    void Release();
    // The folder field is a static text: tests that are not about choosing
    // a folder put their folder straight into it.
    bool SetFolder(const std::string& folder);
    // The system menu's Close (SC_CLOSE), as Alt+F4 would send it.
    void SystemClose();

    // Message boxes: any dialog of the process other than the wizard.
    bool FindMessageBox(MessageBoxSeen* box);
    bool WaitForMessageBox(DWORD timeoutMs, MessageBoxSeen* box);
    // Presses one of the box's buttons, waits for the box to go and records it.
    bool Answer(const MessageBoxSeen& box, int button);
    const std::vector<AnsweredBox>& Answered() const { return answered_; }

    // Saves the wizard window as a 24-bit BMP file.
    bool SaveWizardBitmap(const std::string& path);

    // The folder chooser that Browse opens: the process's dialog with the
    // chooser's caption. Its controls: 102 the proposed install folder,
    // 1088 the current folder (hidden), 1121 the folder list, 1137 the
    // drive list, 1 OK, 2 Cancel.
    HWND Chooser();
    bool WaitForChooser(DWORD timeoutMs);
    bool WaitForChooserGone(DWORD timeoutMs);
    HWND ChooserControl(int id);
    std::string ChooserText(int id);
    // Types a text into one of the chooser's fields (it replaces the text).
    bool SetChooserText(int id, const std::string& text);
    // The entries of the folder list and of the drive list as they are
    // kept, such as "[..]", "[games]" and "[-c-]".
    std::vector<std::string> FolderListEntries();
    std::vector<std::string> DriveListEntries();
    // Double-clicks the folder list's entry of a folder ("..", or a name;
    // letter case does not matter), as the user opens it, and waits until
    // the chooser's current folder has changed.
    bool OpenListFolder(const std::string& name);
    // Picks a drive (a letter) in the drive list and waits until the
    // current folder is that drive's.
    bool PickDrive(char letter);
    // Clicks a button of the chooser (1 OK, 2 Cancel).
    bool ClickChooser(int id);

private:
    LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    PROCESS_INFORMATION process_ = {};
    bool started_ = false;
    std::vector<AnsweredBox> answered_;
};

} // namespace e2e

#endif
