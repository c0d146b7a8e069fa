#include "payload/marker_matcher.h"

#include <cstring>
#ifdef _WIN32
#include <windows.h>
#else
#include <cstdio>
#endif

const char kMarkerHead[] = "K";
const char kMarkerTail[] = "WAZ";

void AssembleMarker(char* buffer)
{
#ifdef _WIN32
    wsprintfA(buffer, kMarkerHead);
#else
    snprintf(buffer, kMarkerBufferSize, "%s", kMarkerHead);
#endif
    strcat(buffer, kMarkerTail);
}

void ResetMarkerMatcher(MarkerMatcher* matcher)
{
    matcher->position = 0;
}
