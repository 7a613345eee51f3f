// Colour tables and line conversion: gamma, white balance, the temperature table, wire pixels.
#include "BlackbodyTable.h"
#include "PixelTables.h"

#include <gtest/gtest.h>

#include <vector>

namespace pixkey {
namespace {

struct KelvinRow {
    int kelvin, red, green, blue;
};

// The published rows the white-balance setting reaches (6000..16000 K) and a few outside it.
const KelvinRow kKnownRows[] = {
    {6000, 255, 243, 239}, {6100, 255, 244, 242}, {6200, 255, 245, 245}, {6300, 255, 246, 248}, {6400, 255, 248, 251}, {6500, 255, 249, 253},
    {6600, 254, 249, 255}, {6700, 252, 247, 255}, {6800, 249, 246, 255}, {6900, 247, 245, 255}, {7000, 245, 243, 255}, {7100, 243, 242, 255},
    {7200, 240, 241, 255}, {7300, 239, 240, 255}, {7400, 237, 239, 255}, {7500, 235, 238, 255}, {7600, 233, 237, 255}, {7700, 231, 236, 255},
    {7800, 230, 235, 255}, {7900, 228, 234, 255}, {8000, 227, 233, 255}, {8100, 225, 232, 255}, {8200, 224, 231, 255}, {8300, 222, 230, 255},
    {8400, 221, 230, 255}, {8500, 220, 229, 255}, {8600, 218, 228, 255}, {8700, 217, 227, 255}, {8800, 216, 227, 255}, {8900, 215, 226, 255},
    {9000, 214, 225, 255}, {9100, 212, 225, 255}, {9200, 211, 224, 255}, {9300, 210, 223, 255}, {9400, 209, 223, 255}, {9500, 208, 222, 255},
    {9600, 207, 221, 255}, {9700, 207, 221, 255}, {9800, 206, 220, 255}, {9900, 205, 220, 255}, {10000, 204, 219, 255}, {10100, 203, 219, 255},
    {10200, 202, 218, 255}, {10300, 201, 218, 255}, {10400, 201, 217, 255}, {10500, 200, 217, 255}, {10600, 199, 216, 255}, {10700, 199, 216, 255},
    {10800, 198, 216, 255}, {10900, 197, 215, 255}, {11000, 196, 215, 255}, {11100, 196, 214, 255}, {11200, 195, 214, 255}, {11300, 195, 214, 255},
    {11400, 194, 213, 255}, {11500, 193, 213, 255}, {11600, 193, 212, 255}, {11700, 192, 212, 255}, {11800, 192, 212, 255}, {11900, 191, 211, 255},
    {12000, 191, 211, 255}, {12100, 190, 211, 255}, {12200, 190, 210, 255}, {12300, 189, 210, 255}, {12400, 189, 210, 255}, {12500, 188, 210, 255},
    {12600, 188, 209, 255}, {12700, 187, 209, 255}, {12800, 187, 209, 255}, {12900, 186, 208, 255}, {13000, 186, 208, 255}, {13100, 185, 208, 255},
    {13200, 185, 208, 255}, {13300, 185, 207, 255}, {13400, 184, 207, 255}, {13500, 184, 207, 255}, {13600, 183, 207, 255}, {13700, 183, 206, 255},
    {13800, 183, 206, 255}, {13900, 182, 206, 255}, {14000, 182, 206, 255}, {14100, 182, 205, 255}, {14200, 181, 205, 255}, {14300, 181, 205, 255},
    {14400, 181, 205, 255}, {14500, 180, 205, 255}, {14600, 180, 204, 255}, {14700, 180, 204, 255}, {14800, 179, 204, 255}, {14900, 179, 204, 255},
    {15000, 179, 204, 255}, {15100, 178, 203, 255}, {15200, 178, 203, 255}, {15300, 178, 203, 255}, {15400, 178, 203, 255}, {15500, 177, 203, 255},
    {15600, 177, 202, 255}, {15700, 177, 202, 255}, {15800, 177, 202, 255}, {15900, 176, 202, 255}, {16000, 176, 202, 255}, {1000, 255, 56, 0},
    {2000, 255, 137, 18}, {3000, 255, 180, 107}, {4000, 255, 209, 163}, {5000, 255, 228, 206}, {20000, 168, 197, 255}, {40000, 155, 188, 255},
};

TEST(BlackbodyTable, holdsThePublishedRows)
{
    for (const KelvinRow &row : kKnownRows) {
        const int n = (row.kelvin - 1000) / 100;
        ASSERT_GE(n, 0);
        ASSERT_LT(n, kBlackbodyRows);
        const BlackbodyColour c = kBlackbodyTable[n];
        EXPECT_EQ(c.red, row.red) << row.kelvin << " K";
        EXPECT_EQ(c.green, row.green) << row.kelvin << " K";
        EXPECT_EQ(c.blue, row.blue) << row.kelvin << " K";
    }
}

TEST(PixelTables, gammaTable)
{
    PixelTables t;
    // Default 0.65 darkens mid-tones.
    EXPECT_EQ(t.gammaTable()[128], 88);
    EXPECT_EQ(t.gammaTable()[64], 30);
    EXPECT_EQ(t.gammaTable()[200], 175);
    EXPECT_EQ(t.gammaTable()[0], 0);
    EXPECT_EQ(t.gammaTable()[255], 255);

    t.SetGamma(1.0);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(t.gammaTable()[i], i) << i;

    PixelTables low;
    low.SetGamma(0.1);
    for (double g : {0.0, -3.0, 0.05}) {
        t.SetGamma(g);
        EXPECT_EQ(t.gammaTable(), low.gammaTable()) << g;
    }
    PixelTables high;
    high.SetGamma(10.0);
    t.SetGamma(40.0);
    EXPECT_EQ(t.gammaTable(), high.gammaTable());
    EXPECT_NE(high.gammaTable(), low.gammaTable());
}

void expectWhiteBalance(const PixelTables &t, int r, int g, int b)
{
    for (int i : {0, 1, 100, 200, 255}) {
        EXPECT_EQ(t.redTable()[i], i * r / 255) << i;
        EXPECT_EQ(t.greenTable()[i], i * g / 255) << i;
        EXPECT_EQ(t.blueTable()[i], i * b / 255) << i;
    }
}

TEST(PixelTables, whiteBalanceRowChoice)
{
    PixelTables t;
    expectWhiteBalance(t, 220, 229, 255); // 8500 K at construction

    EXPECT_TRUE(t.SetWhiteBalance(6500));
    expectWhiteBalance(t, 255, 249, 253);

    // Out of range leaves the tables as they were.
    EXPECT_FALSE(t.SetWhiteBalance(850));
    EXPECT_FALSE(t.SetWhiteBalance(40050));
    EXPECT_FALSE(t.SetWhiteBalance(-5000));
    expectWhiteBalance(t, 255, 249, 253);

    EXPECT_TRUE(t.SetWhiteBalance(900)); // the 1000 K row
    expectWhiteBalance(t, 255, 56, 0);
    EXPECT_TRUE(t.SetWhiteBalance(6550)); // row 56, 6600 K
    expectWhiteBalance(t, 254, 249, 255);
    EXPECT_TRUE(t.SetWhiteBalance(8549)); // nearest 100 K: 8500
    expectWhiteBalance(t, 220, 229, 255);
    EXPECT_TRUE(t.SetWhiteBalance(40049));
    expectWhiteBalance(t, 155, 188, 255);
}

TEST(PixelTables, wellKnownColours)
{
    PixelTables t;
    t.SetWhiteBalance(6500);
    EXPECT_EQ(t.convertPixel(255, 255, 255), 0xFFDF); // white at 6500 K, any gamma
    EXPECT_EQ(t.convertPixel(0, 0, 0), 0x0000);

    // The temperature row applies crosswise: its red scales blue, its blue scales red.
    t.SetGamma(1.0);
    t.SetWhiteBalance(8500); // 220, 229, 255
    EXPECT_EQ(t.convertPixel(255, 0, 0), 220 >> 3);          // pure blue
    EXPECT_EQ(t.convertPixel(0, 0, 255), 0xF800);            // pure red, untouched
    EXPECT_EQ(t.convertPixel(0, 255, 0), (229 >> 2) << 5);   // pure green
}

TEST(PixelTables, greenFloor)
{
    PixelTables t;
    t.SetGamma(1.0);
    t.SetWhiteBalance(6500); // green 249: input 8 -> 7, input 9 -> 8
    ASSERT_EQ(t.greenTable()[8], 7);
    ASSERT_EQ(t.greenTable()[9], 8);
    EXPECT_EQ(t.convertPixel(0, 8, 0), 0);
    EXPECT_EQ(t.convertPixel(0, 9, 0), 2 << 5);
}

TEST(PixelTables, lineOrderAndByteOrder)
{
    PixelTables t;
    t.SetGamma(1.0);
    t.SetWhiteBalance(6500);
    std::vector<uint8_t> row(288, 0);
    // Column 95 white, column 0 pure red, column 1 pure blue.
    row[95 * 3 + 0] = row[95 * 3 + 1] = row[95 * 3 + 2] = 255;
    row[0 * 3 + 2] = 255;
    row[1 * 3 + 0] = 255;
    uint8_t wire[192];
    t.ConvertLine(row.data(), wire);
    EXPECT_EQ(wire[0], 0xFF); // column 95 first, high byte first
    EXPECT_EQ(wire[1], 0xDF);
    const uint16_t red = t.convertPixel(0, 0, 255);
    const uint16_t blue = t.convertPixel(255, 0, 0);
    EXPECT_EQ(wire[190], red >> 8); // column 0 last
    EXPECT_EQ(wire[191], red & 0xff);
    EXPECT_EQ(wire[188], blue >> 8);
    EXPECT_EQ(wire[189], blue & 0xff);
    for (int i = 2; i < 188; ++i)
        ASSERT_EQ(wire[i], 0) << i;
}

TEST(PixelTables, convertLineAgreesWithPixelsForEveryValue)
{
    PixelTables t;
    t.SetGamma(0.8);
    t.SetWhiteBalance(11200);
    std::vector<uint8_t> row(288);
    for (int start = 0; start < 256; start += 96) {
        for (int x = 0; x < 96; ++x) {
            const int v = (start + x) & 0xff;
            row[x * 3 + 0] = static_cast<uint8_t>(v);
            row[x * 3 + 1] = static_cast<uint8_t>(255 - v);
            row[x * 3 + 2] = static_cast<uint8_t>(v * 7);
        }
        uint8_t wire[192];
        t.ConvertLine(row.data(), wire);
        for (int i = 0; i < 96; ++i) {
            const int x = 95 - i;
            const uint8_t b = row[x * 3], g = row[x * 3 + 1], r = row[x * 3 + 2];
            const int blue = t.redTable()[t.gammaTable()[b]];
            int green = t.greenTable()[t.gammaTable()[g]];
            const int red = t.blueTable()[t.gammaTable()[r]];
            if (green < 8)
                green = 0;
            const int expected = (red >> 3) << 11 | (green >> 2) << 5 | (blue >> 3);
            ASSERT_EQ(wire[2 * i] << 8 | wire[2 * i + 1], expected) << "x " << x;
        }
    }
}

} // namespace
} // namespace pixkey
