// Helpers of the feed tests: feeds, pictures, faces to look at.
#pragma once

#include <pixkey_plugin.h>

#include <QBuffer>
#include <QColor>
#include <QImage>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace rsstest {

struct TestItem {
    std::string title;
    std::string link;
    std::string picture; // enclosure url, none when empty
};

inline std::string rss2(const std::vector<TestItem> &items, const std::string &channelLink = "http://site.example/")
{
    std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>T</title><link>" +
                       channelLink + "</link>\n";
    for (const TestItem &item : items) {
        feed += "<item><title>" + item.title + "</title><link>" + item.link + "</link>";
        if (!item.picture.empty())
            feed += "<enclosure type=\"image/png\" url=\"" + item.picture + "\"/>";
        feed += "</item>\n";
    }
    return feed + "</channel></rss>\n";
}

inline std::string png(int width, int height, QColor color)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// A 96 x 96 face to draw into and look at.
struct Face {
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface surface{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};

    QColor at(int x, int y) const
    {
        const std::uint8_t *p = bits.data() + y * PKX_FACE_STRIDE + x * 3;
        return QColor(p[2], p[1], p[0]);
    }
    bool isRed(int x, int y) const
    {
        const QColor c = at(x, y);
        return c.red() > 200 && c.green() < 60 && c.blue() < 60;
    }
    bool isBlack(int x, int y) const { return at(x, y) == QColor(0, 0, 0); }
    // Pixels in rows [top, bottom) that are lit (any channel above 100).
    int litIn(int top, int bottom) const
    {
        int lit = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < PKX_FACE_SIZE; ++x) {
                const QColor c = at(x, y);
                lit += c.red() > 100 || c.green() > 100 || c.blue() > 100;
            }
        return lit;
    }
    int litWhite(int top, int bottom) const
    {
        int lit = 0;
        for (int y = top; y < bottom; ++y)
            for (int x = 0; x < PKX_FACE_SIZE; ++x) {
                const QColor c = at(x, y);
                lit += c.red() > 150 && c.green() > 150 && c.blue() > 150;
            }
        return lit;
    }
    bool allBlack() const { return litIn(0, PKX_FACE_SIZE) == 0; }
    void fill(std::uint8_t value) { bits.fill(value); }
};

} // namespace rsstest
