#include "CityTable.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

using pixkey::clock::City;
using pixkey::clock::CityTable;
using pixkey::clock::cutUtf8;

namespace {

const City &cityAt(const CityTable &table, std::size_t i)
{
    return table.cities().at(i);
}

} // namespace

TEST(CityTable, ReadsCitiesAndRegionsInFileOrder)
{
    const CityTable table = CityTable::parse("# cities of the world\n"
                                             "10001\tNowhere\tUTC\n"
                                             "@Europe\n"
                                             "27612\tMoscow\tEurope/Moscow\n"
                                             "03772\tLondon\tEurope/London\n"
                                             "@Asia\n"
                                             "47662\tTokyo\tAsia/Tokyo\n");
    ASSERT_EQ(table.regions().size(), 2u);
    EXPECT_EQ(table.regions()[0].id, 2);
    EXPECT_EQ(table.regions()[0].name, "Europe");
    EXPECT_EQ(table.regions()[1].id, 3);
    EXPECT_EQ(table.regions()[1].name, "Asia");

    ASSERT_EQ(table.cities().size(), 4u);
    EXPECT_EQ(cityAt(table, 0).region, 1); // before any region line
    EXPECT_EQ(cityAt(table, 1).id, 27612);
    EXPECT_EQ(cityAt(table, 1).name, "Moscow");
    EXPECT_EQ(cityAt(table, 1).zone, "Europe/Moscow");
    EXPECT_EQ(cityAt(table, 1).region, 2);
    EXPECT_EQ(cityAt(table, 2).id, 3772); // leading zeros of a station index
    EXPECT_EQ(cityAt(table, 3).region, 3);
    EXPECT_EQ(cityAt(table, 3).temperature.load(), pixkey::clock::kUnknownTemperature);
    EXPECT_EQ(cityAt(table, 3).fetchedAtMs.load(), 0);
}

TEST(CityTable, CrLfLinesReadLikeLfLines)
{
    const CityTable table = CityTable::parse("@Europe\r\n27612\tMoscow\tEurope/Moscow\r\n"
                                             "#comment\r\n47662\tTokyo\tAsia/Tokyo\r\n");
    ASSERT_EQ(table.regions().size(), 1u);
    EXPECT_EQ(table.regions()[0].name, "Europe");
    ASSERT_EQ(table.cities().size(), 2u);
    EXPECT_EQ(cityAt(table, 0).zone, "Europe/Moscow");
    EXPECT_EQ(cityAt(table, 1).name, "Tokyo");
    EXPECT_EQ(cityAt(table, 1).region, 2);
}

TEST(CityTable, CommentsStartOnlyWhereAFieldStarts)
{
    const CityTable table = CityTable::parse("  # not a comment: the field is not empty\n"
                                             "27612\tMos#cow\tEurope/Moscow\t# Moscow VDNKh\n"
                                             "#47662\tTokyo\tAsia/Tokyo\n"
                                             "@Far # East\n");
    ASSERT_EQ(table.cities().size(), 1u);
    EXPECT_EQ(cityAt(table, 0).name, "Mos#cow");
    // A comment after the zone does not replace it.
    EXPECT_EQ(cityAt(table, 0).zone, "Europe/Moscow");
    ASSERT_EQ(table.regions().size(), 1u);
    EXPECT_EQ(table.regions()[0].name, "Far # East");
}

TEST(CityTable, LineWithIdAndNameOnlyHasNoZone)
{
    const CityTable table = CityTable::parse("12345\tSomewhere\n67890\n");
    ASSERT_EQ(table.cities().size(), 1u); // the id-only line adds nothing
    EXPECT_EQ(cityAt(table, 0).id, 12345);
    EXPECT_EQ(cityAt(table, 0).name, "Somewhere");
    EXPECT_EQ(cityAt(table, 0).zone, "");
}

TEST(CityTable, FurtherFieldsReplaceTheZoneAndTabsInRegionsAreDropped)
{
    const CityTable table = CityTable::parse("@North\tAmerica\n"
                                             "1\tA\tEurope/Paris\tAmerica/Chicago\n"
                                             "2\tB\tEurope/Paris\t\t\n");
    ASSERT_EQ(table.regions().size(), 1u);
    EXPECT_EQ(table.regions()[0].name, "NorthAmerica");
    ASSERT_EQ(table.cities().size(), 2u);
    EXPECT_EQ(cityAt(table, 0).zone, "America/Chicago");
    EXPECT_EQ(cityAt(table, 1).zone, "Europe/Paris"); // trailing TABs keep the zone
}

