// The user interface's pictures: each one renders at its size on ordinary and high-density
// screens, the keypad pictures leave their screens where the geometry says, and every picture is
// written to <build>/screenshots for a look.

#include "KeypadArt.h"
#include "UiPictures.h"

#include <QDir>
#include <QPainter>

#include <gtest/gtest.h>

using pixkey::KeypadArt;
using pixkey::UiPictures;

namespace {

QString screenshotDir()
{
    QDir().mkpath(QStringLiteral(PIXKEY_SCREENSHOT_DIR));
    return QStringLiteral(PIXKEY_SCREENSHOT_DIR);
}

void save(const QPixmap &pixmap, const QString &name)
{
    ASSERT_TRUE(pixmap.save(screenshotDir() + QLatin1Char('/') + name)) << name.toStdString();
}

// Share of pixels that are not fully transparent.
double coverage(const QImage &image)
{
    int opaque = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            opaque += qAlpha(image.pixel(x, y)) > 0 ? 1 : 0;
    return double(opaque) / (image.width() * image.height());
}

TEST(PicturesTest, KeypadScreensSitWhereTheGeometrySays)
{
    for (bool vertical : {false, true}) {
        for (qreal ratio : {1.0, 2.0}) {
            const QPixmap body = KeypadArt::bodyPixmap(vertical, ratio);
            ASSERT_FALSE(body.isNull());
            EXPECT_EQ(body.deviceIndependentSize().toSize(), KeypadArt::pictureSize(vertical));
            EXPECT_EQ(body.size(), KeypadArt::pictureSize(vertical) * ratio) << "drawn at the screen's density";
            const QImage image = body.toImage();
            for (int position = 0; position < 3; ++position) {
                const QRect face = KeypadArt::faceRect(vertical, position);
                // Inside the screen: black; just outside it: the bezel or key cap, not black.
                for (QPoint p : {face.topLeft() + QPoint(1, 1), face.center(), face.bottomRight() - QPoint(1, 1)})
                    EXPECT_EQ(image.pixel(p * ratio) & 0xFFFFFF, 0u) << "screen at " << p.x() << "," << p.y();
                const QPoint outside = face.topLeft() - QPoint(8, 8);
                EXPECT_NE(image.pixel(outside * ratio) & 0xFFFFFF, 0u);
            }
            save(body, QStringLiteral("keypad-%1@%2x.png").arg(vertical ? QStringLiteral("vertical") : QStringLiteral("horizontal")).arg(ratio));
        }
    }
    EXPECT_TRUE(KeypadArt::faceRect(false, 3).isEmpty());
    EXPECT_TRUE(KeypadArt::faceRect(true, -1).isEmpty());
}

TEST(PicturesTest, PickersAndEmptyKeyRenderAtTheirSizes)
{
    for (qreal ratio : {1.0, 2.0}) {
        const QString suffix = QStringLiteral("@%1x.png").arg(ratio);
        const QPixmap empty = UiPictures::emptyKey(ratio);
        EXPECT_EQ(empty.deviceIndependentSize().toSize(), QSize(96, 96));
        EXPECT_GT(coverage(empty.toImage()), 0.99) << "the empty key fills its square";
        save(empty, QStringLiteral("empty-key") + suffix);

        QImage previous;
        for (int position = 0; position < UiPictures::kOrientationPictures; ++position) {
            const QPixmap picture = UiPictures::orientationPicture(position, ratio);
            ASSERT_FALSE(picture.isNull());
            EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(72, 72));
            EXPECT_NE(picture.toImage(), previous) << "every orientation has its own picture";
            previous = picture.toImage();
            save(picture, QStringLiteral("orientation-%1").arg(position) + suffix);
        }
        for (int level = 0; level < UiPictures::kBrightnessPictures; ++level) {
            const QPixmap picture = UiPictures::brightnessPicture(level, ratio);
            ASSERT_FALSE(picture.isNull());
            EXPECT_EQ(picture.deviceIndependentSize().toSize(), QSize(34, 34));
            EXPECT_GT(coverage(picture.toImage()), 0.1);
            save(picture, QStringLiteral("brightness-%1").arg(level) + suffix);
        }
    }
    // Out of range: the first picture or the nearest level, never a null picture.
    EXPECT_EQ(UiPictures::orientationPicture(9).toImage(), UiPictures::orientationPicture(0).toImage());
    EXPECT_EQ(UiPictures::brightnessPicture(7).toImage(), UiPictures::brightnessPicture(2).toImage());
}

