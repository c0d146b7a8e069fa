// The install state: the one process-wide record of an installation run.
//
// A run starts when the user presses Install (the wizard copies the folder
// and the options in, then calls ResetInstallState) and ends when a step
// reports something other than MoreWork, when a failure sends the wizard
// back to the options page, or when the user confirms an abort.
//
// Invariants:
//   - installerStream is open exactly while a run is extracting: from a
//     passed CheckPayload until the step that ends the run or the clean-up.
//   - tempStream is open from the first marker on, except between the end of
//     one segment and the start of the next.
//   - fileIndex is the index of the segment being collected and equals the
//     number of files dealt with so far (0 to 10).
//   - keptFile[k] is 1 exactly for the indices below fileIndex whose file
//     the existing-file policy kept in place; the clean-up never deletes
//     those files.
//   - matcher.position is 0 to 3 between bytes and survives between steps.
#ifndef VELK_INSTALL_INSTALL_STATE_H
#define VELK_INSTALL_INSTALL_STATE_H

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "payload/install_file_table.h"
#include "payload/marker_matcher.h"

// Buffer capacities, the terminating NUL included.
const int kPathSize = 300;      // install directory and every path derived from it
const int kLongTextSize = 900;  // installer path, scratch text, formatted commands
const int kDrivePartSize = 3;
const int kNamePartSize = 256;
const int kExtPartSize = 256;
// The directory part holds the directory of any path formed in a 300-character
// buffer, so that splitting never truncates it.
const int kDirPartSize = kPathSize;

// Longest install directory whose derived paths all fit: one backslash and
// twelve characters of file name ("ircintro.hlp") within 299 characters.
const int kMaxInstallDirLength = 286;

enum StepResult {
    Abort = 0,    // a failure ends the installation; its message has been shown
    Finished = 1, // the tenth file is installed, or the image ended
    Failed = 2,   // the existing-file policy failed; the user may pick another folder
    MoreWork = 3, // the slice is used up
    NoStep = 4,   // no step ran: no installation is extracting, or a step is already running
};

enum FilePolicyResult {
    Install = 1,
    Error = 2, // passes through unchanged as the StepResult Failed
    Skip = 3,
};

enum SettingsDecision {
    Undecided = 0,
    Keep = 1,
    Overwrite = 2,
};

struct InstallState {
    char installDir[kPathSize];
    int backupFlag;
    int keepSettingsFlag;
    int shortcutsFlag;
    HWND wizard;
    char installerPath[kLongTextSize];
    FILE* installerStream;
    FILE* tempStream;
    char tempPath[kPathSize];
    char marker[kMarkerBufferSize];
    MarkerMatcher matcher;
    int32_t sliceByteCount;
    int32_t fileIndex;
    int createdDirFlag;
    int abortFlag;
    int32_t settingsDecision;
    char backupDir[kPathSize];
    char destPath[kPathSize];
    int32_t installerFileLength;
    int32_t overallFill;
    char scratch[kLongTextSize];
    char drivePart[kDrivePartSize];
    char dirPart[kDirPartSize];
    char namePart[kNamePartSize];
    char extPart[kExtPartSize];
    uint8_t keptFile[kInstallFileCount];
    int stepRunning; // an ExtractStep is under way (message boxes pump messages)
};

extern InstallState gInstall;

// Puts the run fields into their reset values and assembles the marker.
// Streams must already be closed.
void ResetInstallState();

// Writes the destination path of `fileIndex` into `buffer` (kPathSize
// characters), or the empty text when the index has no row or the path
// would not fit.
void BuildDestinationPath(char* buffer, int fileIndex);

// 1 when the install directory exists afterwards, 2 after message [1].
int CreateInstallDirectory();

// Undoes the run as far as it has come; safe to call repeatedly.
void CleanUpInstallation();

// Splits `path` into the path parts of the install state: drive with its
// colon, directory with leading and trailing backslash, name, extension
// with its dot. Returns 0, leaving all parts empty, when a part would not
// fit its buffer.
int SplitPathParts(const char* path);

// A modal error box owned by the wizard: caption "Velk Installation Error [n]".
void ShowInstallError(int number, const char* text);

// Message texts shared by several failures.
extern const char kReadProblemText[];
extern const char kCopyProblemText[];

// Deletes a file, trying once more when the first attempt fails; the
// outcome is not reported.
void DeleteFileTwice(const char* path);

// 1 when a file system object of that name exists (its attributes can be read).
int PathExists(const char* path);

#endif
