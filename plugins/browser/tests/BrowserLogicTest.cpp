// Settings exchange, the reload scale, the dialog's square arithmetic and the three faces.
#include "BrowserSettings.h"
#include "FaceDrawing.h"
#include "ReloadScale.h"
#include "SelectionSquare.h"

#include <pixkey_plugin.h>

#include <gtest/gtest.h>

#include <QColor>

#include <string>

using namespace browser;

namespace {

struct Property {
    std::string name, value;
};

bool readProperty(const BrowserSettings &settings, int index, Property &out)
{
    char name[PKX_PROPERTY_TEXT_SIZE] = {};
    char value[PKX_PROPERTY_TEXT_SIZE] = {};
    if (!getProperty(settings, index, name, value))
        return false;
    out = {name, value};
    return true;
}

QColor at(const QImage &image, int x, int y)
{
    return image.pixelColor(x, y);
}

QImage face()
{
    QImage image(96, 96, QImage::Format_BGR888);
    image.fill(QColor(1, 2, 3));
    return image;
}

} // namespace

TEST(BrowserSettings, PropertiesInOrderWithDefaultsThenNoMore)
{
    const BrowserSettings defaults;
    const Property expected[] = {{"Height", "1024"}, {"Width", "1024"}, {"URL", kDefaultUrl},
                                 {"Target", kDefaultUrl}, {"ReloadPeriod", "420"}, {"Autoscroll", "0"},
                                 {"Animation", "0"}, {"TargetTop", "0"}, {"TargetLeft", "0"},
                                 {"TargetSize", "96"}, {"Action", "1"}};
    for (int i = 0; i < 11; ++i) {
        Property p;
        ASSERT_TRUE(readProperty(defaults, 256 + i, p)) << i;
        EXPECT_EQ(p.name, expected[i].name);
        EXPECT_EQ(p.value, expected[i].value);
    }
    Property p;
    EXPECT_FALSE(readProperty(defaults, 267, p));
    EXPECT_FALSE(readProperty(defaults, 255, p));
    EXPECT_FALSE(readProperty(defaults, 512, p));
}

TEST(BrowserSettings, SetReadsDecimalLikeTheStoredFormAndRefusesUnknownNames)
{
    BrowserSettings s;
    EXPECT_EQ(setProperty(s, "Width", "640"), 1);
    EXPECT_EQ(setProperty(s, "TargetLeft", "  -12px"), 1);
    EXPECT_EQ(setProperty(s, "Height", "tall"), 1);
    EXPECT_EQ(setProperty(s, "ReloadPeriod", "99999999999999"), 1);
    EXPECT_EQ(setProperty(s, "URL", "http://example.test/a b"), 1);
    EXPECT_EQ(setProperty(s, "url", "http://other.test/"), 0); // names are case-sensitive
    EXPECT_EQ(setProperty(s, "Colour", "1"), 0);
    EXPECT_EQ(setProperty(s, nullptr, "1"), 0);
    EXPECT_EQ(s.width, 640);
    EXPECT_EQ(s.targetLeft, -12);
    EXPECT_EQ(s.height, 0);
    EXPECT_EQ(s.reloadPeriod, 2147483647);
    EXPECT_EQ(s.url, "http://example.test/a b");

    // Round trip through the host's buffers.
    BrowserSettings copy;
    for (int i = 256; i < 267; ++i) {
        Property p;
        ASSERT_TRUE(readProperty(s, i, p));
        setProperty(copy, p.name.c_str(), p.value.c_str());
    }
    EXPECT_EQ(copy, s);
}

TEST(BrowserSettings, LongAddressIsCutAtACharacterBoundary)
{
    BrowserSettings s;
    s.url = "http://x.test/" + std::string(240, 'a') + "\xc3\xa9\xc3\xa9\xc3\xa9"; // é x 3 across byte 255
    Property p;
    ASSERT_TRUE(readProperty(s, 258, p));
    EXPECT_LE(p.value.size(), 255u);
    EXPECT_EQ(p.value.size() % 2, 0u) << "a two-byte character was split";
    EXPECT_EQ(pageSide(0), kMinPageSide);
    EXPECT_EQ(pageSide(100000), kMaxPageSide);
    EXPECT_EQ(pageSide(1024), 1024);
}

