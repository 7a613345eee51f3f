// ClockPlugin: one clock key (or the library's describing object): properties, activation, the
// once-a-second paint and the settings dialog. The describing object carries the one library-wide
// property, "WeatherSource", which the host stores and gives back whenever it loads the library.
//
// Threads as the plug-in contract says: Paint and OnEvent on the paint thread; GetInfo,
// GetProperty, SetProperty, ShowProperties on the main thread, possibly while the paint thread
// runs. m_lock guards m_settings and the m_renderer pointer against that overlap (the renderer
// itself is created and destroyed on the paint thread, under the lock, and takes settings through
// its own lock).
#pragma once

#include "ClockRenderer.hpp"
#include "ClockSettings.hpp"

#include <pixkey_plugin.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace pixkey::clock {

class ClockPlugin : public pkx::Plugin<ClockPlugin> {
public:
    // What an instance depends on; tests supply their own.
    struct Environment {
        const ClockArt *art = nullptr;
        const CityTable *cities = nullptr;
        WeatherCache *weather = nullptr;        // null: no temperature
        std::function<int64_t()> nowMs;         // UTC ms since 1970; null: the system clock
        bool describing = false;                // the library's describing object (function 0)
    };

    // The library-wide property of the describing object: where temperatures come from.
    static constexpr const char *kWeatherSourceProperty = "WeatherSource";

    // The object Create makes: shares the process's ClockLibrary.
    ClockPlugin(const PkxModule *module, int function);
    explicit ClockPlugin(Environment environment);
    ~ClockPlugin();

    int Paint(PkxSurface &surface);
    intptr_t GetInfo(int code);
    int GetProperty(int index, char *name, char *value);
    int SetProperty(const char *name, const char *value);
    int ShowProperties(void *parent);
    int OnEvent(int code);

    // A copy of the current settings (any thread).
    ClockSettings settings() const;

private:
    static constexpr int64_t kNoSecond = INT64_MIN;
    int64_t now() const;

    Environment m_env;
    mutable std::mutex m_lock;
    ClockSettings m_settings;                     // guarded by m_lock
    std::unique_ptr<ClockRenderer> m_renderer;    // set and reset under m_lock, on the paint thread
    int64_t m_lastSecond = kNoSecond;             // paint thread: UTC second of the last face
};

} // namespace pixkey::clock
