#include "payload/marker_matcher.h"

#include <cstdio>
#include <cstring>

const char kMarkerHead[] = "K";
const char kMarkerTail[] = "WAZ";

void AssembleMarker(char* buffer)
{
    snprintf(buffer, kMarkerBufferSize, "%s", kMarkerHead);
    strcat(buffer, kMarkerTail);
}

void ResetMarkerMatcher(MarkerMatcher* matcher)
{
    matcher->position = 0;
}
