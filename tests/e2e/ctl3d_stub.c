/* A stand-in for the 3-D controls library that records each call of its
   entries, one name a line, in ctl3d.log beside the library file, and its
   loading and unloading in ctl3d-load.log. Built with and without
   Ctl3dAutoSubclass. */
#include <windows.h>

static HMODULE g_self;

static void RecordIn(const char *logName, const char *name)
{
    char path[MAX_PATH + 16];
    DWORD n = GetModuleFileNameA(g_self, path, MAX_PATH);
    while (n > 0 && path[n - 1] != '\\' && path[n - 1] != '/')
        n--;
    lstrcpyA(path + n, logName);
    HANDLE log = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ, NULL, OPEN_ALWAYS, 0, NULL);
    if (log == INVALID_HANDLE_VALUE)
        return;
    DWORD written;
    WriteFile(log, name, lstrlenA(name), &written, NULL);
    WriteFile(log, "\r\n", 2, &written, NULL);
    CloseHandle(log);
}

static void Record(const char *name)
{
    RecordIn("ctl3d.log", name);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved)
{
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        g_self = self;
        RecordIn("ctl3d-load.log", "loaded");
    } else if (reason == DLL_PROCESS_DETACH) {
        RecordIn("ctl3d-load.log", "unloaded");
    }
    return TRUE;
}

BOOL WINAPI Ctl3dRegister(HINSTANCE instance)
{
    (void)instance;
    Record("Ctl3dRegister");
    return TRUE;
}

BOOL WINAPI Ctl3dUnregister(HINSTANCE instance)
{
    (void)instance;
    Record("Ctl3dUnregister");
    return TRUE;
}

#ifdef CTL3D_WITH_AUTOSUBCLASS
BOOL WINAPI Ctl3dAutoSubclass(HINSTANCE instance)
{
    (void)instance;
    Record("Ctl3dAutoSubclass");
    return TRUE;
}
#endif
