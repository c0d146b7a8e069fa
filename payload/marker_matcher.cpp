#include "payload/marker_matcher.h"

#include <cstring>

const char kMarkerHead[] = "K";
const char kMarkerTail[] = "WAZ";

void AssembleMarker(char* buffer)
{
    strcpy(buffer, kMarkerHead);
    strcat(buffer, kMarkerTail);
}

void ResetMarkerMatcher(MarkerMatcher* matcher)
{
    matcher->position = 0;
}