TEST(CityTable, CoordinatesFollowTheZoneAndOlderLinesStillRead)
{
    const CityTable table = CityTable::parse("1\tA\tEurope/Moscow\t55.76\t37.62\n"
                                             "2\tB\tAmerica/Lima\t-12.05\t-77.04\t\n"
                                             "3\tC\tEurope/Paris\n"
                                             "4\tD\tEurope/Paris\t48.86\n"        // one number only
                                             "5\tE\tEurope/Paris\t91\t2.35\n"     // beyond the pole
                                             "6\tF\tEurope/Paris\t48.86\teast\n"  // not a number
                                             "7\tG\tEurope/Paris\t48,86\t2,35\n"  // a locale's comma
                                             "8\tH\t\t-90\t180\n");               // no zone, edge values
    ASSERT_EQ(table.cities().size(), 8u);
    const City &a = cityAt(table, 0);
    EXPECT_EQ(a.zone, "Europe/Moscow");
    EXPECT_TRUE(a.hasCoordinates);
    EXPECT_DOUBLE_EQ(a.latitude, 55.76);
    EXPECT_DOUBLE_EQ(a.longitude, 37.62);
    const City &b = cityAt(table, 1);
    EXPECT_EQ(b.zone, "America/Lima");
    EXPECT_TRUE(b.hasCoordinates);
    EXPECT_DOUBLE_EQ(b.latitude, -12.05);
    EXPECT_DOUBLE_EQ(b.longitude, -77.04);
    for (int i = 2; i < 7; ++i) {
        EXPECT_FALSE(cityAt(table, i).hasCoordinates) << cityAt(table, i).name;
        EXPECT_EQ(cityAt(table, i).zone, "Europe/Paris") << cityAt(table, i).name;
    }
    const City &h = cityAt(table, 7);
    EXPECT_TRUE(h.hasCoordinates);
    EXPECT_EQ(h.zone, "");
    EXPECT_DOUBLE_EQ(h.latitude, -90);
    EXPECT_DOUBLE_EQ(h.longitude, 180);
}

TEST(CityTable, LongFieldsAreCutWithoutSplittingCharacters)
{
    const std::string longName(40, 'n');
    const std::string longZone(40, 'z');
    // 30 ASCII letters and then a two-byte letter: the 31-byte cut falls inside it.
    const std::string accented = std::string(30, 'a') + "\xC3\xA9" + "b";
    const std::string longRegion(300, 'r');
    const CityTable table = CityTable::parse("@" + longRegion + "\n1\t" + longName + "\t" + longZone +
                                             "\n2\t" + accented + "\tUTC\n");
    ASSERT_EQ(table.cities().size(), 2u);
    EXPECT_EQ(cityAt(table, 0).name, std::string(31, 'n'));
    EXPECT_EQ(cityAt(table, 0).zone, std::string(31, 'z'));
    EXPECT_EQ(cityAt(table, 1).name, std::string(30, 'a'));
    ASSERT_EQ(table.regions().size(), 1u);
    EXPECT_EQ(table.regions()[0].name, std::string(255, 'r'));

    EXPECT_EQ(cutUtf8("\xC3\xA9\xC3\xA9", 3), "\xC3\xA9");
    EXPECT_EQ(cutUtf8("abc", 3), "abc");
}

TEST(CityTable, BrokenLinesAreSkippedAndTheRestIsRead)
{
    const CityTable table = CityTable::parse("x12\tBad id\tUTC\n"
                                             "\tNo id\tUTC\n"
                                             "99999999999999\tToo big\tUTC\n"
                                             "\n\n\t\t\t\n"
                                             "@\n"
                                             "5\tFive\tUTC\n"
                                             "-7\tNegative\tUTC\n"
                                             "6\tLast line without line end\tAsia/Tokyo");
    ASSERT_EQ(table.regions().size(), 1u);
    EXPECT_EQ(table.regions()[0].name, "");
    ASSERT_EQ(table.cities().size(), 3u);
    EXPECT_EQ(cityAt(table, 0).id, 5);
    EXPECT_EQ(cityAt(table, 0).region, 2);
    EXPECT_EQ(cityAt(table, 1).id, -7);
    EXPECT_EQ(cityAt(table, 2).id, 6);
    EXPECT_EQ(cityAt(table, 2).zone, "Asia/Tokyo");
}

TEST(CityTable, BinaryGarbageDoesNotBreakTheScanner)
{
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 7919) & 0xFF));
    const CityTable table = CityTable::parse(garbage + "\n1\tOne\tUTC\n");
    ASSERT_FALSE(table.cities().empty());
    EXPECT_EQ(table.cities().back().name, "One");
    for (const City &city : table.cities()) {
        EXPECT_LE(city.name.size(), CityTable::kNameLimit);
        EXPECT_LE(city.zone.size(), CityTable::kZoneLimit);
    }
}

TEST(CityTable, FindTakesTheFirstMatchAndNothingForNegativeIds)
{
    const CityTable table = CityTable::parse("7\tFirst\tUTC\n7\tSecond\tUTC\n-1\tMinus\tUTC\n");
    ASSERT_NE(table.find(7), nullptr);
    EXPECT_EQ(table.find(7)->name, "First");
    EXPECT_EQ(table.find(8), nullptr);
    EXPECT_EQ(table.find(-1), nullptr);
}

TEST(CityTable, MissingFileGivesEmptyTables)
{
    const CityTable missing = CityTable::load("/nonexistent/folder/ClockTimezones.txt");
    EXPECT_TRUE(missing.cities().empty());
    EXPECT_TRUE(missing.regions().empty());
    const CityTable folder = CityTable::load(std::filesystem::temp_directory_path().string());
    EXPECT_TRUE(folder.cities().empty());

    const auto path = std::filesystem::temp_directory_path() / "clock_table_test.txt";
    {
        std::ofstream out(path, std::ios::binary);
        out << "@Europe\n27612\tMoscow\tEurope/Moscow\n";
    }
    const CityTable loaded = CityTable::load(path.string());
    std::filesystem::remove(path);
    ASSERT_EQ(loaded.cities().size(), 1u);
    EXPECT_EQ(loaded.cities()[0].region, 2);
}
