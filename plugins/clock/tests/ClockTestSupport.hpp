// Shared pieces of the clock's Qt tests: a small city table, the pictures, faces to compare.
#pragma once

#include "CityTable.hpp"
#include "ClockLibrary.hpp"
#include "ClockPlugin.hpp"

#include <pixkey_plugin.h>

#include <array>
#include <cstdint>
#include <memory>

namespace clocktest {

inline const char *kTableText = "# test table\n"
                                "@Europe\n"
                                "27612\tMoscow\tEurope/Moscow\n"
                                "03772\tLondon\tEurope/London\n"
                                "@Asia\n"
                                "47662\tTokyo\tAsia/Tokyo\n"
                                "@Nowhere\n"
                                "55555\tNo zone\n";

// 2026-12-08 09:30:15.250 UTC, a Tuesday.
constexpr int64_t kTuesdayMorningMs = 1'796'722'215'250;

struct Face {
    std::array<uint8_t, 96 * 288> bytes{};
    PkxSurface surface() { return PkxSurface{bytes.data(), 96, 96, 288}; }
    // True when no byte of the rectangle is brighter than `level`.
    bool darkIn(int x0, int y0, int x1, int y1, int level = 16) const
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0 * 3; x < x1 * 3; ++x)
                if (bytes[y * 288 + x] > level)
                    return false;
        return true;
    }
    bool sameIn(const Face &other, int x0, int y0, int x1, int y1) const
    {
        for (int y = y0; y < y1; ++y)
            for (int x = x0 * 3; x < x1 * 3; ++x)
                if (bytes[y * 288 + x] != other.bytes[y * 288 + x])
                    return false;
        return true;
    }
};

// Everything a test plug-in instance needs, with a clock the test sets.
struct Fixture {
    pixkey::clock::ClockArt art = pixkey::clock::ClockLibrary::loadArt();
    pixkey::clock::CityTable table = pixkey::clock::CityTable::parse(kTableText);
    std::unique_ptr<pixkey::clock::WeatherCache> weather;
    int64_t nowMs = kTuesdayMorningMs;

    Fixture()
    {
        pixkey::clock::WeatherCache::Options options; // no host: nothing is fetched
        options.nowMs = [this] { return nowMs; };
        weather = std::make_unique<pixkey::clock::WeatherCache>(options);
    }

    pixkey::clock::ClockPlugin::Environment environment()
    {
        return {&art, &table, weather.get(), [this] { return nowMs; }};
    }

    // A fresh active instance with the given settings, painted once at nowMs.
    Face paint(const pixkey::clock::ClockSettings &s)
    {
        pixkey::clock::ClockPlugin plugin(environment());
        plugin.SetProperty("CityId", std::to_string(s.cityId).c_str());
        plugin.SetProperty("Degrees", std::to_string(s.degrees).c_str());
        plugin.SetProperty("ClockView", std::to_string(s.clockView).c_str());
        plugin.SetProperty("Hour24", std::to_string(s.hour24).c_str());
        plugin.SetProperty("UseLocalTime", std::to_string(s.useLocalTime).c_str());
        plugin.OnEvent(PKX_EVENT_ACTIVATE);
        Face face;
        PkxSurface surface = face.surface();
        plugin.Paint(surface);
        plugin.OnEvent(PKX_EVENT_DEACTIVATE);
        return face;
    }
};

} // namespace clocktest
