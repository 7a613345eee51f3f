// Pictures from files: formats, refusal of bad and huge files, fitting and drawing with clipping.
#include <pixkey/utility/CFileImage.h>
#include <pixkey/utility/PkxImages.h>

#include "pixkey_plugin.h"

#include <QFile>
#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <fstream>
#include <vector>

using pixkey::CFileImage;

namespace {

std::string tempPath(const std::string &name)
{
    return ::testing::TempDir() + "/utility_image_" + name;
}

std::string writeImage(const std::string &name, int width, int height, QColor color, const char *format)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    const std::string path = tempPath(name);
    EXPECT_TRUE(image.save(QString::fromStdString(path), format)) << name;
    return path;
}

std::string writeBytes(const std::string &name, const std::string &bytes)
{
    const std::string path = tempPath(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
}

// A 1x1 GIF whose only pixel is red (Qt reads GIF but cannot write it).
const std::string kRedGif("GIF87a\x01\x00\x01\x00\x80\x00\x00\xff\x00\x00\x00\x00\x00"
                          ",\x00\x00\x00\x00\x01\x00\x01\x00\x00\x02\x02\x44\x01\x00;",
                          36);

struct Face {
    std::vector<std::uint8_t> pixels = std::vector<std::uint8_t>(96 * 288, 0);
    PkxSurface surface{pixels.data(), 96, 96, 288};
    std::array<int, 3> bgr(int x, int y) const
    {
        const std::uint8_t *p = &pixels[std::size_t(y) * 288 + std::size_t(x) * 3];
        return {p[0], p[1], p[2]};
    }
};

TEST(FileImage, EveryAcceptedFormatDecodes)
{
    const struct {
        std::string path;
        int width, height;
    } cases[] = {
        {writeImage("a.png", 30, 20, Qt::red, "PNG"), 30, 20},
        {writeImage("a.jpg", 30, 20, Qt::red, "JPEG"), 30, 20},
        {writeImage("a.bmp", 30, 20, Qt::red, "BMP"), 30, 20},
        {writeBytes("a.gif", kRedGif), 1, 1},
        // The content decides, not the name.
        {writeImage("png-named.jpg", 7, 3, Qt::red, "PNG"), 7, 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        CFileImage image;
        ASSERT_TRUE(image.Load(c.path.c_str()));
        EXPECT_EQ(image.GetWidth(), c.width);
        EXPECT_EQ(image.GetHeight(), c.height);
        ASSERT_NE(image.bits, nullptr);
        EXPECT_GE(image.GetStride(), c.width * 4);
        // B, G, R, A; JPEG may stray a little from pure red.
        EXPECT_LT(image.bits[0], 16);
        EXPECT_LT(image.bits[1], 16);
        EXPECT_GT(image.bits[2], 240);
        EXPECT_EQ(image.bits[3], 255);
    }
}

TEST(FileImage, BadInputFailsAndLeavesTheObjectEmpty)
{
    const std::string good = writeImage("good.png", 8, 8, Qt::blue, "PNG");
    const std::string text = writeBytes("text.png", "this is not a picture at all");
    const std::string truncated = writeBytes("truncated.gif", kRedGif.substr(0, 12));
    const std::string svg = writeBytes("vector.svg",
        "<svg xmlns='http://www.w3.org/2000/svg' width='10' height='10'><rect width='10' height='10'/></svg>");
    const std::string empty = writeBytes("empty.png", "");
    // A FIFO nobody writes to would block an open() for ever; devices never end.
    const std::string fifo = tempPath("fifo.png");
    ::unlink(fifo.c_str());
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string directory = ::testing::TempDir();
    for (const char *path : {text.c_str(), truncated.c_str(), svg.c_str(), empty.c_str(), fifo.c_str(),
                             directory.c_str(), "/dev/zero", "/nonexistent/x.png", "",
                             static_cast<const char *>(nullptr)}) {
        SCOPED_TRACE(path ? path : "(null)");
        CFileImage image;
        ASSERT_TRUE(image.Load(good.c_str()));
        EXPECT_FALSE(image.Load(path));
        EXPECT_EQ(image.bits, nullptr);
        EXPECT_EQ(image.GetWidth(), 0);
        EXPECT_FALSE(image.Fit(96, 96));
        Face face;
        EXPECT_FALSE(image.StretchDIBits(&face.surface, 0, 0, 96, 96));
    }
}

TEST(FileImage, HugePicturesAreRefusedBeforeDecoding)
{
    // Small on disk, enormous in memory.
    const std::string wide = writeImage("wide.png", 20000, 4, Qt::green, "PNG");
    const std::string square = writeImage("square.png", 4200, 4200, Qt::green, "PNG"); // 17.6 Mpx
    CFileImage image;
    EXPECT_FALSE(image.Load(wide.c_str()));
    EXPECT_FALSE(image.Load(square.c_str()));
    EXPECT_EQ(image.bits, nullptr);
    const std::string fine = writeImage("fine.png", 4000, 10, Qt::green, "PNG");
    EXPECT_TRUE(image.Load(fine.c_str()));
}

TEST(FileImage, FitKeepsProportionsBothWays)
{
    const struct {
        int width, height, boxW, boxH, expectW, expectH;
    } cases[] = {
        {200, 100, 96, 96, 96, 48},  // wide, reduced
        {10, 20, 96, 96, 48, 96},    // tall, enlarged
        {50, 50, 96, 48, 48, 48},    // square into a band
        {1000, 1, 96, 96, 96, 1},    // never below one pixel
        {96, 96, 96, 96, 96, 96},    // already fitting: unchanged
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " into " << c.boxW << "x" << c.boxH);
        const std::string path = writeImage("fit.png", c.width, c.height, Qt::white, "PNG");
        CFileImage image;
        ASSERT_TRUE(image.Load(path.c_str()));
        ASSERT_TRUE(image.Fit(c.boxW, c.boxH));
        EXPECT_EQ(image.GetWidth(), c.expectW);
        EXPECT_EQ(image.GetHeight(), c.expectH);
        EXPECT_NE(image.bits, nullptr);
    }
    CFileImage image;
    ASSERT_TRUE(image.Load(writeImage("fit0.png", 5, 5, Qt::white, "PNG").c_str()));
    EXPECT_FALSE(image.Fit(0, 10));
    EXPECT_FALSE(image.Fit(10, -1));
    EXPECT_EQ(image.GetWidth(), 5);
}

TEST(FileImage, StretchDIBitsDrawsBgrAndClipsToTheFace)
{
    CFileImage image;
    ASSERT_TRUE(image.Load(writeImage("red.png", 10, 10, Qt::red, "PNG").c_str()));

    Face inside;
    ASSERT_TRUE(image.StretchDIBits(&inside.surface, 10, 20, 30, 40));
    EXPECT_EQ(inside.bgr(10, 20), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(inside.bgr(39, 59), (std::array<int, 3>{0, 0, 255}));
    EXPECT_EQ(inside.bgr(9, 20), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(inside.bgr(40, 20), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(inside.bgr(10, 60), (std::array<int, 3>{0, 0, 0}));

    // Far larger than the face and partly outside it: the face fills, nothing outside is touched.
    std::vector<std::uint8_t> guarded(96 * 288 + 2 * 288, 0x55);
    PkxSurface middle{guarded.data() + 288, 96, 96, 288};
    ASSERT_TRUE(image.StretchDIBits(&middle, -50, -50, 400, 400));
    EXPECT_EQ(guarded[288 + 0], 0);
    EXPECT_EQ(guarded[288 + 2], 255);
    EXPECT_EQ(guarded[288 + 96 * 288 - 1], 255);
    for (int i = 0; i < 288; ++i) {
        ASSERT_EQ(guarded[std::size_t(i)], 0x55) << "row above the face, byte " << i;
        ASSERT_EQ(guarded[std::size_t(97 * 288 + i)], 0x55) << "row below the face, byte " << i;
    }

    Face face;
    EXPECT_TRUE(image.StretchDIBits(&face.surface, 200, 200, 10, 10)); // wholly outside: draws nothing
    EXPECT_EQ(face.bgr(95, 95), (std::array<int, 3>{0, 0, 0}));
    EXPECT_FALSE(image.StretchDIBits(nullptr, 0, 0, 96, 96));
    EXPECT_FALSE(image.StretchDIBits(&face.surface, 0, 0, 0, 96));
}

TEST(FileImage, TransparentPartsLetTheFaceShowThrough)
{
    QImage picture(2, 1, QImage::Format_ARGB32);
    picture.setPixel(0, 0, qRgba(255, 255, 255, 255));
    picture.setPixel(1, 0, qRgba(255, 255, 255, 0));
    const std::string path = tempPath("alpha.png");
    ASSERT_TRUE(picture.save(QString::fromStdString(path), "PNG"));
    CFileImage image;
    ASSERT_TRUE(image.Load(path.c_str()));
    Face face;
    std::fill(face.pixels.begin(), face.pixels.end(), 0x20);
    ASSERT_TRUE(image.StretchDIBits(&face.surface, 0, 0, 2, 1));
    EXPECT_EQ(face.bgr(0, 0), (std::array<int, 3>{255, 255, 255}));
    EXPECT_EQ(face.bgr(1, 0), (std::array<int, 3>{0x20, 0x20, 0x20}));
}

} // namespace

TEST(PkxImages, CopiesAsIsOrFitsCentredOnTransparency)
{
    QImage wide(64, 32, QImage::Format_ARGB32);
    wide.fill(QColor(10, 20, 30));
    wide.setPixelColor(0, 0, QColor(200, 100, 50, 128));

    PkxImage *same = pixkey::ToPkxImage(wide);
    ASSERT_NE(same, nullptr);
    EXPECT_EQ(same->width, 64);
    EXPECT_EQ(same->height, 32);
    // B, G, R, A with straight alpha.
    EXPECT_EQ(same->pixels[0], 50);
    EXPECT_EQ(same->pixels[1], 100);
    EXPECT_EQ(same->pixels[2], 200);
    EXPECT_EQ(same->pixels[3], 128);
    pkx_image_free(same);

    PkxImage *fitted = pixkey::ToPkxImage(wide, 32);
    ASSERT_NE(fitted, nullptr);
    EXPECT_EQ(fitted->width, 32);
    EXPECT_EQ(fitted->height, 32);
    auto alphaAt = [&](int x, int y) { return fitted->pixels[y * fitted->stride + x * 4 + 3]; };
    EXPECT_EQ(alphaAt(16, 0), 0);    // above the picture: transparent
    EXPECT_EQ(alphaAt(16, 31), 0);   // below it
    EXPECT_EQ(alphaAt(16, 16), 255); // the picture, 32 x 16 in the middle
    pkx_image_free(fitted);

    EXPECT_EQ(pixkey::ToPkxImage(QImage()), nullptr);
}
