#include "install/extraction.h"

#include <cstring>

#include "install/file_policy.h"
#include "install/install_state.h"
#include "payload/lzhuf_decoder.h"
#include "ui/progress_display.h"

namespace {

const char kTempName[] = "velk.tmp";
const char kFallbackTempPath[] = "c:\\velk.tmp";

const char kExtractProblemText[] =
    "There seems to be a problem extracting files from the installation file.\n\n"
    "Please try running the installation program again!";

// A step reads its slice of the image in one block, and the bytes it
// releases into the open segment go to the temporary file in blocks too,
// so that a slice costs no stream call per byte. What the streams see is
// what byte-by-byte reading and writing would give them: the image stream
// stands after the last byte the step took whenever its position is used
// (the overall bar), and every collected byte reaches the temporary file
// before that file is closed and before the step returns.
uint8_t g_slice[kSliceLimit + 1];

struct TempBytes {
    uint8_t bytes[4096];
    int count;
};
TempBytes g_tempBytes;

void FlushTempBytes()
{
    if (g_tempBytes.count > 0 && gInstall.tempStream)
        fwrite(g_tempBytes.bytes, 1, g_tempBytes.count, gInstall.tempStream);
    g_tempBytes.count = 0;
}

// Write errors are not looked at here: they stay in the stream's error
// indicator, which the close of the segment examines.
void PutTempByte(uint8_t byte)
{
    if (g_tempBytes.count == static_cast<int>(sizeof g_tempBytes.bytes))
        FlushTempBytes();
    g_tempBytes.bytes[g_tempBytes.count++] = byte;
}

// Flushes and closes the temporary stream; 0 when any write into it failed
// (a full disk shows at the flush or the close, not at each write).
int CloseTempStream()
{
    FlushTempBytes();
    FILE* stream = gInstall.tempStream;
    gInstall.tempStream = NULL;
    int ok = fflush(stream) == 0 && !ferror(stream);
    if (fclose(stream) != 0)
        ok = 0;
    return ok;
}

void CloseInstallerStream()
{
    if (gInstall.installerStream) {
        fclose(gInstall.installerStream);
        gInstall.installerStream = NULL;
    }
}

// The temporary file could not be created or written: message [11]; the
// wizard cleans up.
int AbortExtraction()
{
    ShowInstallError(11, kExtractProblemText);
    CloseInstallerStream();
    return Abort;
}

// Closes the collected segment and installs it; the temporary file is
// deleted afterwards. Returns InstallExtractedFile's result, or Abort after
// message [11] when the segment could not be written completely.
int FinishSegment()
{
    if (!CloseTempStream()) {
        DeleteFileTwice(gInstall.tempPath);
        return AbortExtraction();
    }
    int result = InstallExtractedFile(gInstall.tempPath);
    DeleteFileTwice(gInstall.tempPath);
    return result;
}

int OpenSegment()
{
    UpdateStatusText();
    BuildTempPath(gInstall.tempPath);
    gInstall.tempStream = fopen(gInstall.tempPath, "wb");
    if (!gInstall.tempStream)
        return AbortExtraction();
    ResetMarkerMatcher(&gInstall.matcher);
    return MoreWork;
}

void WriteHeldMarkerBytes(int count)
{
    for (int k = 0; k < count; k++)
        PutTempByte(static_cast<uint8_t>(gInstall.marker[k]));
}

// End of the image, or the tenth file installed. `unread` bytes of the
// slice were read ahead and not taken: the stream is put back before them.
int EndScan(size_t unread)
{
    if (unread > 0)
        fseek(gInstall.installerStream, -static_cast<long>(unread), SEEK_CUR);
    DrawOverallProgress(NULL, gInstall.installerStream);
    CloseInstallerStream();
    if (!gInstall.tempStream)
        return Finished;
    // The image ended inside a segment: the pending marker bytes belong to it.
    WriteHeldMarkerBytes(PendingMarkerBytes(&gInstall.matcher));
    ResetMarkerMatcher(&gInstall.matcher);
    int result = FinishSegment();
    return result == 1 ? Finished : result;
}

// The slice: at most the bytes that take the slice count past its limit.
// The count is 0 when a step starts (a step that ends the slice resets it).
int RunStep()
{
    size_t want = gInstall.sliceByteCount < kSliceLimit
                      ? static_cast<size_t>(kSliceLimit + 1 - gInstall.sliceByteCount)
                      : 1;
    size_t got = fread(g_slice, 1, want, gInstall.installerStream);
    // Every byte of a full slice is taken: the limit is reached on its last.
    for (size_t i = 0;; i++) {
        if (i == got)
            return EndScan(0); // the end of the image, or a read error
        const uint8_t c = g_slice[i];

        int released = 0;
        switch (FeedMarkerMatcher(&gInstall.matcher, gInstall.marker, c, &released)) {
        case MatchOutcome::Pending:
            break;
        case MatchOutcome::Data:
            if (gInstall.tempStream) {
                WriteHeldMarkerBytes(released);
                PutTempByte(c);
            }
            break;
        case MatchOutcome::Marker:
            if (gInstall.tempStream) {
                int result = FinishSegment();
                if (result != 1) {
                    CloseInstallerStream();
                    return result;
                }
                if (gInstall.fileIndex >= kInstallFileCount)
                    return EndScan(got - i - 1);
            }
            if (OpenSegment() != MoreWork)
                return Abort;
            break;
        }

        if (++gInstall.sliceByteCount > kSliceLimit) {
            DrawOverallProgress(NULL, gInstall.installerStream);
            gInstall.sliceByteCount = 0;
            return MoreWork;
        }
    }
}

} // namespace

