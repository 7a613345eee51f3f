#include "CityTable.hpp"
#include "ClockText.hpp"

#include <gtest/gtest.h>

using namespace pixkey::clock;

namespace {

ClockTime at(int hour, int minute = 0, int second = 0)
{
    ClockTime time;
    time.hour = hour;
    time.minute = minute;
    time.second = second;
    return time;
}

// UTC milliseconds of a calendar day at noon.
int64_t noonUtc(int year, int month, int day)
{
    // Days from civil (proleptic Gregorian), as in Howard Hinnant's algorithm.
    year -= month <= 2;
    const int era = (year >= 0 ? year : year - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(year - era * 400);
    const unsigned doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097LL + static_cast<int64_t>(doe) - 719468;
    return days * 86400000LL + 12 * 3600000LL;
}

} // namespace

TEST(ClockText, TwelveAndTwentyFourHourClock)
{
    EXPECT_EQ(digitalTimeText(at(0, 5, 9), false), "12:05:09 AM");
    EXPECT_EQ(digitalTimeText(at(11, 59, 59), false), "11:59:59 AM");
    EXPECT_EQ(digitalTimeText(at(12, 0, 0), false), "12:00:00 PM");
    EXPECT_EQ(digitalTimeText(at(13, 30, 0), false), "1:30:00 PM");
    EXPECT_EQ(digitalTimeText(at(23, 0, 1), false), "11:00:01 PM");
    // 24-hour mode keeps the blank where the suffix would be.
    EXPECT_EQ(digitalTimeText(at(0, 0, 0), true), "0:00:00 ");
    EXPECT_EQ(digitalTimeText(at(12, 0, 0), true), "12:00:00 ");
    EXPECT_EQ(digitalTimeText(at(23, 59, 59), true), "23:59:59 ");
}

TEST(ClockText, DateLine)
{
    ClockTime time;
    time.dayOfWeek = 2;
    time.month = 12;
    time.day = 8;
    EXPECT_EQ(dateLineText(time), "Tue, Dec 8");
    time.dayOfWeek = 0;
    time.month = 1;
    time.day = 31;
    EXPECT_EQ(dateLineText(time), "Sun, Jan 31");
    time.dayOfWeek = 9; // out of range never reads past the tables
    time.month = 13;
    EXPECT_EQ(dateLineText(time), ",  31");
}

TEST(ClockText, FahrenheitTruncatesTowardZero)
{
    EXPECT_EQ(displayTemperature(20, true), 68);
    EXPECT_EQ(displayTemperature(-5, true), 23);
    EXPECT_EQ(displayTemperature(5, true), 41);
    EXPECT_EQ(displayTemperature(-40, true), -40);
    EXPECT_EQ(displayTemperature(-1, true), 31);  // -1.8 truncates toward zero
    EXPECT_EQ(displayTemperature(20, false), 20);
    for (int c = -60; c <= 60; ++c)
        EXPECT_EQ(displayTemperature(c, true), 32 + static_cast<int>(1.8 * c)) << c;
    EXPECT_EQ(temperatureText(68, true), "68\u00B0F");
    EXPECT_EQ(temperatureText(-3, false), "-3\u00B0C");
}

TEST(ClockText, AverageTruncatesTowardZero)
{
    EXPECT_EQ(averageTemperature("10", "-3"), 3);
    EXPECT_EQ(averageTemperature("-3", "10"), 3);
    EXPECT_EQ(averageTemperature("-3", "-4"), -3);
    EXPECT_EQ(averageTemperature("0", "0"), 0);
    EXPECT_EQ(averageTemperature("", "1"), kUnknownTemperature);
    EXPECT_EQ(averageTemperature("99999999999999999999", "1"), kUnknownTemperature);
    EXPECT_EQ(averageTemperature("12a", "1"), kUnknownTemperature);
}

TEST(ClockText, MoonFrameFollowsTheLunation)
{
    // Known new moons give frame 0 (the start of the strip), full moons frame 5 (its middle).
    const struct {
        int y, m, d;
        int low, high;
    } days[] = {
        {2001, 1, 24, 0, 0},  // new moon 2001-01-24
        {2001, 1, 9, 5, 5},   // full moon 2001-01-09
        {2024, 1, 11, 0, 0},  // new moon 2024-01-11
        {2024, 1, 25, 5, 5},  // full moon 2024-01-25
        {2026, 12, 24, 5, 5}, // full moon 2026-12-24
        {2026, 12, 8, 0, 0},  // the day before the new moon of 2026-12-09: just below zero
        {2026, 12, 16, 2, 2}, // waxing crescent toward the first quarter
    };
    for (const auto &d : days) {
        const int frame = moonFrame(noonUtc(d.y, d.m, d.d));
        EXPECT_GE(frame, d.low) << d.y << "-" << d.m << "-" << d.d;
        EXPECT_LE(frame, d.high) << d.y << "-" << d.m << "-" << d.d;
    }
    // Every frame stays within the strip, also for times before 2001 and far ahead.
    for (int64_t day = -20000; day < 40000; day += 17) {
        const int frame = moonFrame(noonUtc(2001, 1, 1) + day * 86400000LL);
        EXPECT_GE(frame, 0);
        EXPECT_LE(frame, 10);
    }
}

TEST(ClockText, HandPolygonAtTwelveAndThree)
{
    // Pointing at 12: the tip lies straight above the centre, 4x scaled.
    auto up = handPolygon(0, 40, 10, 2, 48, 48);
    EXPECT_EQ(up[0].x, 4 * 48 - 4);     // tail corners: (-10, -1) and (-10, 1) turned by -90 deg
    EXPECT_EQ(up[0].y, 4 * 48 + 40);
    EXPECT_EQ(up[2].x, 4 * 48 + 4);
    EXPECT_EQ(up[2].y, 4 * 48 - 160);
    // Pointing at 3: the tip lies to the right.
    auto right = handPolygon(90, 35, 8, 2, 48, 48);
    EXPECT_EQ(right[2].x, 4 * 48 + 140);
    EXPECT_EQ(right[2].y, 4 * 48 + 4);
    EXPECT_EQ(right[0].x, 4 * 48 - 32);
}
