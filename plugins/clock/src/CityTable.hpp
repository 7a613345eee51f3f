// CityTable: the cities and regions of the clock's data file, read once and then only read.
//
// The table owns its records; their addresses stay valid for the table's lifetime, so plug-in
// instances and the weather worker keep plain pointers to them. Loading happens once, before any
// instance exists; afterwards every thread may read the table. The two weather fields of a city
// are the only ones that change after loading: the weather worker writes them, paint threads read
// them (atomics, see WeatherCache).
#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace pixkey::clock {

// Marks an unknown temperature wherever one travels.
inline constexpr int kUnknownTemperature = 0xFFFFFF;

struct City {
    int id = 0;         // the weather service's code (a five-digit station index where known)
    int region = 1;     // id of the region line above the city, 1 before any region line
    std::string name;   // at most 31 bytes, cut on a character boundary
    std::string zone;   // IANA zone id, at most 31 bytes; empty when the line had none
    // Where the city lies, in decimal degrees (north and east positive); only when the line gave
    // both numbers within range. The forecast source needs them; the informer does not.
    bool hasCoordinates = false;
    double latitude = 0;
    double longitude = 0;
    // Weather cache, written only by the weather worker: milliseconds since 1970 of the last
    // finished fetch (0: never), then the temperature it gave in Celsius.
    std::atomic<int64_t> fetchedAtMs{0};
    std::atomic<int> temperature{kUnknownTemperature};
    std::atomic<uint64_t> fetchedFrom{0}; // the cache's source generation that fetch was made for
};

struct Region {
    int id = 0;         // 2, 3, 4 ... in file order
    std::string name;   // at most 255 bytes
};

class CityTable {
public:
    // Longest name and zone kept, in bytes; longest region name.
    static constexpr std::size_t kNameLimit = 31;
    static constexpr std::size_t kZoneLimit = 31;
    static constexpr std::size_t kRegionLimit = 255;

    CityTable() = default;
    CityTable(const CityTable &) = delete;
    CityTable &operator=(const CityTable &) = delete;
    CityTable(CityTable &&) = default;
    CityTable &operator=(CityTable &&) = default;

    // Reads the tab-separated table text: "@Region" lines, "id<TAB>name<TAB>zone" city lines with
    // optionally "<TAB>latitude<TAB>longitude" after the zone, "#" comments where a field starts,
    // LF or CR LF line ends. Broken lines are skipped; broken coordinates leave the city without.
    static CityTable parse(std::string_view text);
    // Reads the file at `path`; a missing or unreadable file gives an empty table.
    static CityTable load(const std::string &path);

    // The first city with this id, or null (always null for a negative id).
    City *find(int id) const;

    const std::deque<City> &cities() const { return m_cities; }
    const std::deque<Region> &regions() const { return m_regions; }

private:
    // deque: records never move once added, so pointers to them stay valid.
    mutable std::deque<City> m_cities;
    std::deque<Region> m_regions;
};

// Cuts UTF-8 `text` to at most `limit` bytes without splitting a character.
std::string cutUtf8(std::string_view text, std::size_t limit);

} // namespace pixkey::clock