TEST(PicturesTest, IconsCoverTheUsualSizes)
{
    const std::pair<QIcon, QString> icons[] = {
        {UiPictures::trayIcon(true), QStringLiteral("tray-connected")},
        {UiPictures::trayIcon(false), QStringLiteral("tray-disconnected")},
        {UiPictures::windowIcon(), QStringLiteral("window-icon")},
        {UiPictures::addPluginIcon(), QStringLiteral("add-plugin")},
    };
    for (const auto &[icon, name] : icons) {
        ASSERT_FALSE(icon.isNull()) << name.toStdString();
        for (int size : {16, 22, 32, 64, 256}) {
            const QPixmap pixmap = icon.pixmap(QSize(size, size));
            EXPECT_EQ(pixmap.size(), QSize(size, size)) << name.toStdString();
            if (size == 16 || size == 64)
                save(pixmap, QStringLiteral("%1-%2.png").arg(name).arg(size));
        }
    }
    EXPECT_NE(UiPictures::trayIcon(true).pixmap(32).toImage(), UiPictures::trayIcon(false).pixmap(32).toImage());
}

TEST(PicturesTest, MissingResourceGivesNullPicture)
{
    EXPECT_TRUE(UiPictures::render(QStringLiteral(":/pixkey/ui/none.svg"), QSize(16, 16)).isNull());
    EXPECT_TRUE(UiPictures::render(QStringLiteral(":/pixkey/ui/app-icon.svg"), QSize(0, 16)).isNull());
    EXPECT_TRUE(UiPictures::icon(QStringLiteral(":/pixkey/ui/none.svg")).isNull());
}

} // namespace

namespace {

// All pictures on one sheet, on a light and on a dark background, for a look at them together.
TEST(PicturesTest, ContactSheet)
{
    const qreal ratio = 2.0;
    QPixmap sheet(QSize(1040, 780) * ratio);
    sheet.setDevicePixelRatio(ratio);
    sheet.fill(QColor(0xF4, 0xF6, 0xF9));
    QPainter painter(&sheet);
    painter.fillRect(QRect(0, 670, 1040, 110), QColor(0x24, 0x27, 0x2E));
    painter.drawPixmap(10, 10, KeypadArt::bodyPixmap(false, ratio));
    painter.drawPixmap(580, 10, KeypadArt::bodyPixmap(true, ratio));
    painter.drawPixmap(800, 10, UiPictures::emptyKey(ratio));
    for (int i = 0; i < UiPictures::kOrientationPictures; ++i)
        painter.drawPixmap(800 + i * 80, 130, UiPictures::orientationPicture(i, ratio));
    for (int i = 0; i < UiPictures::kBrightnessPictures; ++i)
        painter.drawPixmap(800 + i * 44, 220, UiPictures::brightnessPicture(i, ratio));
    const QIcon icons[] = {UiPictures::trayIcon(true), UiPictures::trayIcon(false), UiPictures::windowIcon(),
                           UiPictures::addPluginIcon()};
    for (int row = 0; row < 2; ++row) {
        int x = 20;
        for (const QIcon &icon : icons) {
            for (int size : {16, 22, 32, 64}) {
                painter.drawPixmap(x, 590 + row * 100 + (64 - size) / 2, icon.pixmap(QSize(size, size), ratio));
                x += size + 12;
            }
            x += 24;
        }
    }
    painter.end();
    save(sheet, QStringLiteral("pictures-sheet.png"));
}

} // namespace
