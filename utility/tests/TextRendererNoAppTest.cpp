// Without a QGuiApplication the renderer must fail softly instead of crashing.
#include <pixkey/utility/CLocalizableTextRenderer.h>
#include <pixkey/utility/CTextRenderer.h>

#include "pixkey_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace pixkey;

TEST(TextRendererWithoutApplication, MeasuresZeroAndDrawsNothing)
{
    CTextRenderer plain;
    CLocalizableTextRenderer local;
    EXPECT_FALSE(plain.LoadFont("VELMORA_12PX"));
    EXPECT_FALSE(local.LoadFont("VELMORA_16PX"));
    std::vector<std::uint8_t> pixels(96 * 288, 0);
    PkxSurface surface{pixels.data(), 96, 96, 288};
    EXPECT_EQ(plain.PrintText(&surface, "Ctrl+C", 48, 40), 0);
    EXPECT_EQ(local.PrintShadowedText(&surface, "Ctrl+C", 48, 40), 0);
    EXPECT_EQ(plain.PrintText(nullptr, "Ctrl+C", 0, 0), 0);
    EXPECT_EQ(plain.LettersInLength("Ctrl+C", 96), 0u);
    EXPECT_EQ(plain.GetHeight(), 0);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b == 0; }));
}
