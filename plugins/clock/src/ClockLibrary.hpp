// ClockLibrary: what all clock instances of the process share: the city table read from
// "ClockTimezones.txt" beside the plug-in file, the weather cache with its worker thread, and the
// pictures.
//
// Made on the first Create (main thread) and destroyed when the library is unloaded, after the
// host has deleted every object; the destructor stops the weather worker. Read-only afterwards,
// so any thread may use it.
#pragma once

#include "CityTable.hpp"
#include "ClockRenderer.hpp"
#include "WeatherCache.hpp"

#include <QImage>

#include <memory>
#include <string>

struct PkxModule;

namespace pixkey::clock {

class ClockLibrary {
public:
    // The process's library state, made on the first call from the module record of Create (null
    // or a record without a path: the library finds its own file).
    static ClockLibrary &instance(const PkxModule *module);

    // Loads the pictures from the library's resources.
    static ClockArt loadArt();
    static QImage previewPicture(); // 96 x 96, for the host's lists
    static QImage iconPicture();    // the clock icon, large

    const CityTable &cities() const { return m_cities; }
    WeatherCache &weather() { return *m_weather; }
    const ClockArt &art() const { return m_art; }

    // Folder of the plug-in file, with the table file's name appended.
    static std::string tablePath(const std::string &pluginPath);

private:
    explicit ClockLibrary(const std::string &pluginPath);

    CityTable m_cities;
    ClockArt m_art;
    std::unique_ptr<WeatherCache> m_weather;
};

} // namespace pixkey::clock
