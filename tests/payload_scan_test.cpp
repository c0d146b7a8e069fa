#include "payload/payload_scan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "payload/crc32.h"
#include "payload/marker_matcher.h"

namespace {

const std::string M = "KWAZ";

uint32_t CrcOf(const std::string& bytes)
{
    return Crc32(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// Writes `bytes` to a file in the working folder and scans it.
uint32_t ScanBytes(const std::string& bytes, PayloadScanReport* report = NULL)
{
    const char* path = "scan_test.bin";
    FILE* f = fopen(path, "wb");
    EXPECT_TRUE(f != NULL);
    fwrite(bytes.data(), 1, bytes.size(), f);
    fclose(f);
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    uint32_t crc = ScanPayloadFile(path, marker, NULL);
    if (report) {
        f = fopen(path, "rb");
        EXPECT_EQ(crc, ScanPayloadStream(f, marker, report));
        fclose(f);
    }
    remove(path);
    return crc;
}

// A container of `count` segments with the final pair and the line end.
std::string Container(const std::string segments[], int count)
{
    std::string out;
    for (int k = 0; k < count; k++)
        out += M + segments[k];
    return out + M + M + "\r\n";
}

TEST(Crc32, MatchesTheStandardCheckValueAndTable)
{
    EXPECT_EQ(0xCBF43926u, CrcOf("123456789"));
    EXPECT_EQ(0u, CrcOf(""));
    EXPECT_EQ(0x77073096u, kCrc32Table[1]);
    EXPECT_EQ(0xEDB88320u, kCrc32Table[128]);
    EXPECT_EQ(0x2D02EF8Du, kCrc32Table[255]);
    // Folding in pieces gives the same value as one pass.
    const std::string text = "The quick brown fox jumps over the lazy dog";
    uint32_t reg = Crc32Update(kCrc32Initial, reinterpret_cast<const uint8_t*>(text.data()), 10);
    reg = Crc32Update(reg, reinterpret_cast<const uint8_t*>(text.data()) + 10, text.size() - 10);
    EXPECT_EQ(0x414FA339u, ~reg);
}

TEST(PayloadScan, CoversExactlyTheSegmentBytes)
{
    // Segments hold bytes that start and break partial matches; the prefix
    // ends in a line end like the licence text does; junk follows the pair.
    const std::string segments[] = {std::string("\x05\0\0\0abc", 7), "KWAx", "KW-KWA.KKWAZ"};
    std::string image = std::string("MZ header\r\n***\r\n") +
                        Container(segments, 3) + "KWAZ more resources KWAZ";
    PayloadScanReport report;
    uint32_t crc = ScanBytes(image, &report);
    EXPECT_EQ(CrcOf(segments[0] + segments[1] + segments[2]), crc);
    // "KKWAZ" in the third segment holds no marker.
    EXPECT_EQ(3, report.segmentCount);
    EXPECT_EQ(1, report.finalPairFound);
    EXPECT_EQ(7u, report.segmentSize[0]);
    EXPECT_EQ(4u, report.segmentSize[1]);
    EXPECT_EQ(12u, report.segmentSize[2]);
    EXPECT_EQ(static_cast<long>(image.find(segments[0])), report.segmentOffset[0]);
    EXPECT_EQ(5, report.segmentHead[0][0]);
}

TEST(PayloadScan, EndsAtTheFirstPairOfMarkers)
{
    // Bytes after two adjacent markers are never covered, even segments.
    const std::string image = "pre" + M + "one" + M + M + "two" + M + "three" + M + M;
    PayloadScanReport report;
    EXPECT_EQ(CrcOf("one"), ScanBytes(image, &report));
    EXPECT_EQ(1, report.segmentCount);
}

TEST(PayloadScan, WithoutTheFinalPairCoversEverythingAfterTheFirstMarker)
{
    PayloadScanReport report;
    // The pending "KW" at the very end is left out.
    EXPECT_EQ(CrcOf("abcdefKWx"), ScanBytes("pre" + M + "abc" + M + "def" + "KWx" + "KW", &report));
    EXPECT_EQ(0, report.finalPairFound);
    EXPECT_EQ(2, report.pendingAtEnd);
    EXPECT_EQ(2, report.segmentCount);
}

TEST(PayloadScan, FindsMarkersAcrossReadBoundaries)
{
    // Put a marker at every offset around the end of the first 1024-byte
    // read: the one that straddles it must be recognised like the others.
    for (int at = 1018; at <= 1026; at++) {
        std::string image(at, 'p');
        image += M + std::string(1500, 's') + M + M;
        EXPECT_EQ(CrcOf(std::string(1500, 's')), ScanBytes(image)) << "marker at " << at;
    }
    // A segment byte run that breaks a partial match across the boundary.
    std::string image = M + std::string(1024 - 4 - 2, 's') + "KW" + "Kx" + M + M;
    EXPECT_EQ(CrcOf(std::string(1018, 's') + "KWKx"), ScanBytes(image));
}

TEST(PayloadScan, FailuresReadAsZero)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    // No marker at all: the initial register complemented.
    EXPECT_EQ(0u, ScanBytes("no marker in this image, only K and KW and KWA"));
    // A file that cannot be opened.
    EXPECT_EQ(0u, ScanPayloadFile("no-such-file.bin", marker, NULL));
    // A folder opens on some systems but its reads fail.
    EXPECT_EQ(0u, ScanPayloadFile(".", marker, NULL));
}

} // namespace
