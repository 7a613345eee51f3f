// The keys' rules and the helper protocol, as plain values.
#include "SlideshowModel.h"
#include "SlideshowProtocol.h"

#include <gtest/gtest.h>

using namespace slideshow;

TEST(SlideshowModel, TargetOfEachKind)
{
    struct Case {
        int kind, current, count, gotoIndex, target;
    };
    const Case cases[] = {
        // previous: none on the first slide
        {KindPrevious, 1, 10, 7, 0}, {KindPrevious, 2, 10, 7, 1}, {KindPrevious, 10, 10, 7, 9},
        // next: none on the last slide
        {KindNext, 1, 10, 7, 2}, {KindNext, 9, 10, 7, 10}, {KindNext, 10, 10, 7, 0}, {KindNext, 1, 1, 7, 0},
        // two ahead while there is one; none on the one before last; the first from the last
        {KindNextNearest, 1, 10, 7, 3}, {KindNextNearest, 8, 10, 7, 10}, {KindNextNearest, 9, 10, 7, 0},
        {KindNextNearest, 10, 10, 7, 1}, {KindNextNearest, 1, 1, 7, 1},
        // a fixed slide, when the presentation has it
        {KindGoto, 1, 10, 7, 7}, {KindGoto, 1, 5, 7, 0}, {KindGoto, 3, 10, 0, 0}, {KindGoto, 3, 10, -4, 0},
        {KindSlideshow, 3, 10, 7, 0},
        // no slides at all
        {KindNextNearest, 0, 0, 7, 0}, {KindGoto, 0, 0, 1, 0},
    };
    for (const Case &c : cases)
        EXPECT_EQ(targetNumber(c.kind, c.current, c.count, c.gotoIndex), c.target)
            << "kind " << c.kind << " on " << c.current << " of " << c.count;
    EXPECT_EQ(clampKind(-3), 0);
    EXPECT_EQ(clampKind(9), 4);
}

TEST(SlideshowModel, ThumbnailKeepsTheSlidesProportions)
{
    EXPECT_EQ(thumbnailSize(28000, 15750), (ThumbnailSize{96, 54}));  // 16:9
    EXPECT_EQ(thumbnailSize(25400, 19050), (ThumbnailSize{96, 72}));  // 4:3
    EXPECT_EQ(thumbnailSize(10000, 20000), (ThumbnailSize{48, 96}));  // portrait
    EXPECT_EQ(thumbnailSize(15000, 15000), (ThumbnailSize{96, 96}));  // square
    EXPECT_EQ(thumbnailSize(100000, 10), (ThumbnailSize{96, 1}));     // never 0 high
    EXPECT_EQ(thumbnailSize(0, 15750), (ThumbnailSize{96, 72}));      // no size: 4:3
    EXPECT_EQ(thumbnailSize(28000, -1), (ThumbnailSize{96, 72}));
}

TEST(SlideshowProtocol, StateSurvivesTheWire)
{
    protocol::State state;
    state.stage = 3;
    state.count = 10;
    state.current = 4;
    state.width = 28000;
    state.height = 15750;
    state.document = 2;
    state.changes = 5;
    state.name = "Quarterly\treview\nfinal.odp";
    protocol::State read;
    ASSERT_TRUE(protocol::parseState(protocol::formatState(state), &read));
    state.name = "Quarterly review final.odp"; // control characters travel as spaces
    EXPECT_EQ(read, state);
}

TEST(SlideshowProtocol, MalformedAnswersAreRefused)
{
    const char *const answers[] = {
        "",
        "err no office",
        "ok\t3\t10\t1\t28000\t15750\t1\t0",            // a field short
        "ok\t3\t10\t1\t28000\t15750\t1\t0\tname\textra", // a field long
        "ok\t9\t10\t1\t28000\t15750\t1\t0\tname",       // no such stage
        "ok\t3\t10\t12\t28000\t15750\t1\t0\tname",      // current beyond the end
        "ok\t3\t-1\t0\t28000\t15750\t1\t0\tname",
        "ok\t3\t10\t1\t28e3\t15750\t1\t0\tname",
        "ok\t3\t10\t1\t99999999999999999999\t15750\t1\t0\tname",
        "ok\t3\t10\t1\t\t15750\t1\t0\tname",
    };
    for (const char *answer : answers) {
        protocol::State state;
        state.name = "untouched";
        EXPECT_FALSE(protocol::parseState(answer, &state)) << answer;
        EXPECT_EQ(state.name, "untouched");
    }
    long value = 0;
    EXPECT_FALSE(protocol::parseNumber("-", &value));
    EXPECT_FALSE(protocol::parseNumber(" 7", &value));
    EXPECT_TRUE(protocol::parseNumber("-7", &value));
    EXPECT_EQ(value, -7);
}
