#include "install/install_state.h"

#include <cstring>

InstallState gInstall;

const char kReadProblemText[] =
    "There seems to be a problem reading the installation file.\n\n"
    "Please try running the installation program again!";
const char kCopyProblemText[] =
    "There seems to be a problem copying files to their destination.\n\n"
    "Please try running the installation program again!";

namespace {

const char kCreateDirectoryText[] =
    "There seems to be a problem creating the directory you specified.\n\n"
    "Please try using a different directory name!";

void RemoveDirectoryTwice(const char* path)
{
    if (!RemoveDirectoryA(path))
        RemoveDirectoryA(path);
}

// Copies [begin, end) into a part buffer; 0 when it does not fit.
int CopyPart(char* part, int size, const char* begin, const char* end)
{
    if (end - begin >= size)
        return 0;
    memcpy(part, begin, end - begin);
    part[end - begin] = '\0';
    return 1;
}

} // namespace

void ResetInstallState()
{
    ResetMarkerMatcher(&gInstall.matcher);
    gInstall.sliceByteCount = 0;
    gInstall.overallFill = 0;
    gInstall.installerFileLength = 0;
    gInstall.settingsDecision = Undecided;
    gInstall.fileIndex = 0;
    gInstall.installerStream = NULL;
    gInstall.tempStream = NULL;
    gInstall.createdDirFlag = 0;
    gInstall.abortFlag = 0;
    gInstall.backupDir[0] = '\0';
    gInstall.tempPath[0] = '\0';
    gInstall.destPath[0] = '\0';
    memset(gInstall.keptFile, 0, sizeof gInstall.keptFile);
    gInstall.stepRunning = 0;
    // The marker from its two pieces: the head formatted in (it serves as
    // its own format string), then the tail appended.
    wsprintfA(gInstall.marker, kMarkerHead);
    strcat(gInstall.marker, kMarkerTail);
}

void BuildDestinationPath(char* buffer, int fileIndex)
{
    const char* name = InstallFileName(fileIndex);
    size_t dirLength = strlen(gInstall.installDir);
    if (!name || dirLength + 1 + strlen(name) >= static_cast<size_t>(kPathSize)) {
        buffer[0] = '\0';
        return;
    }
    memcpy(buffer, gInstall.installDir, dirLength);
    buffer[dirLength] = '\\';
    strcpy(buffer + dirLength + 1, name);
}

int PathExists(const char* path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

void DeleteFileTwice(const char* path)
{
    if (!DeleteFileA(path))
        DeleteFileA(path);
}

void ShowInstallError(int number, const char* text)
{
    wsprintfA(gInstall.scratch, "Velk Installation Error [%d]", number);
    MessageBoxA(gInstall.wizard, text, gInstall.scratch, MB_ICONERROR | MB_OK);
}

int CreateInstallDirectory()
{
    // A folder too long for its derived paths is refused before anything
    // is created, like one that cannot be created.
    if (strlen(gInstall.installDir) > static_cast<size_t>(kMaxInstallDirLength)) {
        ShowInstallError(1, kCreateDirectoryText);
        return 2;
    }
    if (PathExists(gInstall.installDir))
        return 1;
    if (!CreateDirectoryA(gInstall.installDir, NULL)) {
        ShowInstallError(1, kCreateDirectoryText);
        return 2;
    }
    gInstall.createdDirFlag = 1;
    return 1;
}

void CleanUpInstallation()
{
    if (gInstall.tempStream) {
        fclose(gInstall.tempStream);
        gInstall.tempStream = NULL;
    }
    if (gInstall.installerStream) {
        fclose(gInstall.installerStream);
        gInstall.installerStream = NULL;
    }
    if (gInstall.tempPath[0])
        DeleteFileTwice(gInstall.tempPath);

    // This run's files, highest index first; files the policy kept in place
    // are not the run's to delete.
    while (gInstall.fileIndex > 0) {
        gInstall.fileIndex--;
        int kept = gInstall.keptFile[gInstall.fileIndex];
        gInstall.keptFile[gInstall.fileIndex] = 0;
        BuildDestinationPath(gInstall.scratch, gInstall.fileIndex);
        if (!kept && gInstall.scratch[0])
            DeleteFileTwice(gInstall.scratch);
    }
    if (gInstall.createdDirFlag) {
        RemoveDirectoryTwice(gInstall.installDir);
        gInstall.createdDirFlag = 0;
    }
}

int SplitPathParts(const char* path)
{
    gInstall.drivePart[0] = gInstall.dirPart[0] = gInstall.namePart[0] = gInstall.extPart[0] = '\0';
    const char* p = path;
    const char* driveEnd = p;
    if (p[0] && p[1] == ':')
        driveEnd = p + 2;
    const char* dirEnd = driveEnd;
    for (const char* q = driveEnd; *q; q++)
        if (*q == '\\' || *q == '/')
            dirEnd = q + 1;
    const char* end = dirEnd + strlen(dirEnd);
    const char* extBegin = end;
    for (const char* q = dirEnd; *q; q++)
        if (*q == '.')
            extBegin = q;
    if (CopyPart(gInstall.drivePart, kDrivePartSize, p, driveEnd) &&
        CopyPart(gInstall.dirPart, kDirPartSize, driveEnd, dirEnd) &&
        CopyPart(gInstall.namePart, kNamePartSize, dirEnd, extBegin) &&
        CopyPart(gInstall.extPart, kExtPartSize, extBegin, end))
        return 1;
    gInstall.drivePart[0] = gInstall.dirPart[0] = gInstall.namePart[0] = gInstall.extPart[0] = '\0';
    return 0;
}
