// The checksum scan over the installer image: the CRC-32 of every byte the
// marker matcher releases as Data after the first marker, in file order,
// until a marker follows a marker directly (the final pair), the file ends,
// or a read fails. The image prefix, the markers, everything after the final
// pair and a partial marker still pending at the end are not covered.
#ifndef VELK_PAYLOAD_PAYLOAD_SCAN_H
#define VELK_PAYLOAD_PAYLOAD_SCAN_H

#include <cstdint>
#include <cstdio>

// Bytes per read of the scan.
const int kScanReadSize = 1024;

// Segments whose details a report keeps; later ones are only counted.
const int kReportedSegments = 32;

// What a scan saw, for the image builder's inspection and for tests.
struct PayloadScanReport {
    int segmentCount;                         // segments that received data
    long segmentOffset[kReportedSegments];    // file offset of each segment's first byte
    uint32_t segmentSize[kReportedSegments];  // bytes released into each segment
    uint8_t segmentHead[kReportedSegments][4]; // first four bytes (the length header)
    int firstMarkerFound;
    int finalPairFound;  // the scan ended at a marker directly after a marker
    int pendingAtEnd;    // marker bytes pending when the input ended
    int readError;
};

// Scans `stream` from its current position with the given marker. Returns
// the checksum, or 0 when the stream reported a read error. `report` may be
// null.
uint32_t ScanPayloadStream(FILE* stream, const char* marker, PayloadScanReport* report);

// Opens the file at `path` for binary reading, scans it from offset 0 and
// closes it. Returns 0 when the file cannot be opened or a read fails.
// `report` may be null; it tells, among others, the number of segments
// seen: a marker added inside a segment leaves the covered bytes, and so
// the checksum, as they were, but not this count.
uint32_t ScanPayloadFile(const char* path, const char* marker, PayloadScanReport* report);

#endif
