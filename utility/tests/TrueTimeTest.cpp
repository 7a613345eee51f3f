// Wall-clock time of IANA zones at fixed instants.
#include <pixkey/utility/CTrueTime.h>

#include <QDateTime>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using pixkey::CTrueTime;
using pixkey::SYSTEMTIME;

namespace {

std::int64_t utc(int year, int month, int day, int hour, int minute, int second, int msec = 0)
{
    return QDateTime(QDate(year, month, day), QTime(hour, minute, second, msec), QTimeZone::utc()).toMSecsSinceEpoch();
}

struct Expected {
    int year, month, dayOfWeek, day, hour, minute, second;
};

void expectTime(const SYSTEMTIME &t, const Expected &e)
{
    EXPECT_EQ(t.wYear, e.year);
    EXPECT_EQ(t.wMonth, e.month);
    EXPECT_EQ(t.wDayOfWeek, e.dayOfWeek);
    EXPECT_EQ(t.wDay, e.day);
    EXPECT_EQ(t.wHour, e.hour);
    EXPECT_EQ(t.wMinute, e.minute);
    EXPECT_EQ(t.wSecond, e.second);
}

TEST(TrueTime, FixedInstantInSeveralZones)
{
    const std::int64_t summer = utc(2026, 7, 1, 12, 0, 5, 250); // a Wednesday
    const std::int64_t winter = utc(2026, 1, 15, 23, 30, 0);    // a Thursday
    const struct {
        const char *zone;
        std::int64_t instant;
        Expected expected;
    } cases[] = {
        {"UTC", summer, {2026, 7, 3, 1, 12, 0, 5}},
        {"Europe/Prague", summer, {2026, 7, 3, 1, 14, 0, 5}},      // summer time, +2
        {"Europe/Prague", winter, {2026, 1, 5, 16, 0, 30, 0}},     // +1, past midnight: Friday
        {"America/New_York", summer, {2026, 7, 3, 1, 8, 0, 5}},    // -4
        {"America/New_York", winter, {2026, 1, 4, 15, 18, 30, 0}}, // -5
        {"Asia/Kolkata", summer, {2026, 7, 3, 1, 17, 30, 5}},      // +5:30
        {"Pacific/Auckland", summer, {2026, 7, 4, 2, 0, 0, 5}},    // +12: the next day
        {"UTC+03:00", summer, {2026, 7, 3, 1, 15, 0, 5}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.zone);
        CTrueTime time;
        EXPECT_TRUE(time.SetTimezone(c.zone));
        SYSTEMTIME t;
        time.GetLocalTimeAt(c.instant, &t);
        expectTime(t, c.expected);
    }
    CTrueTime time;
    time.SetTimezone("UTC");
    SYSTEMTIME t;
    time.GetLocalTimeAt(summer, &t);
    EXPECT_EQ(t.wMilliseconds, 250);
}

TEST(TrueTime, UnknownOrMissingZoneMeansTheLocalZone)
{
    const std::int64_t instant = utc(2026, 3, 29, 0, 59, 59);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(instant, QTimeZone::systemTimeZone());
    for (const char *zone : {"Mars/Olympus_Mons", "", "../../etc/passwd", static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(zone ? zone : "(null)");
        CTrueTime time;
        time.SetTimezone("Asia/Tokyo");
        const bool known = time.SetTimezone(zone);
        EXPECT_EQ(known, zone == nullptr || *zone == '\0');
        SYSTEMTIME t;
        time.GetLocalTimeAt(instant, &t);
        EXPECT_EQ(t.wHour, local.time().hour());
        EXPECT_EQ(t.wDay, local.date().day());
        char id[64];
        time.GetTimezone(id, sizeof id);
        EXPECT_EQ(QByteArray(id), QTimeZone::systemTimeZone().id());
    }
}

TEST(TrueTime, CurrentTimeFollowsTheClock)
{
    CTrueTime time;
    ASSERT_TRUE(time.SetTimezone("UTC"));
    const QDateTime before = QDateTime::currentDateTimeUtc();
    SYSTEMTIME t;
    time.GetLocalTime(&t);
    const QDateTime after = QDateTime::currentDateTimeUtc();
    const QDateTime got(QDate(t.wYear, t.wMonth, t.wDay), QTime(t.wHour, t.wMinute, t.wSecond, t.wMilliseconds),
                        QTimeZone::utc());
    EXPECT_GE(got, before.addMSecs(-1));
    EXPECT_LE(got, after);
    time.GetLocalTime(nullptr); // ignored
}

TEST(TrueTime, ZoneMayChangeWhileAnotherThreadReadsTheTime)
{
    CTrueTime time;
    std::atomic<bool> done{false};
    std::atomic<int> badHours{0};
    std::thread reader([&] {
        const std::int64_t instant = utc(2026, 7, 1, 12, 0, 0);
        while (!done) {
            SYSTEMTIME t;
            time.GetLocalTimeAt(instant, &t);
            if (t.wHour != 12 && t.wHour != 14)
                ++badHours;
        }
    });
    for (int i = 0; i < 200; ++i)
        time.SetTimezone(i % 2 ? "UTC" : "Europe/Prague");
    done = true;
    reader.join();
    EXPECT_EQ(badHours, 0);
}

} // namespace
