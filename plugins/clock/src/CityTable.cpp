#include "CityTable.hpp"

#include <charconv>
#include <cctype>
#include <cmath>
#include <fstream>
#include <sstream>

namespace pixkey::clock {

std::string cutUtf8(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return std::string(text);
    std::size_t end = limit;
    // Step back over continuation bytes so the cut lands before a lead byte.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return std::string(text.substr(0, end));
}

namespace {

// One pass over the text, a field at a time, as the file format is defined: TAB ends a field, CR
// and LF end a field and the line, "#" where a field starts comments out the rest of the line.
class Scanner {
public:
    Scanner(std::deque<City> &cities, std::deque<Region> &regions)
        : m_cities(cities), m_regions(regions)
    {
    }

    void feed(std::string_view text)
    {
        for (char c : text) {
            if (m_inComment) {
                if (c != '\n')
                    continue;
                m_inComment = false;
            }
            if (m_inRegion) {
                if (c == '\r' || c == '\n')
                    endRegionLine();
                else if (c != '\t')
                    m_field.push_back(c);
                continue;
            }
            if (c == '#' && m_field.empty()) {
                m_inComment = true;
                continue;
            }
            if (c == '\t') {
                endField();
            } else if (c == '\r' || c == '\n') {
                endFieldAndLine();
            } else {
                m_field.push_back(c);
            }
        }
        // A last line without its line end still counts.
        if (m_inRegion) {
            endRegionLine();
        } else if (!m_field.empty() || m_fieldIndex > 0) {
            endFieldAndLine();
        }
    }

private:
    void endField()
    {
        switch (m_fieldIndex) {
        case 0:
            if (!m_field.empty() && m_field.front() == '@') {
                // The region name runs to the end of the line, TABs dropped.
                m_inRegion = true;
                return;
            }
            m_idValid = parseId(m_field, m_id);
            break;
        case 1:
            m_name = cutUtf8(m_field, CityTable::kNameLimit);
            break;
        default: {
            // From the third field on: the zone, then the two coordinates. Empty fields (a
            // trailing TAB, two TABs in a row) are skipped, so they wipe nothing.
            if (m_field.empty())
                break;
            // A zone id never starts like a number, so such a field is a coordinate, readable
            // or not ("48,86" written by a comma locale spoils the pair, never the zone).
            const char first = m_field.front();
            if (std::isdigit(static_cast<unsigned char>(first)) || first == '-' || first == '+' || first == '.') {
                double number = 0;
                if (m_coordinateCount < 2 && parseNumber(m_field, number))
                    m_coordinates[m_coordinateCount] = number;
                else
                    m_coordinatesBroken = true;
                ++m_coordinateCount;
            } else if (m_coordinateCount == 0) {
                m_zone = cutUtf8(m_field, CityTable::kZoneLimit);
            }
            break;
        }
        }
        ++m_fieldIndex;
        m_field.clear();
    }

    void endFieldAndLine()
    {
        endField();
        if (m_inRegion)
            endRegionLine();
        else
            endLine();
    }

    void endLine()
    {
        // Only a line that got as far as the name makes a city, and only with a readable id.
        if (m_fieldIndex >= 2 && m_idValid) {
            City &city = m_cities.emplace_back();
            city.id = m_id;
            city.region = m_region;
            city.name = std::move(m_name);
            city.zone = std::move(m_zone);
            const double latitude = m_coordinates[0];
            const double longitude = m_coordinates[1];
            if (m_coordinateCount == 2 && !m_coordinatesBroken && latitude >= -90 && latitude <= 90 && longitude >= -180 &&
                longitude <= 180) {
                city.hasCoordinates = true;
                city.latitude = latitude;
                city.longitude = longitude;
            }
        }
        m_coordinateCount = 0;
        m_coordinatesBroken = false;
        m_fieldIndex = 0;
        m_idValid = false;
        m_id = 0;
        m_name.clear();
        m_zone.clear();
        m_field.clear();
    }

    void endRegionLine()
    {
        Region &region = m_regions.emplace_back();
        region.id = m_nextRegionId++;
        region.name = cutUtf8(std::string_view(m_field).substr(1), CityTable::kRegionLimit);
        m_region = region.id;
        m_inRegion = false;
        m_field.clear();
        m_fieldIndex = 0;
    }

    static bool parseId(const std::string &text, int &id)
    {
        if (text.empty())
            return false;
        const char *end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(text.data(), end, id);
        return ec == std::errc() && ptr == end;
    }

    // A decimal number, as the coordinates are written ("55.7558", "-0.1276"); no locale applies.
    static bool parseNumber(const std::string &text, double &value)
    {
        const char *end = text.data() + text.size();
        auto [ptr, ec] = std::from_chars(text.data(), end, value);
        return ec == std::errc() && ptr == end && std::isfinite(value);
    }

    std::deque<City> &m_cities;
    std::deque<Region> &m_regions;
    std::string m_field;
    bool m_inComment = false;
    bool m_inRegion = false;
    int m_fieldIndex = 0;
    bool m_idValid = false;
    int m_id = 0;
    std::string m_name;
    std::string m_zone;
    double m_coordinates[2] = {0, 0};
    int m_coordinateCount = 0;
    bool m_coordinatesBroken = false;
    int m_region = 1;
    int m_nextRegionId = 2;
};

} // namespace

CityTable CityTable::parse(std::string_view text)
{
    CityTable table;
    Scanner scanner(table.m_cities, table.m_regions);
    scanner.feed(text);
    return table;
}

CityTable CityTable::load(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    std::ostringstream text;
    text << in.rdbuf();
    if (in.bad())
        return {};
    return parse(text.str());
}

City *CityTable::find(int id) const
{
    if (id < 0)
        return nullptr;
    for (City &city : m_cities) {
        if (city.id == id)
            return &city;
    }
    return nullptr;
}

} // namespace pixkey::clock
