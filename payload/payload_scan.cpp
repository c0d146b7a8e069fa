#include "payload/payload_scan.h"

#include <cstring>

#include "payload/crc32.h"
#include "payload/marker_matcher.h"

namespace {

// Scan states. BeforePayload: no marker seen yet, bytes are discarded.
// AfterMarker: a marker was just seen and no byte has been released since;
// a second marker now ends the scan. InSegment: bytes go into the checksum.
enum ScanState { BeforePayload, AfterMarker, InSegment, Done };

void NoteSegmentByte(PayloadScanReport* report, uint8_t byte)
{
    int k = report->segmentCount - 1;
    if (k >= kReportedSegments)
        return;
    if (report->segmentSize[k] < 4)
        report->segmentHead[k][report->segmentSize[k]] = byte;
    report->segmentSize[k]++;
}

void OpenReportedSegment(PayloadScanReport* report, long offset)
{
    int k = report->segmentCount++;
    if (k < kReportedSegments) {
        report->segmentOffset[k] = offset;
        report->segmentSize[k] = 0;
    }
}

} // namespace

uint32_t ScanPayloadStream(FILE* stream, const char* marker, PayloadScanReport* report)
{
    uint8_t buffer[kScanReadSize];
    uint32_t reg = kCrc32Initial;
    MarkerMatcher matcher;
    ResetMarkerMatcher(&matcher);
    ScanState state = BeforePayload;
    long offset = ftell(stream);

    if (report)
        memset(report, 0, sizeof *report);

    while (state != Done) {
        size_t got = fread(buffer, 1, kScanReadSize, stream);
        if (got == 0)
            break;
        for (size_t i = 0; i < got && state != Done; i++, offset++) {
            int released = 0;
            switch (FeedMarkerMatcher(&matcher, marker, buffer[i], &released)) {
            case MatchOutcome::Pending:
                break;
            case MatchOutcome::Marker:
                if (state == BeforePayload) {
                    state = AfterMarker;
                    if (report)
                        report->firstMarkerFound = 1;
                } else if (state == AfterMarker) {
                    state = Done;
                    if (report)
                        report->finalPairFound = 1;
                } else {
                    state = AfterMarker;
                }
                break;
            case MatchOutcome::Data:
                if (state == BeforePayload)
                    break;
                if (state == AfterMarker) {
                    state = InSegment;
                    if (report)
                        OpenReportedSegment(report, offset - released);
                }
                for (int k = 0; k < released; k++) {
                    reg = Crc32Step(reg, static_cast<uint8_t>(marker[k]));
                    if (report)
                        NoteSegmentByte(report, static_cast<uint8_t>(marker[k]));
                }
                reg = Crc32Step(reg, buffer[i]);
                if (report)
                    NoteSegmentByte(report, buffer[i]);
                break;
            }
        }
    }
    if (report)
        report->pendingAtEnd = state == Done ? 0 : PendingMarkerBytes(&matcher);

    if (ferror(stream)) {
        if (report)
            report->readError = 1;
        return 0;
    }
    return ~reg;
}

uint32_t ScanPayloadFile(const char* path, const char* marker, PayloadScanReport* report)
{
    if (report)
        memset(report, 0, sizeof *report);
    FILE* stream = fopen(path, "rb");
    if (!stream)
        return 0;
    uint32_t crc = ScanPayloadStream(stream, marker, report);
    fclose(stream);
    return crc;
}
