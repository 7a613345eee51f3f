// The clock's pure calculations: the texts on the face, the temperature arithmetic, the moon
// phase and the geometry of the hands. No state; callable from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace pixkey::clock {

// A wall-clock time as the face shows it.
struct ClockTime {
    int year = 2001;
    int month = 1;      // 1..12
    int day = 1;        // 1..31
    int dayOfWeek = 1;  // 0 Sunday .. 6 Saturday
    int hour = 0;       // 0..23
    int minute = 0;
    int second = 0;
};

// "H:MM:SS SUFFIX": 24-hour mode keeps the hour 0..23 and an empty suffix (the blank stays);
// 12-hour mode shows 12 for hour 0 and 12, and "AM" before noon, "PM" from noon.
std::string digitalTimeText(const ClockTime &time, bool hour24);

// "Tue, Dec 8": three-letter day and month names.
std::string dateLineText(const ClockTime &time);

// Temperature as shown: Celsius as is, or 32 + 9/5 of it truncated toward zero.
int displayTemperature(int celsius, bool fahrenheit);

// "20°C", "68°F" (UTF-8 degree sign).
std::string temperatureText(int shownValue, bool fahrenheit);

// Mean of the two numbers of a weather answer's TEMPERATURE element, truncated toward zero;
// kUnknownTemperature when either is not a number that fits.
int averageTemperature(std::string_view first, std::string_view second);

// Frame 0..10 of the moon strip for a moment given in milliseconds since 1970 UTC.
int moonFrame(int64_t utcMs);

// The four corners of a hand on the 4x canvas, in drawing order, for an angle in degrees
// clockwise from 12, a length and a tail behind the centre, a width, and a centre, all in face
// pixels.
struct CanvasPoint {
    int x;
    int y;
};
std::array<CanvasPoint, 4> handPolygon(double angle, double length, double tail, double width,
                                       double centreX, double centreY);

} // namespace pixkey::clock