TEST(ReloadScale, SliderPositionsGiveTheirSeconds)
{
    const struct {
        int position, seconds;
    } cases[] = {{0, 33}, {1, 60}, {19, 546}, {20, 600}, {21, 660}, {40, 1800}, {60, 3600},
                 {79, 26400}, {80, 28800}, {99, 80100}, {100, 86400}, {-5, 33}, {500, 86400}};
    for (const auto &c : cases)
        EXPECT_EQ(reloadSeconds(c.position), c.seconds) << "position " << c.position;
    for (int p = 1; p < 100; ++p)
        EXPECT_LT(reloadSeconds(p), reloadSeconds(p + 1)) << "the scale must rise at " << p;
}

TEST(ReloadScale, StoredPeriodShowsAtTheFirstPositionThatReachesIt)
{
    EXPECT_EQ(reloadPosition(420), 15);   // 438 s: the default shows just past it
    EXPECT_EQ(reloadPosition(600), 20);
    EXPECT_EQ(reloadPosition(601), 21);
    EXPECT_EQ(reloadPosition(0), 1);      // position 0 is below the slider's range
    EXPECT_EQ(reloadPosition(86400), 100);
    EXPECT_EQ(reloadPosition(1000000), 100);
    for (int p : {1, 20, 40, 60, 80, 100})
        EXPECT_EQ(reloadPosition(reloadSeconds(p)), p);
}

TEST(ReloadScale, IntervalTexts)
{
    EXPECT_EQ(intervalText(60), QStringLiteral("1 min"));
    EXPECT_EQ(intervalText(3599), QStringLiteral("59 min"));
    EXPECT_EQ(intervalText(3600), QStringLiteral("1:00"));
    EXPECT_EQ(intervalText(28800 + 2700 * 3), QStringLiteral("10:15"));
    EXPECT_EQ(intervalText(86399), QStringLiteral("23:59"));
    EXPECT_EQ(intervalText(86400), QStringLiteral("1 day"));
}

// A 320-pixel view (t = 314) of a 1024-pixel page: the smallest square side is 314 x 96 / 1024 + 6.
constexpr int kView = 320;
constexpr int kWidth = 1024;

TEST(SelectionSquare, ConvertsBetweenViewAndPage)
{
    EXPECT_EQ(minimumSide(kView, kWidth), 35);
    EXPECT_EQ(targetOf({50, 60, 100}, kView, kWidth), (PageTarget{163, 196, 306}));
    EXPECT_EQ(squareOf({163, 196, 306}, kView, kWidth), (ViewSquare{50, 60, 100}));
    EXPECT_EQ(squareOf({0, 0, 96}, kView, kWidth), (ViewSquare{0, 0, 35}));
    EXPECT_EQ(targetOf({0, 0, 320}, kView, kWidth), (PageTarget{0, 0, 1024}));
    // A page width of 0 (bad stored value) does not divide by zero.
    EXPECT_EQ(squareOf({10, 10, 96}, kView, 0).left, 3140);
}

TEST(SelectionSquare, PressGrabsHandlesInsideOrNothing)
{
    const ViewSquare s{50, 60, 100}; // frame 53,63 to 147,157
    EXPECT_EQ(gripAt(s, {53, 63}), Grip::TopLeft);
    EXPECT_EQ(gripAt(s, {50, 60}), Grip::TopLeft);
    EXPECT_EQ(gripAt(s, {147, 63}), Grip::TopRight);
    EXPECT_EQ(gripAt(s, {53, 157}), Grip::BottomLeft);
    EXPECT_EQ(gripAt(s, {150, 160}), Grip::BottomRight);
    EXPECT_EQ(gripAt(s, {100, 100}), Grip::Inside);
    EXPECT_EQ(gripAt(s, {46, 63}), Grip::None);
    EXPECT_EQ(gripAt(s, {10, 10}), Grip::None);
}

