// ClockSettings: the six settings of a clock instance, as its properties store them.
#pragma once

#include <cstdint>

namespace pixkey::clock {

struct ClockSettings {
    int cityId = -1;              // weather-service code of the city; -1: none
    int degrees = 0;              // 0 Celsius, 1 Fahrenheit
    uint32_t textColor = 0xFFFFFF; // city name colour, 0x00BBGGRR
    int clockView = 0;            // 0 analog, 1 digital
    int hour24 = 1;               // 0: 12-hour with AM/PM, 1: 24-hour
    int useLocalTime = 0;         // 1: the computer's own time, no city

    // The city the face shows: none in local-time mode.
    int shownCityId() const { return useLocalTime ? -1 : cityId; }

    bool operator==(const ClockSettings &) const = default;
};

} // namespace pixkey::clock
