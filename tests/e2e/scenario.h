// What the end-to-end scenarios share: the installer under test, a folder
// of its own for each scenario, the walk to the options page, the checks of
// installed files and exit status, and settings of the Wine session.
#ifndef VELK_TESTS_E2E_SCENARIO_H
#define VELK_TESTS_E2E_SCENARIO_H

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "resources/resource_ids.h"
#include "tests/e2e/driver.h"

namespace e2e {

const DWORD kStartTimeout = 30000; // the first start in a fresh prefix is slow
const DWORD kStepTimeout = 30000;

const char* const kPayloadFiles[] = {"velk32.exe",  "velk.hlp",  "ircintro.hlp", "readme.txt",
                                     "versions.txt", "velk.ini", "aliases.ini",  "popups.ini",
                                     "servers.ini",  "urls.ini"};


inline std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return s;
}

inline std::string FromEnvOr(const char* name, const char* fallback)
{
    const char* value = getenv(name);
    return UnixToWindowsPath(value && *value ? value : fallback);
}

inline std::string SetupExe() { return FromEnvOr("VELK_SETUP_EXE", VELK_SETUP_EXE); }
inline std::string PayloadInputs() { return FromEnvOr("VELK_E2E_PAYLOAD_INPUTS", VELK_PAYLOAD_INPUTS); }

inline std::string TempFilePath()
{
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    return JoinPath(temp, "velk.tmp");
}

// A folder of its own for each scenario, holding the installer copy that
// runs and the folder it installs into.
struct Scenario {
    std::string dir, exe, installDir;

    explicit Scenario(const std::string& name)
    {
        std::string root = JoinPath(ThisProgramDir(), "scenarios");
        CreateDirectoryA(root.c_str(), NULL);
        dir = JoinPath(root, name);
        RemoveTree(dir);
        CreateDirectoryA(dir.c_str(), NULL);
        exe = JoinPath(dir, "velk-setup.exe");
        installDir = JoinPath(dir, "Velk");
    }
    bool CopyInstaller() const { return CopyFileA(SetupExe().c_str(), exe.c_str(), FALSE) != 0; }
};

inline void ExpectInstalledFiles(const std::string& installDir)
{
    for (const char* name : kPayloadFiles) {
        std::string expected, installed;
        ASSERT_TRUE(ReadFileBytes(JoinPath(PayloadInputs(), name), &expected)) << name;
        ASSERT_TRUE(ReadFileBytes(JoinPath(installDir, name), &installed)) << name << " not installed";
        EXPECT_TRUE(expected == installed) << name << " differs from the payload input ("
                                           << installed.size() << " bytes, expected " << expected.size() << ")";
    }
}

inline void ExpectNoPayloadFiles(const std::string& installDir)
{
    for (const char* name : kPayloadFiles)
        EXPECT_FALSE(Exists(JoinPath(installDir, name))) << name;
}

// Starts the installer copy of a scenario and goes to the options page.
inline void StartToOptions(Installer& installer, const Scenario& s,
                    const std::vector<std::pair<std::string, std::string>>& env = {})
{
    ASSERT_TRUE(s.CopyInstaller());
    ASSERT_TRUE(installer.Start(s.exe, s.dir, env));
    ASSERT_TRUE(installer.WaitForWizard(kStartTimeout));
    ASSERT_TRUE(installer.WaitForPage(Welcome, kStepTimeout));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Licence, kStepTimeout));
    ASSERT_TRUE(installer.Click(IDC_FORWARD));
    ASSERT_TRUE(installer.WaitForPage(Options, kStepTimeout));
    ASSERT_TRUE(installer.SetFolder(s.installDir));
}

inline void ExpectExitZero(Installer& installer)
{
    DWORD status = 12345;
    ASSERT_TRUE(installer.WaitForExit(kStepTimeout, &status)) << "the installer did not end";
    EXPECT_EQ(0u, status);
}

inline void FinishAndExit(Installer& installer)
{
    ASSERT_TRUE(installer.Click(IDC_CANCEL)); // "&Finish"
    ExpectExitZero(installer);
}

// ---- Settings of the Wine session --------------------------------------

// Sets a string value under HKEY_CURRENT_USER for programs started from
// now on (empty value with remove: the value is deleted) and puts the
// previous state back at the end.
class RegistrySetting {
public:
    RegistrySetting(const char* key, const char* name, const std::string& value, bool remove = false)
        : name_(name)
    {
        RegCreateKeyExA(HKEY_CURRENT_USER, key, 0, NULL, 0, KEY_ALL_ACCESS, NULL, &key_, NULL);
        char old[256];
        DWORD size = sizeof old, type = 0;
        had_ = RegQueryValueExA(key_, name, NULL, &type, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
        if (had_)
            old_.assign(old, strnlen(old, size));
        Set(value, remove);
    }
    ~RegistrySetting()
    {
        Set(old_, !had_);
        RegCloseKey(key_);
    }

private:
    void Set(const std::string& v, bool remove)
    {
        if (remove)
            RegDeleteValueA(key_, name_.c_str());
        else
            RegSetValueExA(key_, name_.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(v.c_str()),
                           static_cast<DWORD>(v.size() + 1));
    }
    HKEY key_ = NULL;
    std::string name_;
    bool had_ = false;
    std::string old_;
};

// The Windows version that Wine reports to programs started from now on
// (HKCU\Software\Wine "Version"; "" removes it: Wine's default).
struct WineVersion : RegistrySetting {
    explicit WineVersion(const std::string& version)
        : RegistrySetting("Software\\Wine", "Version", version, version.empty())
    {
    }
};

class InstallerTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { CoInitialize(NULL); }
    void SetUp() override
    {
        ASSERT_TRUE(Exists(SetupExe())) << SetupExe();
        DeleteFileA(TempFilePath().c_str());
    }
};

} // namespace e2e

#endif
