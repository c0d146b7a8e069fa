// velkpack inspect's reading of a container: the checksum scan over a
// payload or a built installer, its segments listed, and the judgement
// whether it is a well-formed container of ten segments.
#ifndef VELK_TOOLS_INSPECT_H
#define VELK_TOOLS_INSPECT_H

#include <cstdio>
#include <string>

// Scans `stream` from its position, prints the segment table, the CRC-32
// and the final pair to `listing`. ToolOk for a well-formed container;
// ToolMalformed with `problem` saying why; ToolIoError on a read error.
int InspectContainer(FILE* stream, FILE* listing, std::string* problem);

#endif
