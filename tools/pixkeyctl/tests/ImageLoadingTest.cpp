// pixkeyctl's option parsing and picture loading, without a keypad.

#include "CtlSupport.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace pixkey;
using namespace pixkey::ctl;

namespace {

namespace fs = std::filesystem;

class TempDir {
public:
    TempDir()
    {
        char tmpl[] = "/tmp/pixkeyctl-img-XXXXXX";
        m_path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string file(const std::string &name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

void writeBytes(const std::string &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

bool writeRgbaPng(const std::string &path, int w, int h, const std::vector<uint8_t> &rgba)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = w;
    png.height = h;
    png.format = PNG_FORMAT_RGBA;
    return png_image_write_to_file(&png, path.c_str(), 0, rgba.data(), w * 4, nullptr) != 0;
}

std::array<int, 3> faceRgb(const Face &face, int x, int y)
{
    const uint8_t *p = &face[y * kRowBytes + x * 3];
    return {p[2], p[1], p[0]};
}

TEST(CtlOptionsTest, OptionsAnywhereAndBadValuesRejected)
{
    std::vector<std::string> args{"show", "1", "a.png", "--hold", "--orientation", "3", "--gamma=1.5",
                                  "--white-balance", "6500", "--brightness", "0", "--port", "/dev/x"};
    CtlOptions o;
    std::string error;
    ASSERT_TRUE(parseOptions(args, o, error)) << error;
    EXPECT_EQ(args, (std::vector<std::string>{"show", "1", "a.png"}));
    EXPECT_TRUE(o.hold);
    EXPECT_EQ(o.orientation, 3);
    EXPECT_DOUBLE_EQ(o.gamma, 1.5);
    EXPECT_EQ(o.whiteBalance, 6500);
    EXPECT_EQ(o.brightness, 0);
    EXPECT_EQ(o.port, "/dev/x");

    const std::vector<std::vector<std::string>> bad{
        {"--orientation", "4"}, {"--orientation"}, {"--gamma", "abc"}, {"--gamma", "0"}, {"--gamma", "nan"},
        {"--brightness", "3"}, {"--white-balance", "500"}, {"--port", ""}, {"--frobnicate"}, {"--hold=1"},
        {"--brightness", "1x"}};
    for (auto b : bad) {
        CtlOptions d;
        error.clear();
        EXPECT_FALSE(parseOptions(b, d, error)) << b.front();
        EXPECT_FALSE(error.empty());
    }
}

TEST(CtlImageTest, ReadsPngAndPpmAndComposesTransparencyOnBlack)
{
    TempDir dir;
    // 2x1 PNG: opaque orange, fully transparent white.
    ASSERT_TRUE(writeRgbaPng(dir.file("a.png"), 2, 1, {255, 128, 0, 255, 255, 255, 255, 0}));
    RgbImage img;
    std::string error;
    ASSERT_TRUE(loadImage(dir.file("a.png"), img, error)) << error;
    ASSERT_EQ(img.width, 2);
    ASSERT_EQ(img.height, 1);
    EXPECT_EQ((std::vector<uint8_t>(img.pixels.begin(), img.pixels.begin() + 3)), (std::vector<uint8_t>{255, 128, 0}));
    EXPECT_EQ((std::vector<uint8_t>(img.pixels.begin() + 3, img.pixels.end())), (std::vector<uint8_t>{0, 0, 0}));

    // P6 with a comment, and 16-bit P5 grey.
    writeBytes(dir.file("b.ppm"), std::string("P6\n# made by hand\n2 1\n255\n") + std::string("\x0a\x14\x1e\xff\x00\x80", 6));
    ASSERT_TRUE(loadImage(dir.file("b.ppm"), img, error)) << error;
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{10, 20, 30, 255, 0, 128}));
    writeBytes(dir.file("c.pgm"), std::string("P5 1 1 65535\n") + std::string("\xff\xff", 2));
    ASSERT_TRUE(loadImage(dir.file("c.pgm"), img, error)) << error;
    EXPECT_EQ(img.pixels, (std::vector<uint8_t>{255, 255, 255}));
}

TEST(CtlImageTest, BrokenFilesGiveAReasonNotACrash)
{
    TempDir dir;
    ASSERT_TRUE(writeRgbaPng(dir.file("ok.png"), 8, 8, std::vector<uint8_t>(8 * 8 * 4, 200)));
    std::ifstream in(dir.file("ok.png"), std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), {});
    writeBytes(dir.file("cut.png"), png.substr(0, png.size() / 2));
    writeBytes(dir.file("empty.png"), "");
    writeBytes(dir.file("text.png"), "hello, this is not a picture");
    writeBytes(dir.file("cut.ppm"), "P6\n4 4\n255\nabc");
    writeBytes(dir.file("huge.ppm"), "P6\n99999999 4\n255\n");
    writeBytes(dir.file("cut.jpg"), std::string("\xff\xd8\xff\xe0\x00\x10JFIF\x00", 11));
    for (const char *name : {"cut.png", "empty.png", "text.png", "cut.ppm", "huge.ppm", "cut.jpg", "missing.png"}) {
        RgbImage img;
        std::string error;
        EXPECT_FALSE(loadImage(dir.file(name), img, error)) << name;
        EXPECT_FALSE(error.empty()) << name;
    }
}

TEST(CtlImageTest, FitKeepsAspectOnBlackAndCopiesExactSizes)
{
    // 192x96 red: fitted to 96x48, rows 24..71.
    RgbImage wide{192, 96, {}};
    wide.pixels.assign(192 * 96 * 3, 0);
    for (size_t i = 0; i < wide.pixels.size(); i += 3)
        wide.pixels[i] = 255;
    Face f = fitToFace(wide);
    EXPECT_EQ(faceRgb(f, 50, 23), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(faceRgb(f, 0, 24), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(faceRgb(f, 95, 71), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(faceRgb(f, 50, 72), (std::array<int, 3>{0, 0, 0}));

    // 10x20 grown to 48x96, columns 24..71; a vertical split stays split.
    RgbImage tall{10, 20, std::vector<uint8_t>(10 * 20 * 3, 0)};
    for (int y = 0; y < 20; ++y)
        for (int x = 5; x < 10; ++x)
            tall.pixels[(y * 10 + x) * 3 + 2] = 255;
    f = fitToFace(tall);
    EXPECT_EQ(faceRgb(f, 23, 50), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(faceRgb(f, 26, 50), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(faceRgb(f, 69, 50), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(faceRgb(f, 72, 50), (std::array<int, 3>{0, 0, 0}));

    // 96x96 is taken pixel for pixel, B,G,R top-down.
    RgbImage exact{96, 96, std::vector<uint8_t>(96 * 96 * 3)};
    for (size_t i = 0; i < exact.pixels.size(); ++i)
        exact.pixels[i] = static_cast<uint8_t>(i * 7);
    f = fitToFace(exact);
    for (int y : {0, 17, 95})
        for (int x : {0, 40, 95}) {
            const uint8_t *s = &exact.pixels[(y * 96 + x) * 3];
            EXPECT_EQ(faceRgb(f, x, y), (std::array<int, 3>{s[0], s[1], s[2]}));
        }
}

} // namespace
