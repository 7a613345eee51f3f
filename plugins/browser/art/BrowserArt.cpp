// browser_art: draws the Browser plug-in's pictures at build time.
//   browser_art OUTPUT_DIR
// writes BIG_ICON_16.png and BIG_ICON_32.png (a globe over a page) and 8001.png (96x96: a web
// page with the shown square picked out, the plug-in's picture in the host's lists).
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <cstdio>

namespace {

// The icon drawn on a 32-unit grid, scaled to `size`.
QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    // A page with a folded corner.
    QPainterPath page;
    page.moveTo(4, 2);
    page.lineTo(20, 2);
    page.lineTo(26, 8);
    page.lineTo(26, 30);
    page.lineTo(4, 30);
    page.closeSubpath();
    p.setPen(QPen(QColor(0x50, 0x50, 0x50), 1.2));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.setPen(QPen(QColor(0xA0, 0xA0, 0xA0), 1.5));
    for (int y = 9; y <= 15; y += 3)
        p.drawLine(QPointF(7, y), QPointF(17, y));
    // The globe.
    const QRectF globe(12, 12, 19, 19);
    p.setPen(QPen(QColor(0x10, 0x40, 0x90), 1.4));
    p.setBrush(QColor(0x3A, 0x8E, 0xE6));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(0xE8, 0xF4, 0xFF), 1.1));
    p.drawEllipse(QRectF(17.5, 12.3, 8, 18.4));
    p.drawLine(QPointF(21.5, 12.5), QPointF(21.5, 30.5));
    p.drawLine(QPointF(12.5, 21.5), QPointF(30.5, 21.5));
    p.drawLine(QPointF(14.5, 16.5), QPointF(28.5, 16.5));
    p.drawLine(QPointF(14.5, 26.5), QPointF(28.5, 26.5));
    return image;
}

QImage preview()
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    // The page: a header, a picture block and lines of text.
    p.fillRect(8, 8, 80, 80, Qt::white);
    p.fillRect(8, 8, 80, 12, QColor(0xFF, 0x66, 0x00));
    p.fillRect(14, 26, 30, 24, QColor(0x3A, 0x8E, 0xE6));
    p.fillRect(14, 40, 30, 10, QColor(0x2E, 0x9E, 0x48));
    for (int y = 27; y <= 47; y += 5)
        p.fillRect(50, y, 32, 2, QColor(0x90, 0x90, 0x90));
    for (int y = 57; y <= 82; y += 5)
        p.fillRect(14, y, y % 2 ? 68 : 52, 2, QColor(0x90, 0x90, 0x90));
    // The shown square, with its corner handles.
    const QRect square(11, 23, 36, 36);
    p.setPen(QPen(QColor(0xFF, 0x66, 0x00), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRect(square);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0x66, 0x00));
    for (const QPoint &corner : {square.topLeft(), square.topRight(), square.bottomLeft(), square.bottomRight()})
        p.drawRect(QRect(corner - QPoint(3, 3), QSize(7, 7)));
    return image;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: browser_art OUTPUT_DIR\n");
        return 64;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(out.path()))
        return 1;
    bool ok = icon(16).save(out.filePath(QStringLiteral("BIG_ICON_16.png")));
    ok = icon(32).save(out.filePath(QStringLiteral("BIG_ICON_32.png"))) && ok;
    ok = preview().save(out.filePath(QStringLiteral("8001.png"))) && ok;
    return ok ? 0 : 1;
}
