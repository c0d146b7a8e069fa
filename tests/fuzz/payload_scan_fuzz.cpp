// The checksum scan on arbitrary bytes, against a model written from the
// matching rule alone: the same covered bytes (so the same CRC-32, computed
// here by zlib), the same segments with their offsets, sizes and heads, the
// same first marker, final pair and pending bytes. The scan reads in blocks
// of 1024 bytes; the model goes byte by byte, so a marker split across two
// reads is checked as a matter of course.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>
#include <zlib.h>

#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tests/fuzz/fuzz_streams.h"

namespace {

struct ModelSegment {
    size_t offset;
    std::vector<uint8_t> bytes;
};

struct Model {
    std::vector<uint8_t> covered;
    std::vector<ModelSegment> segments;
    int firstMarker;
    int finalPair;
    int pending;
};

void RunModel(const uint8_t* data, size_t size, const char* marker, Model* model)
{
    enum { Before, AfterMarker, InSegment } state = Before;
    size_t length = strlen(marker);
    size_t matched = 0;
    *model = Model();
    for (size_t i = 0; i < size; i++) {
        if (data[i] == static_cast<uint8_t>(marker[matched])) {
            if (++matched < length)
                continue;
            matched = 0;
            if (state == Before) {
                state = AfterMarker;
                model->firstMarker = 1;
            } else if (state == AfterMarker) {
                model->finalPair = 1;
                return;
            } else {
                state = AfterMarker;
            }
            continue;
        }
        // Released: the held marker bytes, then this byte.
        size_t held = matched;
        matched = 0;
        if (state == Before)
            continue;
        if (state == AfterMarker) {
            state = InSegment;
            model->segments.push_back(ModelSegment{i - held, {}});
        }
        std::vector<uint8_t>& segment = model->segments.back().bytes;
        for (size_t k = 0; k < held; k++) {
            model->covered.push_back(static_cast<uint8_t>(marker[k]));
            segment.push_back(static_cast<uint8_t>(marker[k]));
        }
        model->covered.push_back(data[i]);
        segment.push_back(data[i]);
    }
    model->pending = static_cast<int>(matched);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    FILE* in = OpenMemoryInput(data, size);
    if (!in)
        abort();
    static PayloadScanReport report;
    uint32_t crc = ScanPayloadStream(in, marker, &report);
    fclose(in);

    static Model model;
    RunModel(data, size, marker, &model);
    uint32_t expected = crc32(0L, model.covered.data(), model.covered.size());
    if (crc != expected || report.readError)
        abort();
    if (report.firstMarkerFound != model.firstMarker || report.finalPairFound != model.finalPair ||
        report.pendingAtEnd != model.pending)
        abort();
    if (report.segmentCount != static_cast<int>(model.segments.size()))
        abort();
    for (int k = 0; k < report.segmentCount && k < kReportedSegments; k++) {
        const ModelSegment& segment = model.segments[k];
        if (report.segmentOffset[k] != static_cast<long>(segment.offset) ||
            report.segmentSize[k] != segment.bytes.size())
            abort();
        size_t head = segment.bytes.size() < 4 ? segment.bytes.size() : 4;
        if (memcmp(report.segmentHead[k], segment.bytes.data(), head) != 0)
            abort();
    }
    return 0;
}
