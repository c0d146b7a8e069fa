#include "tools/inspect.h"

#include "payload/install_file_table.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tools/file_io.h"

int InspectContainer(FILE* stream, FILE* listing, std::string* problem)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    static PayloadScanReport report;
    uint32_t crc = ScanPayloadStream(stream, marker, &report);
    if (report.readError) {
        *problem = "read error";
        return ToolIoError;
    }

    fprintf(listing, "%-5s %-14s %10s %11s\n", "index", "file", "compressed", "declared");
    int listed = report.segmentCount < kReportedSegments ? report.segmentCount : kReportedSegments;
    for (int k = 0; k < listed; k++) {
        const char* name = InstallFileName(k);
        const uint8_t* h = report.segmentHead[k];
        if (report.segmentSize[k] >= 4)
            fprintf(listing, "%-5d %-14s %10u %11u\n", k, name ? name : "(no file)",
                    report.segmentSize[k],
                    h[0] | h[1] << 8 | h[2] << 16 | static_cast<uint32_t>(h[3]) << 24);
        else
            fprintf(listing, "%-5d %-14s %10u %11s\n", k, name ? name : "(no file)",
                    report.segmentSize[k], "(short)");
    }
    if (report.segmentCount > listed)
        fprintf(listing, "... %d more segments\n", report.segmentCount - listed);
    fprintf(listing, "CRC-32 of the covered bytes: 0x%08X\n", crc);
    fprintf(listing, "final pair of markers: %s\n", report.finalPairFound ? "found" : "not found");

    problem->clear();
    if (!report.firstMarkerFound)
        *problem = "no segment marker found";
    else if (!report.finalPairFound)
        *problem = "the final pair of markers is missing";
    else if (report.segmentCount != kInstallFileCount)
        *problem = std::to_string(report.segmentCount) + " segments instead of " +
                   std::to_string(kInstallFileCount);
    for (int k = 0; problem->empty() && k < kInstallFileCount; k++)
        if (report.segmentSize[k] < 4)
            *problem = "segment " + std::to_string(k) + " is shorter than its length header";
    return problem->empty() ? ToolOk : ToolMalformed;
}
