// velkpack inspect's container reader on arbitrary bytes: it lists what the
// scan saw and judges the container; it must end without a fault, and call
// a container well formed exactly when it has ten segments, each holding at
// least its length header, and the final pair.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tests/fuzz/fuzz_streams.h"
#include "tools/file_io.h"
#include "tools/inspect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FILE* in = OpenMemoryInput(data, size);
    static BoundedSink sink;
    FILE* listing = OpenSink(&sink, 1 << 16);
    if (!in || !listing)
        abort();
    std::string problem;
    int status = InspectContainer(in, listing, &problem);
    fclose(in);
    fclose(listing);
    if (status != ToolOk && status != ToolMalformed)
        abort(); // memory never reports a read error
    if ((status == ToolMalformed) != !problem.empty())
        abort();

    // The judgement, from the scan's own report.
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    in = OpenMemoryInput(data, size);
    static PayloadScanReport report;
    ScanPayloadStream(in, marker, &report);
    fclose(in);
    int wellFormed = report.finalPairFound && report.segmentCount == 10;
    for (int k = 0; wellFormed && k < 10; k++)
        wellFormed = report.segmentSize[k] >= 4;
    if (wellFormed != (status == ToolOk))
        abort();
    return 0;
}
