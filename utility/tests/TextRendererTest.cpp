// Text drawing with the bundled fonts: measured and drawn widths agree, alignment, colours,
// shadow, letter counting and drawing from several threads.
#include <pixkey/utility/CLocalizableTextRenderer.h>
#include <pixkey/utility/CTextRenderer.h>

#include "pixkey_plugin.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

using namespace pixkey;

namespace {

struct Face {
    std::vector<std::uint8_t> pixels;
    PkxSurface surface;
    explicit Face(std::uint8_t fill = 0) : pixels(96 * 288, fill), surface{pixels.data(), 96, 96, 288} {}
    const std::uint8_t *at(int x, int y) const { return &pixels[std::size_t(y) * 288 + std::size_t(x) * 3]; }

    // Bounding box of pixels that differ from `fill`: left, top, right, bottom (inclusive); left -1 if none.
    std::array<int, 4> inked(std::uint8_t fill = 0) const
    {
        std::array<int, 4> box{-1, -1, -1, -1};
        for (int y = 0; y < 96; ++y)
            for (int x = 0; x < 96; ++x) {
                const std::uint8_t *p = at(x, y);
                if (p[0] == fill && p[1] == fill && p[2] == fill)
                    continue;
                if (box[0] < 0) {
                    box = {x, y, x, y};
                } else {
                    box[0] = std::min(box[0], x);
                    box[1] = std::min(box[1], y);
                    box[2] = std::max(box[2], x);
                    box[3] = std::max(box[3], y);
                }
            }
        return box;
    }
};

constexpr const char *kFonts[] = {"VELMORA_12PX", "VELMORA_16PX", "VELMORA_21PX", "TIMELINE"};

// First in the file: under CTest every case runs in a fresh process, so here the fonts are
// registered by paint-like threads, not by the main thread.
TEST(TextRenderer, FirstUseFromSeveralThreadsAtOnce)
{
    std::vector<int> widths(4, -1);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&widths, t] {
            CTextRenderer renderer;
            if (renderer.LoadFont(kFonts[t % 2]))
                widths[std::size_t(t)] = renderer.PrintText(nullptr, "12:00", 0, 0);
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_GT(widths[0], 0);
    EXPECT_GT(widths[1], 0);
    EXPECT_EQ(widths[0], widths[2]);
    EXPECT_EQ(widths[1], widths[3]);
}

TEST(TextRenderer, EveryFontLoadsWithItsLineHeight)
{
    const int heights[] = {12, 16, 21, 10};
    for (int i = 0; i < 4; ++i) {
        CTextRenderer plain;
        CLocalizableTextRenderer local;
        ASSERT_TRUE(plain.LoadFont(kFonts[i])) << kFonts[i];
        ASSERT_TRUE(local.LoadFont(kFonts[i])) << kFonts[i];
        EXPECT_EQ(plain.GetHeight(), heights[i]);
        EXPECT_EQ(local.GetHeight(), heights[i]);
    }
    CTextRenderer renderer;
    EXPECT_FALSE(renderer.LoadFont("VELMORA_99PX"));
    EXPECT_FALSE(renderer.LoadFont("velmora_12px"));
    EXPECT_FALSE(renderer.LoadFont(nullptr));
    Face face;
    EXPECT_EQ(renderer.PrintText(&face.surface, "no font", 0, 0), 0); // nothing loaded yet
    EXPECT_EQ(face.inked()[0], -1);
    ASSERT_TRUE(renderer.LoadFont("VELMORA_16PX"));
    EXPECT_FALSE(renderer.LoadFont("UNKNOWN")); // keeps the font it had
    EXPECT_EQ(renderer.GetHeight(), 16);
}

TEST(TextRenderer, DrawnTextStaysInsideItsMeasuredBox)
{
    for (const char *font : kFonts) {
        SCOPED_TRACE(font);
        CTextRenderer renderer;
        ASSERT_TRUE(renderer.LoadFont(font));
        const char *text = "Ag1:5j";
        const int measured = renderer.PrintText(nullptr, text, 0, 0);
        ASSERT_GT(measured, 20);
        Face face;
        const int drawn = renderer.PrintText(&face.surface, text, 4, 30);
        EXPECT_EQ(drawn, measured);
        const auto box = face.inked();
        ASSERT_GE(box[0], 0);
        EXPECT_GE(box[0], 4 - 1);
        EXPECT_LE(box[0], 4 + 2);
        EXPECT_LE(box[2], 4 + measured);
        EXPECT_GE(box[2], 4 + measured - 3); // the ink reaches (nearly) the measured end
        EXPECT_GE(box[1], 30);               // top edge at y
        EXPECT_LT(box[3], 30 + renderer.GetHeight() + 1);
    }
}

TEST(TextRenderer, AlignmentPlacesTheTextAroundX)
{
    CTextRenderer renderer;
    ASSERT_TRUE(renderer.LoadFont("VELMORA_16PX"));
    const int width = renderer.PrintText(nullptr, "HHHH", 0, 0);

    Face centred;
    renderer.alignment = CTextRenderer::AlignCenter;
    renderer.PrintText(&centred.surface, "HHHH", 48, 10);
    const auto c = centred.inked();
    EXPECT_NEAR((c[0] + c[2] + 1) / 2.0, 48.0, 2.0);

    Face right;
    renderer.alignment = CTextRenderer::AlignRight;
    renderer.PrintText(&right.surface, "HHHH", 95, 10);
    const auto r = right.inked();
    EXPECT_LE(r[2], 95);
    EXPECT_GE(r[2], 95 - 3);
    EXPECT_NEAR(r[0], 95 - width, 2);
}

TEST(TextRenderer, ColourShadowAndClipping)
{
    CTextRenderer renderer;
    ASSERT_TRUE(renderer.LoadFont("VELMORA_21PX"));
    renderer.color = rgbQuad(255, 0, 0);
    Face face;
    renderer.PrintText(&face.surface, "M", 10, 10);
    int reddest = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            const std::uint8_t *p = face.at(x, y);
            EXPECT_EQ(p[0], 0); // blue stays off
            EXPECT_EQ(p[1], 0); // green stays off
            reddest = std::max<int>(reddest, p[2]);
        }
    EXPECT_EQ(reddest, 255);