void BuildTempPath(char* buffer)
{
    DWORD length = GetTempPathA(kPathSize, buffer);
    if (length == 0 || length + sizeof kTempName > static_cast<DWORD>(kPathSize)) {
        strcpy(buffer, kFallbackTempPath);
        return;
    }
    strcat(buffer, kTempName);
}

int ExtractStep()
{
    // A message box inside a step pumps messages, and a pending step timer
    // could then start a step inside the step; neither that nor a step
    // after the run has ended may touch the state.
    if (!gInstall.installerStream || gInstall.stepRunning)
        return NoStep;
    gInstall.stepRunning = 1;
    g_tempBytes.count = 0;
    int result = RunStep();
    // The open segment's bytes so far are in its file before the wizard
    // pauses (a confirmed abort closes the file between steps).
    FlushTempBytes();
    gInstall.stepRunning = 0;
    return result;
}

int InstallExtractedFile(const char* tempPath)
{
    wsprintfA(gInstall.scratch, "Extracting file: %s%s", gInstall.namePart, gInstall.extPart);
    SetDlgItemTextA(gInstall.wizard, kStatusControl, gInstall.scratch);

    BuildDestinationPath(gInstall.destPath, gInstall.fileIndex);
    if (!gInstall.destPath[0])
        return Abort;

    int policy = ApplyExistingFilePolicy(gInstall.destPath);
    if (policy == Skip) {
        gInstall.keptFile[gInstall.fileIndex] = 1;
        gInstall.fileIndex++;
        return 1;
    }
    if (policy != Install)
        return Failed;

    if (!DecodeToDestination(tempPath, gInstall.destPath))
        return Abort;

    if (gInstall.fileIndex == 1 || gInstall.fileIndex == 2) {
        // A help index left from an earlier installation would not match the
        // new help file; the help viewer rebuilds it.
        SplitPathParts(gInstall.destPath);
        wsprintfA(gInstall.scratch, gInstall.fileIndex == 1 ? "%s%svelk.gid" : "%s%sircintro.gid",
                  gInstall.drivePart, gInstall.dirPart);
        if (SetFileAttributesA(gInstall.scratch,
                               GetFileAttributesA(gInstall.scratch) & ~FILE_ATTRIBUTE_READONLY))
            DeleteFileA(gInstall.scratch);
    }
    gInstall.fileIndex++;
    return 1;
}

int DecodeToDestination(const char* source, const char* destination)
{
    FILE* in = fopen(source, "rb");
    if (!in) {
        CleanUpInstallation();
        ShowInstallError(3, kReadProblemText);
        return 0;
    }
    FILE* out = fopen(destination, "wb");
    if (!out) {
        fclose(in);
        CleanUpInstallation();
        ShowInstallError(4, kCopyProblemText);
        return 0;
    }
    int ok = DecodeSegment(in, out);
    // Some write failures (a full disk) show only when the buffered bytes
    // reach the file: flush and check before the close, and check the close.
    if (fflush(out) != 0 || ferror(out))
        ok = 0;
    if (fclose(out) != 0)
        ok = 0;
    fclose(in);
    if (ok)
        return 1;
    // The partly written file is this run's too; it is not left behind.
    DeleteFileTwice(destination);
    CleanUpInstallation();
    ShowInstallError(5, kCopyProblemText);
    return 0;
}