TEST(SelectionSquare, DragsFollowTheDiagonalAndTheLimits)
{
    const int m = minimumSide(kView, kWidth);
    const struct {
        const char *name;
        ViewSquare start;
        Grip grip;
        int dx, dy;
        ViewSquare end;
        QPoint moved;
    } cases[] = {
        {"top-left takes the smaller", {50, 60, 100}, Grip::TopLeft, 10, 4, {54, 64, 96}, {4, 4}},
        {"top-left tie takes dy", {50, 60, 100}, Grip::TopLeft, 5, -5, {45, 55, 105}, {-5, -5}},
        {"top-left stops at the view's edge", {3, 60, 100}, Grip::TopLeft, -20, -20, {0, 57, 103}, {-3, -3}},
        {"top-left stops at the smallest side", {50, 60, 100}, Grip::TopLeft, 80, 90, {115, 125, m}, {65, 65}},
        {"bottom-right takes the smaller", {50, 60, 100}, Grip::BottomRight, -7, 3, {50, 60, 103}, {3, 3}},
        {"bottom-right stops at the view's edge", {200, 60, 100}, Grip::BottomRight, 50, 50, {200, 60, 120}, {20, 20}},
        {"bottom-right stops at the smallest side", {50, 60, 100}, Grip::BottomRight, -90, -80, {50, 60, m}, {-65, -65}},
        {"top-right takes dx against -dy", {50, 60, 100}, Grip::TopRight, 6, -2, {50, 58, 102}, {2, -2}},
        {"top-right tie takes -dy", {50, 60, 100}, Grip::TopRight, 3, 3, {50, 63, 97}, {-3, 3}},
        {"top-right stops at the top", {50, 4, 100}, Grip::TopRight, 10, -10, {50, 0, 104}, {4, -4}},
        {"bottom-left takes -dx against dy", {50, 60, 100}, Grip::BottomLeft, -8, 5, {45, 60, 105}, {-5, 5}},
        {"bottom-left tie takes dy", {50, 60, 100}, Grip::BottomLeft, 4, -4, {54, 60, 96}, {4, -4}},
        {"bottom-left stops at the bottom", {50, 200, 100}, Grip::BottomLeft, -40, 40, {30, 200, 120}, {-20, 20}},
        {"move", {50, 60, 100}, Grip::Inside, 30, -100, {80, 0, 100}, {30, -60}},
        {"move stops at the right edge", {50, 60, 100}, Grip::Inside, 500, 0, {220, 60, 100}, {170, 0}},
        {"a square below the smallest side does not shrink", {50, 60, 20}, Grip::BottomRight, -5, -5, {50, 60, 20}, {0, 0}},
        {"but it may grow", {50, 60, 20}, Grip::BottomRight, 5, 5, {50, 60, 25}, {5, 5}},
        {"a square past the edge is not pushed", {310, 60, 100}, Grip::Inside, 5, 0, {310, 60, 100}, {0, 0}},
        {"nothing grabbed", {50, 60, 100}, Grip::None, 5, 5, {50, 60, 100}, {0, 0}},
    };
    for (const auto &c : cases) {
        ViewSquare square = c.start;
        const QPoint moved = dragSquare(square, c.grip, c.dx, c.dy, kView, m);
        EXPECT_EQ(square, c.end) << c.name << ": got " << square.left << "," << square.top << "," << square.side;
        EXPECT_EQ(moved, c.moved) << c.name;
    }
}

