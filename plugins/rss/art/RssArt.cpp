// rss_art: draws the feed plug-in's pictures into a folder at build time.
//
//   rss_art OUTPUT_DIR
//
// Writes BIG_ICON.png (64 x 64 with transparency: the feed symbol, a dot and two arcs on an
// orange tile) and 8001.png (96 x 96: a sample key face, a headline over a picture band).
#include <QColor>
#include <QDir>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

void drawFeedSymbol(QPainter &p, QRectF tile)
{
    const double s = tile.width();
    QLinearGradient orange(tile.topLeft(), tile.bottomRight());
    orange.setColorAt(0.0, QColor(255, 170, 60));
    orange.setColorAt(1.0, QColor(226, 96, 20));
    p.setPen(QPen(QColor(170, 70, 10), s / 32));
    p.setBrush(orange);
    p.drawRoundedRect(tile.adjusted(s / 64, s / 64, -s / 64, -s / 64), s * 0.18, s * 0.18);

    const QPointF corner(tile.left() + s * 0.25, tile.bottom() - s * 0.25);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(corner, s * 0.09, s * 0.09);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, s * 0.12, Qt::SolidLine, Qt::FlatCap));
    for (double r : {0.33, 0.56}) {
        const double radius = s * r;
        p.drawArc(QRectF(corner.x() - radius, corner.y() - radius, 2 * radius, 2 * radius), 0, 90 * 16);
    }
}

QImage icon()
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawFeedSymbol(p, QRectF(0, 0, 64, 64));
    return image;
}

// A key as the plug-in shows it at "50/50": headline on top, picture below.
QImage preview()
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // The picture band: an evening landscape.
    const QRectF band(0, 52, 96, 44);
    QLinearGradient sky(band.topLeft(), band.bottomLeft());
    sky.setColorAt(0.0, QColor(40, 70, 140));
    sky.setColorAt(0.7, QColor(240, 150, 80));
    p.fillRect(band, sky);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 230, 150));
    p.drawEllipse(QPointF(66, 80), 8, 8);
    QPainterPath hills;
    hills.moveTo(0, 96);
    hills.lineTo(0, 82);
    hills.cubicTo(20, 70, 36, 90, 56, 80);
    hills.cubicTo(72, 72, 84, 86, 96, 78);
    hills.lineTo(96, 96);
    p.setBrush(QColor(30, 60, 40));
    p.drawPath(hills);

    // The headline: three lines of white text drawn as bars, the first with the feed symbol.
    drawFeedSymbol(p, QRectF(2, 3, 14, 14));
    p.setBrush(QColor(235, 235, 235));
    p.drawRoundedRect(QRectF(20, 6, 70, 7), 2, 2);
    p.drawRoundedRect(QRectF(2, 22, 88, 7), 2, 2);
    p.drawRoundedRect(QRectF(2, 36, 56, 7), 2, 2);
    return image;
}

bool save(const QImage &image, const QString &path)
{
    if (image.save(path))
        return true;
    std::fprintf(stderr, "rss_art: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: rss_art OUTPUT_DIR\n");
        return 64;
    }
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    const bool ok = save(icon(), dir.filePath(QStringLiteral("BIG_ICON.png"))) &&
                    save(preview(), dir.filePath(QStringLiteral("8001.png")));
    return ok ? 0 : 1;
}
