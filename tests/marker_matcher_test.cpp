#include "payload/marker_matcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Feeds `input` through one matcher and renders what came out: released
// content as itself, each recognised marker as '|', and a trailing "+N" for
// N marker bytes still pending at the end.
std::string Render(const std::string& input, MarkerMatcher* matcher)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    std::string out;
    for (unsigned char c : input) {
        int released = -1;
        switch (FeedMarkerMatcher(matcher, marker, c, &released)) {
        case MatchOutcome::Pending:
            break;
        case MatchOutcome::Marker:
            out += '|';
            break;
        case MatchOutcome::Data:
            out.append(marker, released);
            out += static_cast<char>(c);
            break;
        }
    }
    if (PendingMarkerBytes(matcher) > 0)
        out += "+" + std::to_string(PendingMarkerBytes(matcher));
    return out;
}

std::string Render(const std::string& input)
{
    MarkerMatcher matcher;
    ResetMarkerMatcher(&matcher);
    return Render(input, &matcher);
}

TEST(MarkerMatcher, AssemblesTheMarkerFromItsPieces)
{
    char marker[kMarkerBufferSize] = "xxxx";
    AssembleMarker(marker);
    EXPECT_STREQ("KWAZ", marker);
    EXPECT_STREQ("K", kMarkerHead);
    EXPECT_STREQ("WAZ", kMarkerTail);
}

TEST(MarkerMatcher, SplitsContentAndMarkers)
{
    struct Case {
        const char* input;
        const char* rendered;
    } cases[] = {
        {"KWAZ", "|"},
        {"abKWAZcd", "ab|cd"},
        {"KWAZKWAZ", "||"},
        // A byte that breaks a partial match releases the held bytes and
        // itself, and never starts a new match.
        {"KKWAZ", "KKWAZ"},
        {"KWKWAZ", "KWKWAZ"},
        {"KWAKWAZ", "KWAKWAZ"},
        {"KWAX", "KWAX"},
        {"KWAKWAZKWAZ", "KWAKWAZ|"},
        // Lower case and high bytes are plain content.
        {"kwaz\xcb\xd7", "kwaz\xcb\xd7"},
        // Pending bytes at the end of input are held, not released.
        {"abK", "ab+1"},
        {"abKW", "ab+2"},
        {"abKWA", "ab+3"},
        // A prefix ending in a line end, then the first marker.
        {"***\r\nKWAZ", "***\r\n|"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.rendered, Render(c.input)) << "input " << c.input;
}

TEST(MarkerMatcher, ReleasesTheHeldBytesInOrderWhenTheFourthBreaks)
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    MarkerMatcher matcher;
    ResetMarkerMatcher(&matcher);
    int released = -1;
    EXPECT_EQ(MatchOutcome::Pending, FeedMarkerMatcher(&matcher, marker, 'K', &released));
    EXPECT_EQ(MatchOutcome::Pending, FeedMarkerMatcher(&matcher, marker, 'W', &released));
    EXPECT_EQ(MatchOutcome::Pending, FeedMarkerMatcher(&matcher, marker, 'A', &released));
    EXPECT_EQ(3, matcher.position);
    EXPECT_EQ(-1, released);
    EXPECT_EQ(MatchOutcome::Data, FeedMarkerMatcher(&matcher, marker, 'K', &released));
    EXPECT_EQ(3, released);
    EXPECT_EQ(0, matcher.position);
}

TEST(MarkerMatcher, PositionSurvivesAcrossSeparateFeeds)
{
    // Every way of cutting "xKWAZy" into two reads gives the same result.
    const std::string input = "xKWAZyKKWAZ";
    for (size_t cut = 0; cut <= input.size(); cut++) {
        MarkerMatcher matcher;
        ResetMarkerMatcher(&matcher);
        std::string out = Render(input.substr(0, cut), &matcher);
        if (out.size() >= 2 && out[out.size() - 2] == '+')
            out.resize(out.size() - 2); // held, not released yet
        out += Render(input.substr(cut), &matcher);
        EXPECT_EQ("x|yKKWAZ", out) << "cut at " << cut;
    }
}

} // namespace