TEST(Faces, ProgressBarLightsOneBoxPerTenth)
{
    const struct {
        int progress, max, lit;
    } cases[] = {{0, 100, 0}, {55, 100, 5}, {100, 100, 10}, {9, 9, 0}, {5, 10, 5}, {0, 0, 0}};
    for (const auto &c : cases) {
        QImage image = face();
        drawProgressBar(image, c.progress, c.max);
        for (int i = 0; i < 10; ++i) {
            const QColor expected = i < c.lit ? QColor(255, 255, 255) : QColor(0x5A, 0x5A, 0x5A);
            EXPECT_EQ(at(image, 17 + 6 * i, 80), expected) << c.progress << "/" << c.max << " box " << i;
            EXPECT_EQ(at(image, 21 + 6 * i, 86), expected) << c.progress << "/" << c.max << " box " << i;
            EXPECT_EQ(at(image, 22 + 6 * i, 83), QColor(Qt::black)) << "gap after box " << i;
        }
        EXPECT_EQ(at(image, 20, 79), QColor(Qt::black));
        EXPECT_EQ(at(image, 20, 87), QColor(Qt::black));
        EXPECT_EQ(at(image, 0, 0), QColor(Qt::black));
    }
}

TEST(Faces, ErrorScreenWritesTheStatusOnDarkRed)
{
    QImage notFound = face();
    QImage serverError = face();
    drawErrorScreen(notFound, QStringLiteral("404"));
    drawErrorScreen(serverError, QStringLiteral("500"));
    EXPECT_EQ(at(notFound, 95, 95), QColor(77, 0, 0));
    EXPECT_EQ(at(notFound, 60, 10), QColor(77, 0, 0));
    int bright = 0;
    for (int y = 0; y < 20; ++y)
        for (int x = 0; x < 40; ++x)
            bright += at(notFound, x, y).lightness() > 150;
    EXPECT_GT(bright, 20) << "no text in the top-left corner";
    EXPECT_NE(notFound, serverError);
}

TEST(Faces, PageSquareIsCroppedAndScaled)
{
    // Quadrants of a 1024x2000 page: red, green / blue, white.
    QImage page(1024, 2000, QImage::Format_RGB32);
    page.fill(Qt::white);
    for (int y = 0; y < 2000; ++y)
        for (int x = 0; x < 1024; ++x)
            if (y < 512)
                page.setPixelColor(x, y, x < 512 ? QColor(255, 0, 0) : QColor(0, 255, 0));
            else if (x < 512)
                page.setPixelColor(x, y, QColor(0, 0, 255));
    QImage image = face();
    drawPageSquare(image, page, 0, 0, 96);
    EXPECT_EQ(at(image, 50, 50), QColor(255, 0, 0));

    drawPageSquare(image, page, 464, 464, 96);
    EXPECT_EQ(at(image, 10, 10), QColor(255, 0, 0));
    EXPECT_EQ(at(image, 85, 10), QColor(0, 255, 0));
    EXPECT_EQ(at(image, 10, 85), QColor(0, 0, 255));
    EXPECT_EQ(at(image, 85, 85), QColor(255, 255, 255));

    drawPageSquare(image, page, 0, 0, 1024); // the whole top: red left half, green right half
    EXPECT_EQ(at(image, 20, 20), QColor(255, 0, 0));
    EXPECT_EQ(at(image, 70, 20), QColor(0, 255, 0));

    drawPageSquare(image, page, 1000, 0, 96); // past the page's right edge: black
    EXPECT_EQ(at(image, 10, 10), QColor(0, 255, 0));
    EXPECT_EQ(at(image, 60, 10), QColor(Qt::black));

    drawPageSquare(image, page, 0, 0, 0);
    EXPECT_EQ(at(image, 10, 10), QColor(Qt::black));
    drawPageSquare(image, page, 0, 0, 2000000000); // huge: a speck of page, no huge allocation
    EXPECT_EQ(at(image, 50, 50), QColor(Qt::black));
    drawPageSquare(image, QImage(), 0, 0, 96);
    EXPECT_EQ(at(image, 10, 10), QColor(Qt::black));
}
