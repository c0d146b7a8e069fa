#include "install/file_policy.h"

#include <cstring>

#include "install/install_state.h"

namespace {

const char kBackupDirectoryText[] =
    "There seems to be a problem creating the backup directory.\n\n"
    "Please try installing to a different directory!";
const char kBackupFileText[] =
    "There seems to be a problem backing up your original files.\n\n"
    "Please try installing to a different directory!";

} // namespace

int ApplyExistingFilePolicy(const char* destination)
{
    if (!PathExists(destination))
        return Install;

    // Every existing destination file loses read-only, hidden, system and
    // archive, also one that is then kept.
    SetFileAttributesA(destination, FILE_ATTRIBUTE_NORMAL);

    // Settings files: the first existing one decides for the whole run. The
    // test is case-sensitive and looks at the whole path.
    if (gInstall.settingsDecision != Overwrite && strstr(destination, ".ini")) {
        if (gInstall.settingsDecision == Keep)
            return Skip;
        if (gInstall.keepSettingsFlag) {
            gInstall.settingsDecision = Keep;
            return Skip;
        }
        gInstall.settingsDecision = Overwrite;
    }

    if (!gInstall.backupFlag)
        return Install;

    if (gInstall.backupDir[0] == '\0') {
        wsprintfA(gInstall.backupDir, "%s\\backup", gInstall.installDir);
        if (!PathExists(gInstall.backupDir) && !CreateDirectoryA(gInstall.backupDir, NULL)) {
            ShowInstallError(6, kBackupDirectoryText);
            return Error;
        }
        strcat(gInstall.backupDir, "\\");
    }

    // The backup target: the backup folder plus the file's own name. An
    // earlier backup of that name makes room first.
    SplitPathParts(destination);
    wsprintfA(gInstall.scratch, "%s%s%s", gInstall.backupDir, gInstall.namePart, gInstall.extPart);
    SetFileAttributesA(gInstall.scratch, FILE_ATTRIBUTE_NORMAL);
    DeleteFileTwice(gInstall.scratch);
    if (!MoveFileA(destination, gInstall.scratch)) {
        ShowInstallError(7, kBackupFileText);
        return Error;
    }
    return Install;
}