    const RGBQUAD green = rgbQuad(0, 255, 0);
    Face overridden;
    renderer.PrintText(&overridden.surface, "M", 10, 10, &green);
    EXPECT_EQ(overridden.inked()[0], face.inked()[0]);

    // A shadow darkens pixels below and right of the text on a light face.
    Face grey(128);
    renderer.color = rgbQuad(255, 255, 255);
    renderer.PrintShadowedText(&grey.surface, "M", 10, 10);
    int darker = 0, lighter = 0;
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            const int v = grey.at(x, y)[1];
            darker += v < 128;
            lighter += v > 128;
        }
    EXPECT_GT(darker, 0);
    EXPECT_GT(lighter, 0);

    // Text running off every edge is clipped without touching memory outside the face.
    std::vector<std::uint8_t> guarded(98 * 288, 0x55);
    PkxSurface middle{guarded.data() + 288, 96, 96, 288};
    std::fill(guarded.begin() + 288, guarded.begin() + 97 * 288, 0);
    renderer.alignment = CTextRenderer::AlignCenter;
    renderer.PrintShadowedText(&middle, "MMMMMMMMMMMMMMMMMMMMMMMMM", 48, -8);
    renderer.PrintShadowedText(&middle, "MMMMMMMMMMMMMMMMMMMMMMMMM", 48, 88);
    for (int i = 0; i < 288; ++i) {
        ASSERT_EQ(guarded[std::size_t(i)], 0x55);
        ASSERT_EQ(guarded[std::size_t(97 * 288 + i)], 0x55);
    }
}

TEST(TextRenderer, LettersInLengthCountsWholeCharacters)
{
    CTextRenderer renderer;
    ASSERT_TRUE(renderer.LoadFont("VELMORA_12PX"));
    const int abc = renderer.PrintText(nullptr, "abc", 0, 0);
    EXPECT_EQ(renderer.LettersInLength("abcdef", abc), 3u);
    EXPECT_EQ(renderer.LettersInLength("abcdef", abc - 1), 2u);
    EXPECT_EQ(renderer.LettersInLength("abcdef", 1000), 6u);
    EXPECT_EQ(renderer.LettersInLength("abcdef", 0), 0u);
    EXPECT_EQ(renderer.LettersInLength("", 50), 0u);
    EXPECT_EQ(renderer.LettersInLength(nullptr, 50), 0u);

    // Two-byte letters: the count is in bytes and never splits one.
    const char *czech = "\xc5\xbe\xc5\xbe\xc5\xbe\xc5\xbe"; // four times z with caron
    const int two = renderer.PrintText(nullptr, "\xc5\xbe\xc5\xbe", 0, 0);
    EXPECT_EQ(renderer.LettersInLength(czech, two), 4u);
    EXPECT_EQ(renderer.LettersInLength(czech, two + 1), 4u);
}

TEST(TextRenderer, Latin1BytesAreReadWhenTheTextIsNotUtf8)
{
    CTextRenderer renderer;
    ASSERT_TRUE(renderer.LoadFont("VELMORA_12PX"));
    EXPECT_EQ(renderer.PrintText(nullptr, "-3\xb0" "C", 0, 0), renderer.PrintText(nullptr, "-3\xc2\xb0" "C", 0, 0));
    EXPECT_EQ(renderer.LettersInLength("\xb0\xb0\xb0", 1000), 3u);
    EXPECT_EQ(renderer.PrintText(nullptr, "", 0, 0), 0);
    EXPECT_EQ(renderer.PrintText(nullptr, nullptr, 0, 0), 0);
}

TEST(TextRenderer, SeveralThreadsDrawTheSameFace)
{
    auto paint = [](std::vector<std::uint8_t> &pixels) {
        CLocalizableTextRenderer renderer;
        if (!renderer.LoadFont("VELMORA_16PX"))
            return;
        PkxSurface surface{pixels.data(), 96, 96, 288};
        renderer.alignment = CTextRenderer::AlignCenter;
        for (int i = 0; i < 20; ++i)
            renderer.PrintShadowedText(&surface, "12:34:56", 48, 40);
    };
    std::vector<std::uint8_t> reference(96 * 288, 0);
    paint(reference);
    std::vector<std::vector<std::uint8_t>> results(4, std::vector<std::uint8_t>(96 * 288, 0));
    std::vector<std::thread> threads;
    for (auto &pixels : results)
        threads.emplace_back(paint, std::ref(pixels));
    for (std::thread &thread : threads)
        thread.join();
    for (const auto &pixels : results)
        EXPECT_TRUE(pixels == reference);
}

} // namespace
