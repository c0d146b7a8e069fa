// The segment marker and the byte-by-byte rule that finds it.
//
// The payload inside the installer image is a run of segments, each opened
// by the four-byte marker "KWAZ". The marker never stands whole anywhere in
// the image outside the payload: the image holds only its two pieces, "K"
// and "WAZ", and the marker is put together at run time: by the install
// state's reset in the installer, by AssembleMarker in the tools and tests.
//
// Matching rule, for match position p (marker bytes matched so far, 0..3):
//   - the byte equals marker[p]: p grows; at p == 4 the outcome is Marker
//     (the four bytes are consumed) and p returns to 0; otherwise Pending;
//   - any other byte: the outcome is Data; the first p marker bytes are
//     released as content, then the byte itself, and p returns to 0. The
//     breaking byte is not compared with marker[0] again, so it never starts
//     a new partial match (K K W A Z holds no marker).
// The rule ignores read boundaries: the position lives in the caller's
// MarkerMatcher and carries over from one read or time slice to the next.
#ifndef VELK_PAYLOAD_MARKER_MATCHER_H
#define VELK_PAYLOAD_MARKER_MATCHER_H

#include <cstdint>

// Marker buffer capacity: four characters and the terminating NUL.
const int kMarkerBufferSize = 5;
const int kMarkerLength = 4;

// The two pieces the marker is assembled from.
extern const char kMarkerHead[];
extern const char kMarkerTail[];

// Writes the marker followed by a NUL into `buffer` (kMarkerBufferSize
// bytes): the head, then the tail appended.
void AssembleMarker(char* buffer);

enum class MatchOutcome { Pending, Marker, Data };

struct MarkerMatcher {
    int32_t position; // 0 to 3 between bytes
};

void ResetMarkerMatcher(MarkerMatcher* matcher);

// Feeds one byte. On Data, *released receives the number of marker bytes
// (marker[0] .. marker[*released - 1]) that the caller must emit before the
// byte itself; on the other outcomes it is left alone.
inline MatchOutcome FeedMarkerMatcher(MarkerMatcher* matcher, const char* marker,
                                      uint8_t byte, int* released)
{
    int p = matcher->position;
    if (byte == static_cast<uint8_t>(marker[p])) {
        p++;
        if (marker[p] == '\0') {
            matcher->position = 0;
            return MatchOutcome::Marker;
        }
        matcher->position = p;
        return MatchOutcome::Pending;
    }
    *released = p;
    matcher->position = 0;
    return MatchOutcome::Data;
}

// The marker bytes a pending partial match holds: marker[0] .. marker[n-1].
inline int PendingMarkerBytes(const MarkerMatcher* matcher)
{
    return matcher->position;
}

#endif
