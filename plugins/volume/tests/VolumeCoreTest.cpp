// The parts of the Volume plug-in that need no sound system: the bar's exact pixels, the unit
// conversions, the kinds, and the answers a key gives without an output.
#include "VolumePlugin.h"
#include "VolumeScale.h"
#include "VolumeTestSupport.h"

namespace volume {
namespace {

using test::barOf;
using test::Face;

// Segment i spans x 17+6i .. 21+6i and rows 80..86; a muted segment's inside is x 18+6i .. 20+6i,
// rows 81..85. Everything around the bar is left as it was.
TEST(VolumeBar, PixelGeometry)
{
    for (bool muted : {false, true}) {
        Face face;
        face.fill(0x11);
        drawVolumeBar(face.surface, 3 * 6553, muted);
        const std::uint32_t lit = muted ? 0x8C8C8C : 0xFFFFFF;
        for (int y = 78; y < 89; ++y) {
            for (int x = 10; x < 85; ++x) {
                const int segment = (x - 17) / 6;
                const int inSegment = (x - 17) % 6;
                std::uint32_t expected = 0x111111;
                if (y >= 80 && y < 87 && x >= 17 && inSegment < 5 && segment < 10) {
                    expected = segment < 3 ? lit : 0x5A5A5A;
                    if (muted && y >= 81 && y < 86 && inSegment >= 1 && inSegment < 4)
                        expected = 0x5A5A5A;
                }
                ASSERT_EQ(face.rgb(x, y), expected) << "x " << x << " y " << y << (muted ? " muted" : "");
            }
        }
    }
}

TEST(VolumeBar, LitSegmentsAreWholeTenths)
{
    struct Case {
        unsigned level;
        bool muted;
        const char *bar;
    };
    const Case cases[] = {
        {65535, false, "##########"}, {6553, false, "#........."}, {6552, false, ".........."},
        {0, false, ".........."},     {58977, false, "#########."}, {58976, false, "########.."},
        {65535, true, "oooooooooo"},  {6553, true, "o........."},  {6552, true, ".........."},
        // A level beyond the range from a confused back end still draws ten segments, no more.
        {200000, false, "##########"},
    };
    for (const Case &c : cases) {
        Face face;
        drawVolumeBar(face.surface, c.level, c.muted);
        EXPECT_EQ(barOf(face), c.bar) << c.level << (c.muted ? " muted" : "");
    }
}

TEST(VolumeBar, ClipsToASmallerSurface)
{
    Face face;
    face.fill(0x22);
    PkxSurface small{face.bits.data(), 40, 82, PKX_FACE_STRIDE};
    drawVolumeBar(small, 65535, false);
    EXPECT_EQ(face.rgb(39, 81), 0xFFFFFFu);
    EXPECT_EQ(face.rgb(40, 81), 0x222222u);
    EXPECT_EQ(face.rgb(20, 82), 0x222222u);
}

// Every level survives the trip to the server and back, so a press of Up followed by Down comes
// back to where it started and a level of a whole tenth keeps its segment lit.
TEST(VolumeScale, RoundTrips)
{
    for (std::uint32_t level = 0; level <= kLevelFull; ++level)
        ASSERT_EQ(levelFromPulse(pulseFromLevel(level)), level);
    EXPECT_EQ(pulseFromLevel(kLevelFull), kPulseNorm);
    EXPECT_EQ(pulseFromLevel(1000000), kPulseNorm);
    EXPECT_EQ(levelFromPulse(3 * kPulseNorm / 2), kLevelFull); // amplified: full

    EXPECT_EQ(levelFromRange(-20, -20, 40), 0u);
    EXPECT_EQ(levelFromRange(40, -20, 40), kLevelFull);
    EXPECT_EQ(levelFromRange(99, -20, 40), kLevelFull);
    EXPECT_EQ(levelFromRange(5, 7, 7), 0u);
    EXPECT_EQ(rangeFromLevel(kLevelFull, -20, 40), 40);
    EXPECT_EQ(rangeFromLevel(0, -20, 40), -20);
    for (long value = 0; value <= 87; ++value)
        ASSERT_EQ(rangeFromLevel(levelFromRange(value, 0, 87), 0, 87), value);
}

TEST(VolumeKinds, ClampedToTheFourKinds)
{
    EXPECT_EQ(VolumePlugin::kindFor(-1), VolumePlugin::Describing);
    EXPECT_EQ(VolumePlugin::kindFor(-100000), VolumePlugin::Describing);
    EXPECT_EQ(VolumePlugin::kindFor(2), VolumePlugin::Down);
    EXPECT_EQ(VolumePlugin::kindFor(7), VolumePlugin::Mute);
}

// Without a back end (or one that never attached) a key shows its picture over an empty bar once,
// and pressing it does nothing.
TEST(VolumeKeys, WithoutAMixer)
{
    VolumePlugin key(1, nullptr);
    Face face;
    face.fill(0x33);
    EXPECT_EQ(key.Paint(face.surface), 0); // nothing changed since creation
    key.OnEvent(PKX_EVENT_ACTIVATE);
    EXPECT_EQ(key.Paint(face.surface), 1);
    EXPECT_EQ(barOf(face), "..........");
    EXPECT_EQ(face.rgb(0, 95), 0u);   // the face covers the whole key
    key.OnKeyDown();
    EXPECT_EQ(key.Paint(face.surface), 0);
    key.OnEvent(PKX_EVENT_DEACTIVATE);
}

} // namespace
} // namespace volume
