#include "shell/progman.h"

#include <windows.h>
#include <ddeml.h>

#include "install/install_state.h"
#include "shell/shell_state.h"

namespace {

const char kProgman[] = "PROGMAN";
const DWORD kExecuteTimeout = 5000;

struct ProgmanCommand {
    const char* format;    // with "%s" twice for the install directory, or none
    const char* oldShell;  // the format on old-shell systems, when it differs
    int counts;            // a failure ends the sequence
};

// The items' fields: command line, name, icon file, icon index, two empty
// position fields, working directory. The text items name write.exe's icon
// on old-shell systems.
const ProgmanCommand kShortcutCommands[] = {
    {"[CreateGroup(\"Velk\")]", NULL, 1},
    {"[ShowGroup(\"Velk\",1)]", NULL, 0},
    {"[ReplaceItem(\"Velk32\")]", NULL, 0},
    {"[AddItem(\"%s\\Velk32.exe\",\"Velk32\",,0,,,\"%s\")]", NULL, 1},
    {"[ReplaceItem(\"Velk Help\")]", NULL, 0},
    {"[AddItem(\"%s\\Velk.hlp\",\"Velk Help\",,0,,,\"%s\")]", NULL, 1},
    {"[ReplaceItem(\"IRC Intro\")]", NULL, 0},
    {"[AddItem(\"%s\\IRCintro.hlp\",\"IRC Intro\",,0,,,\"%s\")]", NULL, 1},
    {"[ReplaceItem(\"Readme.txt\")]", NULL, 0},
    {"[AddItem(\"%s\\readme.txt\",\"Readme.txt\",,,,,\"%s\")]",
     "[AddItem(\"%s\\readme.txt\",\"Readme.txt\",\"write.exe\",0,,,\"%s\")]", 1},
    {"[ReplaceItem(\"Versions.txt\")]", NULL, 0},
    {"[AddItem(\"%s\\versions.txt\",\"Versions.txt\",,,,,\"%s\")]",
     "[AddItem(\"%s\\versions.txt\",\"Versions.txt\",\"write.exe\",0,,,\"%s\")]", 1},
};

} // namespace

int ProgmanExecute(const char* command)
{
    HSZ service = DdeCreateStringHandleA(gDdeInstance, kProgman, CP_WINANSI);
    if (!service)
        return 0;
    HSZ topic = DdeCreateStringHandleA(gDdeInstance, kProgman, CP_WINANSI);
    if (!topic) {
        DdeFreeStringHandle(gDdeInstance, service);
        return 0;
    }
    int result = 0;
    HCONV conversation = DdeConnect(gDdeInstance, service, topic, NULL);
    if (conversation) {
        DWORD status = 0;
        // The length sent includes the terminating zero byte.
        HDDEDATA done = DdeClientTransaction(
            reinterpret_cast<LPBYTE>(const_cast<char*>(command)), lstrlenA(command) + 1,
            conversation, NULL, CF_TEXT, XTYP_EXECUTE, kExecuteTimeout, &status);
        result = done != NULL;
        DdeDisconnect(conversation);
    }
    DdeFreeStringHandle(gDdeInstance, topic);
    DdeFreeStringHandle(gDdeInstance, service);
    return result;
}

int CreateProgmanShortcuts()
{
    char command[kLongTextSize];
    for (const ProgmanCommand& step : kShortcutCommands) {
        const char* format = !gNewShell && step.oldShell ? step.oldShell : step.format;
        wsprintfA(command, format, gInstall.installDir, gInstall.installDir);
        if (!ProgmanExecute(command) && step.counts)
            return 0;
    }
    return 1;
}
