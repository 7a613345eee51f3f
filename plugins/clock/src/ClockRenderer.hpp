// ClockRenderer: the drawing state of one clock face (a key instance's, or the settings dialog's
// preview) and the code that paints it.
//
// Threads: `draw` runs on one thread at a time (the paint thread, or the dialog's main thread for
// the preview). `apply` may come from another thread (the settings dialog) while a draw runs:
// settings go through m_lock and are taken over at the start of the next draw.
#pragma once

#include "ClockSettings.hpp"
#include "ClockText.hpp"

#include <pixkey/utility/CLocalizableTextRenderer.h>
#include <pixkey/utility/CTrueTime.h>

#include <QImage>

#include <cstdint>
#include <mutex>

struct PkxSurface;

namespace pixkey::clock {

class CityTable;
class WeatherCache;
struct City;

// The pictures a face is made of, shared read-only by every renderer.
struct ClockArt {
    QImage analogFace;  // 384 x 384, the dial at four times the key's size
    QImage digitalBack; // 96 x 96
    QImage moonStrip;   // 11 wide, eleven 11 x 11 frames stacked top to bottom
};

class ClockRenderer {
public:
    // `cities` and `weather` (may be null: no temperature) must outlive the renderer.
    ClockRenderer(const ClockArt &art, const CityTable &cities, WeatherCache *weather);
    ClockRenderer(const ClockRenderer &) = delete;
    ClockRenderer &operator=(const ClockRenderer &) = delete;

    // [any-thread] Takes over the settings for the next draw.
    void apply(const ClockSettings &settings);

    // Paints the whole face for the moment `utcMs` (UTC milliseconds since 1970) into `surface`.
    void draw(PkxSurface &surface, int64_t utcMs);

    // The time the last draw showed, and the city it showed (null in local-time mode).
    const ClockTime &shownTime() const { return m_shownTime; }
    const City *city() const { return m_city; }

private:
    void takeSettings();
    void drawAnalog(QImage &target);
    void drawDigital(PkxSurface &surface);
    void drawTemperature(PkxSurface &surface);
    void drawMoon(QImage &target, int64_t utcMs);

    const ClockArt &m_art;
    const CityTable &m_cities;
    WeatherCache *m_weather;

    std::mutex m_lock;
    ClockSettings m_pending;     // guarded by m_lock
    bool m_changed = true;       // guarded by m_lock

    // Owned by the drawing thread.
    ClockSettings m_settings;
    City *m_city = nullptr;
    CTrueTime m_trueTime;
    ClockTime m_shownTime;
    QImage m_canvas;             // 384 x 384 work picture of the analog face
    CLocalizableTextRenderer m_bigFont;
    CLocalizableTextRenderer m_smallFont;
};

} // namespace pixkey::clock
