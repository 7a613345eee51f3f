// Orientation: which key shows a slot, and how a face is turned for it.
#include "FrameTransform.h"

#include <gtest/gtest.h>

#include <vector>

namespace pixkey {
namespace {

TEST(FrameTransform, slotToKeyBothWays)
{
    const int expected[4][3] = {{1, 2, 3}, {3, 2, 1}, {1, 2, 3}, {3, 2, 1}};
    for (int o = 0; o < 4; ++o) {
        for (int slot = 0; slot < 3; ++slot) {
            EXPECT_EQ(deviceKeyForSlot(slot, o), expected[o][slot]) << "orientation " << o;
            EXPECT_EQ(slotForDeviceKey(expected[o][slot], o), slot) << "orientation " << o;
        }
    }
    EXPECT_EQ(deviceKeyForSlot(3, 0), 0);
    EXPECT_EQ(deviceKeyForSlot(-1, 1), 0);
    EXPECT_EQ(slotForDeviceKey(0, 0), -1);
    EXPECT_EQ(slotForDeviceKey(4, 1), -1);
    EXPECT_EQ(deviceKeyForSlot(0, 9), 1); // unknown orientations behave like 0
}

// A face whose pixel (x, y) carries x in blue, y in green and a fixed red.
std::vector<uint8_t> coordinateFace()
{
    std::vector<uint8_t> face(kPictureBytes);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            uint8_t *p = &face[y * 288 + x * 3];
            p[0] = static_cast<uint8_t>(x);
            p[1] = static_cast<uint8_t>(y);
            p[2] = 200;
        }
    return face;
}

// The face pixel shown at device pixel (x, y), as (fx, fy).
std::pair<int, int> sourceAt(const std::vector<uint8_t> &picture, int x, int y)
{
    const uint8_t *p = &picture[y * 288 + x * 3];
    EXPECT_EQ(p[2], 200);
    return {p[0], p[1]};
}

TEST(FrameTransform, cornersOfEachOrientation)
{
    const auto face = coordinateFace();
    std::vector<uint8_t> out(kPictureBytes);
    using P = std::pair<int, int>;
    struct Case {
        int orientation;
        P topLeft, topRight, bottomLeft;
    } cases[] = {
        {0, {0, 0}, {95, 0}, {0, 95}},
        {1, {95, 95}, {0, 95}, {95, 0}},  // turned over
        {2, {95, 0}, {95, 95}, {0, 0}},   // 90 degrees counter-clockwise
        {3, {0, 95}, {0, 0}, {95, 95}},   // 90 degrees clockwise
        {-4, {0, 0}, {95, 0}, {0, 95}},   // unknown: as painted
    };
    for (const Case &c : cases) {
        orientFace(face.data(), c.orientation, out.data());
        EXPECT_EQ(sourceAt(out, 0, 0), c.topLeft) << c.orientation;
        EXPECT_EQ(sourceAt(out, 95, 0), c.topRight) << c.orientation;
        EXPECT_EQ(sourceAt(out, 0, 95), c.bottomLeft) << c.orientation;
    }
}

TEST(FrameTransform, turnsCompose)
{
    const auto face = coordinateFace();
    std::vector<uint8_t> once(kPictureBytes), twice(kPictureBytes), half(kPictureBytes);
    orientFace(face.data(), 2, once.data());
    orientFace(once.data(), 2, twice.data());
    orientFace(face.data(), 1, half.data());
    EXPECT_EQ(twice, half); // two quarter turns make the half turn

    orientFace(once.data(), 3, twice.data());
    EXPECT_EQ(twice, face); // a quarter turn each way cancels

    orientFace(half.data(), 1, twice.data());
    EXPECT_EQ(twice, face);
}

} // namespace
} // namespace pixkey
