#include "ClockText.hpp"

#include "CityTable.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace pixkey::clock {

namespace {
constexpr const char *kDayNames[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char *kMonthNames[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                       "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Milliseconds from 1970-01-01 to 2001-01-01, both UTC.
constexpr int64_t kEpoch2001Ms = 978307200000LL;
constexpr int64_t kMsPerDay = 86400000LL;
} // namespace

std::string digitalTimeText(const ClockTime &time, bool hour24)
{
    int hour = time.hour % 24;
    const char *suffix = "";
    if (!hour24) {
        suffix = hour < 12 ? "AM" : "PM";
        hour %= 12;
        if (hour == 0)
            hour = 12;
    }
    char text[64];
    std::snprintf(text, sizeof text, "%d:%02d:%02d %s", hour, time.minute, time.second, suffix);
    return text;
}

std::string dateLineText(const ClockTime &time)
{
    const char *day = time.dayOfWeek >= 0 && time.dayOfWeek < 7 ? kDayNames[time.dayOfWeek] : "";
    const char *month = time.month >= 1 && time.month <= 12 ? kMonthNames[time.month - 1] : "";
    char text[64];
    std::snprintf(text, sizeof text, "%s, %s %d", day, month, time.day);
    return text;
}

int displayTemperature(int celsius, bool fahrenheit)
{
    if (!fahrenheit)
        return celsius;
    // 32 + 1.8 t truncated toward zero, in whole numbers (C++ division truncates toward zero).
    return 32 + static_cast<int>((9LL * celsius) / 5);
}

std::string temperatureText(int shownValue, bool fahrenheit)
{
    char text[32];
    std::snprintf(text, sizeof text, "%d\u00B0%s", shownValue, fahrenheit ? "F" : "C");
    return text;
}

int averageTemperature(std::string_view first, std::string_view second)
{
    auto parse = [](std::string_view text, int64_t &value) {
        const char *end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(text.data(), end, value);
        return ec == std::errc() && ptr == end && value > -100000 && value < 100000;
    };
    int64_t a = 0;
    int64_t b = 0;
    if (!parse(first, a) || !parse(second, b))
        return kUnknownTemperature;
    return static_cast<int>((a + b) / 2);
}

int moonFrame(int64_t utcMs)
{
    // Whole days since 2001-01-01 (truncated toward zero, as a file-time difference would be).
    const int64_t days = (utcMs - kEpoch2001Ms) / kMsPerDay;
    const double n = static_cast<double>(days + 1);
    const double p = n * n * 3.01e-16 + n * 0.03386319269 + 0.20439731;
    const double f = p - std::floor(p + 0.05);
    int frame = static_cast<int>(f * 11);
    if (frame < 0)
        frame = 0;
    if (frame > 10)
        frame = 10;
    return frame;
}

std::array<CanvasPoint, 4> handPolygon(double angle, double length, double tail, double width,
                                       double centreX, double centreY)
{
    const double t = (angle - 90) * 0.017453292519943295;
    const double c = std::cos(t);
    const double s = std::sin(t);
    const double corners[4][2] = {
        {-tail, -width / 2}, {-tail, width / 2}, {length, width / 2}, {length, -width / 2}};
    std::array<CanvasPoint, 4> points{};
    for (int i = 0; i < 4; ++i) {
        const double x = corners[i][0];
        const double y = corners[i][1];
        points[i].x = static_cast<int>(4 * centreX + 4 * (x * c - y * s));
        points[i].y = static_cast<int>(4 * centreY + 4 * (y * c + x * s));
    }
    return points;
}

} // namespace pixkey::clock
