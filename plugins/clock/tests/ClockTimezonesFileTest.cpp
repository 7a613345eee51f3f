// Checks the shipped city table itself: enough cities on every continent, zones that exist,
// codes that are unique.
#include "CityTable.hpp"

#include <QTimeZone>

#include <gtest/gtest.h>

#include <map>
#include <set>

using pixkey::clock::City;
using pixkey::clock::CityTable;

TEST(ClockTimezonesFile, ShippedTableIsWhole)
{
    const CityTable table = CityTable::load(CLOCK_TIMEZONES_FILE);
    ASSERT_GE(table.cities().size(), 300u);
    ASSERT_GE(table.regions().size(), 6u);

    std::set<int> ids;
    std::map<int, int> perRegion;
    for (const City &city : table.cities()) {
        EXPECT_TRUE(ids.insert(city.id).second) << "duplicate code " << city.id;
        EXPECT_GT(city.id, 0) << city.name;
        EXPECT_FALSE(city.name.empty()) << city.id;
        EXPECT_LT(city.name.size(), CityTable::kNameLimit) << city.name << " would be cut";
        EXPECT_GT(city.region, 1) << city.name << " stands before any region";
        EXPECT_TRUE(QTimeZone::isTimeZoneIdAvailable(QByteArray::fromStdString(city.zone)))
            << city.name << ": " << city.zone;
        // Every shipped city can have the forecast's temperature.
        EXPECT_TRUE(city.hasCoordinates) << city.name;
        ++perRegion[city.region];
    }
    EXPECT_NE(table.find(27612), nullptr) << "the dialog's default city";
    for (const auto &region : table.regions())
        EXPECT_GE(perRegion[region.id], 5) << region.name;
}
