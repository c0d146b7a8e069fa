#include "install/payload_check.h"

#include <cstdio>
#include <cstring>

#include "install/install_state.h"
#include "install/installer_image_path.h"
#include "payload/payload_scan.h"
#include "ui/progress_display.h"

namespace {

const char kCorruptText[] =
    "The installation file seems to be corrupt!\n\n"
    "Please try running the installation program again or download a new version!";

} // namespace

uint32_t ScanPayloadCrc(const char* path, const char* marker, int* segments)
{
    if (segments)
        *segments = 0;
    FILE* stream = fopen(path, "rb");
    if (!stream)
        return 0;
    HCURSOR previous = SetCursor(LoadCursorA(NULL, IDC_WAIT));
    PayloadScanReport report;
    uint32_t crc = ScanPayloadStream(stream, marker, &report);
    if (segments)
        *segments = report.segmentCount;
    SetCursor(previous);
    fclose(stream);
    return crc;
}

bool CheckPayload()
{
    GetInstallerImagePath(gInstall.installerPath);

    int segments = 0;
    uint32_t crc = ScanPayloadCrc(gInstall.installerPath, gInstall.marker, &segments);
    if (crc == 0) {
        ShowInstallError(2, kReadProblemText);
        return false;
    }
    // The checksum does not cover the markers: an image with a marker added
    // inside a segment has the right checksum but would install every later
    // file from the wrong segment. A sound image has exactly ten segments.
    if (crc != ExpectedPayloadCrc || segments != kInstallFileCount) {
        ShowInstallError(10, kCorruptText);
        return false;
    }
    gInstall.installerStream = fopen(gInstall.installerPath, "rb");
    if (!gInstall.installerStream) {
        ShowInstallError(9, kReadProblemText);
        return false;
    }
    SetDlgItemTextA(gInstall.wizard, kStatusControl, "Scanning files...");
    DrawOverallProgress(NULL, gInstall.installerStream);
    return true;
}
