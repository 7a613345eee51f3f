// clock_art: draws the clock's pictures into a folder at build time.
//
//   clock_art OUTPUT_DIR
//
// Writes 8003.png (the analog dial at 384 x 384, four times the key), 8001.png (the digital
// face's 96 x 96 background), 8009.png (the moon strip: eleven 11 x 11 phases from new moon,
// stacked top to bottom), 8028.png (a 96 x 96 sample face for the host's lists) and BIG_ICON.png
// (64 x 64 with transparency). Everything is drawn for a black OLED: dark surroundings, light
// marks, little area lit.
#include "ClockText.hpp"

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

constexpr double kPi = 3.14159265358979323846;

QPointF polar(QPointF centre, double radius, double degreesFromTwelve)
{
    const double t = (degreesFromTwelve - 90) * kPi / 180;
    return centre + QPointF(radius * std::cos(t), radius * std::sin(t));
}

// The dial at 384 x 384: a dark sapphire disc with a steel bezel, fine minute marks, bold hour
// bars and a warm accent at twelve. The centre stays plain: the hands cover it.
QImage analogDial()
{
    const int size = 384;
    const QPointF c(192, 192);
    QImage image(size, size, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QRadialGradient disc(c, 186, c - QPointF(40, 60));
    disc.setColorAt(0.0, QColor(34, 46, 68));
    disc.setColorAt(0.7, QColor(16, 22, 36));
    disc.setColorAt(1.0, QColor(6, 8, 14));
    p.setPen(Qt::NoPen);
    p.setBrush(disc);
    p.drawEllipse(c, 186, 186);

    // Bezel: a bright upper left fading to a dim lower right.
    QLinearGradient bezel(QPointF(20, 20), QPointF(364, 364));
    bezel.setColorAt(0.0, QColor(200, 208, 220));
    bezel.setColorAt(0.5, QColor(110, 118, 132));
    bezel.setColorAt(1.0, QColor(60, 64, 74));
    p.setPen(QPen(QBrush(bezel), 7));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(c, 186, 186);
    p.setPen(QPen(QColor(40, 48, 64), 2));
    p.drawEllipse(c, 180, 180);

    for (int minute = 0; minute < 60; ++minute) {
        const double angle = minute * 6.0;
        if (minute % 5 == 0) {
            const bool twelve = minute == 0;
            const bool quarter = minute % 15 == 0;
            const double outer = 172;
            const double inner = quarter ? 138 : 148;
            QColor colour = twelve ? QColor(253, 113, 18) : QColor(236, 240, 246);
            p.setPen(QPen(colour, quarter ? 14 : 10, Qt::SolidLine, Qt::RoundCap));
            if (twelve) {
                // Twelve carries two bars side by side.
                const QPointF side = polar(QPointF(0, 0), 9, angle + 90);
                p.drawLine(polar(c, inner, angle) + side, polar(c, outer, angle) + side);
                p.drawLine(polar(c, inner, angle) - side, polar(c, outer, angle) - side);
            } else {
                p.drawLine(polar(c, inner, angle), polar(c, outer, angle));
            }
        } else {
            p.setPen(QPen(QColor(120, 132, 152), 4, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(polar(c, 162, angle), polar(c, 172, angle));
        }
    }

    // A faint inner chapter ring keeps the hands' sweep readable.
    p.setPen(QPen(QColor(44, 56, 80), 3));
    p.drawEllipse(c, 124, 124);
    p.end();

    // The city name covers the top band of the key and the date line the bottom one: the dial
    // dims there, fading in over a few pixels, so the texts stand out on it.
    for (int y = 0; y < size; ++y) {
        const double top = std::clamp((y - 56) / 24.0, 0.0, 1.0);     // key rows 0..14, fading to 20
        const double bottom = std::clamp((316 - y) / 16.0, 0.0, 1.0); // key rows 79..96
        const double level = 0.4 + 0.6 * std::min(top, bottom);
        if (level >= 1.0)
            continue;
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size; ++x) {
            const QRgb v = row[x];
            row[x] = qRgb(int(qRed(v) * level), int(qGreen(v) * level), int(qBlue(v) * level));
        }
    }
    return image;
}

// Digital background: a dark panel band across the middle where the time sits, with thin
// light rules above and below, and a quiet gradient elsewhere.
QImage digitalBackground()
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient band(QPointF(0, 34), QPointF(0, 62));
    band.setColorAt(0.0, QColor(24, 34, 56));
    band.setColorAt(0.5, QColor(12, 18, 32));
    band.setColorAt(1.0, QColor(24, 34, 56));
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRoundedRect(QRectF(2.5, 34.5, 91, 27), 5, 5);

    QLinearGradient rule(QPointF(2, 0), QPointF(94, 0));
    rule.setColorAt(0.0, QColor(0, 0, 0));
    rule.setColorAt(0.5, QColor(253, 113, 18));
    rule.setColorAt(1.0, QColor(0, 0, 0));
    p.setPen(QPen(QBrush(rule), 1));
    p.drawLine(QPointF(6, 33.5), QPointF(90, 33.5));
    p.drawLine(QPointF(6, 62.5), QPointF(90, 62.5));

    // Little seconds dots along the band's ends, like the lamps of a station clock.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(70, 82, 108));
    for (int i = 0; i < 4; ++i) {
        p.drawEllipse(QPointF(6, 40 + i * 5.3), 0.9, 0.9);
        p.drawEllipse(QPointF(90, 40 + i * 5.3), 0.9, 0.9);
    }
    return image;
}

// Eleven moon phases, frame k at phase k / 11 of a lunation (0 new, 5.5 full). The lit part is
// found per sub-pixel: on each row the terminator sits at w cos(2 pi phase), w the half-width of
// the disc on that row; waxing lights the right side, waning the left.
QImage moonStrip()
{
    const int frames = 11;
    QImage image(11, 11 * frames, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const double radius = 5.2;
    const int samples = 6;
    const QColor lit(255, 240, 196);
    const QColor dark(44, 48, 60);
    for (int k = 0; k < frames; ++k) {
        const double phase = k / double(frames);
        const double cosine = std::cos(2 * kPi * phase);
        for (int py = 0; py < 11; ++py) {
            for (int px = 0; px < 11; ++px) {
                int inside = 0;
                int bright = 0;
                for (int sy = 0; sy < samples; ++sy) {
                    for (int sx = 0; sx < samples; ++sx) {
                        const double x = (px + (sx + 0.5) / samples - 5.5) / radius;
                        const double y = (py + (sy + 0.5) / samples - 5.5) / radius;
                        if (x * x + y * y > 1)
                            continue;
                        ++inside;
                        const double w = std::sqrt(1 - y * y);
                        const double t = w * cosine;
                        const bool on = phase <= 0.5 ? x > t : x < -t;
                        if (on)
                            ++bright;
                    }
                }
                if (inside == 0)
                    continue;
                const double coverage = inside / double(samples * samples);
                const double share = bright / double(inside);
                QColor colour(int(dark.red() + (lit.red() - dark.red()) * share),
                              int(dark.green() + (lit.green() - dark.green()) * share),
                              int(dark.blue() + (lit.blue() - dark.blue()) * share),
                              int(255 * coverage));
                image.setPixelColor(px, 11 * k + py, colour);
            }
        }
    }
    return image;
}

// The sample face: the dial with the hands at 10:08:36, drawn the way a key draws it.
QImage previewFace(const QImage &dial)
{
    using pixkey::clock::handPolygon;
    QImage canvas = dial.copy();
    QPainter p(&canvas);
    const double hour = (8 / 60.0 + 10) * 30;
    const double minute = (36 / 60.0 + 8) * 6;
    const double second = 36 * 6.0;
    struct Hand {
        double angle, length, tail, width, centre;
        QColor colour;
        bool outlined;
    } hands[] = {
        {hour, 24, 8, 7, 49, QColor(0x5A, 0x5A, 0x5A), true},
        {minute, 35, 8, 3, 49, QColor(0x5A, 0x5A, 0x5A), true},
        {second, 40, 10, 1, 48, QColor(0x5A, 0x5A, 0x5A), true},
        {hour, 24, 8, 6, 48, Qt::white, true},
        {minute, 35, 8, 2, 48, Qt::white, true},
        {second, 40, 10, 1, 48, QColor(0xFD, 0x71, 0x12), false},
    };
    for (const Hand &h : hands) {
        QPolygon polygon;
        for (const auto &pt : handPolygon(h.angle, h.length, h.tail, h.width, h.centre, h.centre))
            polygon << QPoint(pt.x, pt.y);
        p.setBrush(h.colour);
        p.setPen(h.outlined ? QPen(Qt::black) : QPen(Qt::NoPen));
        p.drawPolygon(polygon);
    }
    p.end();
    return canvas.scaled(96, 96, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// The icon: a round dial with a bright rim, two bold hands and the orange seconds accent; bold
// enough to read at 16 x 16.
QImage icon()
{
    const int size = 64;
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QPointF c(32, 32);
    QRadialGradient disc(c, 30, c - QPointF(8, 10));
    disc.setColorAt(0.0, QColor(58, 82, 124));
    disc.setColorAt(1.0, QColor(14, 20, 36));
    p.setBrush(disc);
    p.setPen(QPen(QColor(230, 234, 242), 4));
    p.drawEllipse(c, 28, 28);
    p.setPen(QPen(QColor(200, 208, 222), 3, Qt::SolidLine, Qt::RoundCap));
    for (int h = 0; h < 12; h += 3)
        p.drawLine(polar(c, 19, h * 30), polar(c, 23, h * 30));
    p.setPen(QPen(Qt::white, 5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, polar(c, 13, 300));
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(c, polar(c, 20, 60));
    p.setPen(QPen(QColor(253, 113, 18), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(polar(c, -5, 160), polar(c, 22, 160));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(253, 113, 18));
    p.drawEllipse(c, 3, 3);
    return image;
}

bool save(const QImage &image, const QDir &dir, const char *name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "clock_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: clock_art OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "clock_art: cannot create %s\n", argv[1]);
        return 1;
    }
    const QImage dial = analogDial();
    const bool ok = save(dial, dir, "8003.png") && save(digitalBackground(), dir, "8001.png") &&
                    save(moonStrip(), dir, "8009.png") && save(previewFace(dial), dir, "8028.png") &&
                    save(icon(), dir, "BIG_ICON.png");
    return ok ? 0 : 1;
}
