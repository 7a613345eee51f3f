// Draws the Hotkey plug-in's pictures at build time: the default face "DEF_IMAGE" (96x96, black
// background for the keypad's OLED) and the icon "BIG_ICON" at 16x16 and 32x32 (transparent).
// Only shapes, no text, so no font or QGuiApplication is needed.
//
// Usage: executor_artgen OUTPUT_DIR   (writes DEF_IMAGE.png, BIG_ICON_16.png, BIG_ICON_32.png)

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRectF>
#include <QString>

#include <cstdio>

namespace {

struct KeyColours {
    QColor side;      // the key's front edge, seen below its top face
    QColor topLight;  // top face gradient, upper end
    QColor topDark;   // top face gradient, lower end
    QColor rim;       // thin outline of the top face
};

const KeyColours kModifierKey{QColor(0x2b, 0x31, 0x40), QColor(0x7b, 0x86, 0xa3),
                              QColor(0x55, 0x5f, 0x7a), QColor(0x9a, 0xa6, 0xc4)};
const KeyColours kAccentKey{QColor(0x10, 0x3a, 0x8c), QColor(0x52, 0x9b, 0xff),
                            QColor(0x25, 0x6a, 0xe6), QColor(0x8c, 0xc0, 0xff)};

// A keycap seen slightly from the front: a rounded body whose lower `depth` pixels show the side,
// and a top face with a vertical gradient and a light rim.
void drawKey(QPainter &p, const QRectF &body, qreal depth, qreal radius, const KeyColours &c)
{
    p.setPen(Qt::NoPen);
    p.setBrush(c.side);
    p.drawRoundedRect(body, radius, radius);

    const QRectF top(body.left(), body.top(), body.width(), body.height() - depth);
    QLinearGradient gradient(top.topLeft(), top.bottomLeft());
    gradient.setColorAt(0.0, c.topLight);
    gradient.setColorAt(1.0, c.topDark);
    p.setBrush(gradient);
    const qreal rimWidth = body.width() >= 24 ? 1.0 : 0.8;
    p.setPen(QPen(c.rim, rimWidth));
    p.drawRoundedRect(top.adjusted(rimWidth / 2, rimWidth / 2, -rimWidth / 2, -rimWidth / 2),
                      radius * 0.8, radius * 0.8);
}

// The control-key caret: an upward chevron centred on `centre`.
void drawCaret(QPainter &p, QPointF centre, qreal halfWidth, qreal height, qreal stroke)
{
    QPainterPath path;
    path.moveTo(centre.x() - halfWidth, centre.y() + height / 2);
    path.lineTo(centre.x(), centre.y() - height / 2);
    path.lineTo(centre.x() + halfWidth, centre.y() + height / 2);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(path);
}

// An open arc, the outline of a "C", centred on `centre`.
void drawArcC(QPainter &p, QPointF centre, qreal radius, qreal stroke)
{
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap));
    const QRectF box(centre.x() - radius, centre.y() - radius, 2 * radius, 2 * radius);
    p.drawArc(box, 50 * 16, 260 * 16);
}

void drawPlus(QPainter &p, QPointF centre, qreal arm, qreal stroke, const QColor &colour)
{
    p.setPen(QPen(colour, stroke, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(centre.x() - arm, centre.y()), QPointF(centre.x() + arm, centre.y()));
    p.drawLine(QPointF(centre.x(), centre.y() - arm), QPointF(centre.x(), centre.y() + arm));
}

// Two keys joined by a plus, the picture of a shortcut; black around them for the OLED.
QImage defaultFace()
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    const QRectF left(5, 28, 36, 40);
    const QRectF right(55, 28, 36, 40);
    drawKey(p, left, 6, 6, kModifierKey);
    drawKey(p, right, 6, 6, kAccentKey);
    drawPlus(p, QPointF(48, 45), 4.5, 2.4, QColor(0xd8, 0xdf, 0xee));

    drawCaret(p, QPointF(23, 44.5), 8, 8, 3.2);
    drawArcC(p, QPointF(73, 45), 8.5, 3.2);

    // A soft reflection under the keys, so they stand on something.
    QLinearGradient floor(QPointF(0, 70), QPointF(0, 78));
    floor.setColorAt(0.0, QColor(0x22, 0x34, 0x5e));
    floor.setColorAt(1.0, Qt::black);
    p.setPen(Qt::NoPen);
    p.setBrush(floor);
    p.drawRoundedRect(QRectF(10, 71, 76, 3), 1.5, 1.5);
    return image;
}

// One accent key with the caret; at 32 pixels a small "C" arc joins it.
QImage icon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    if (size >= 32) {
        drawKey(p, QRectF(1.5, 3.5, 29, 26), 4, 5, kAccentKey);
        drawCaret(p, QPointF(9.5, 14.5), 4.2, 5, 2.2);
        drawArcC(p, QPointF(22.5, 14.5), 4.6, 2.2);
    } else {
        drawKey(p, QRectF(0.5, 1.5, 15, 13.5), 2.5, 3, kAccentKey);
        drawCaret(p, QPointF(8, 7.2), 3.8, 4, 1.7);
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool save(const QImage &image, const QDir &dir, const char *name)
{
    const QString path = dir.filePath(QString::fromLatin1(name));
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "executor_artgen: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: executor_artgen OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "executor_artgen: cannot create %s\n", argv[1]);
        return 1;
    }
    const bool ok = save(defaultFace(), dir, "DEF_IMAGE.png") && save(icon(16), dir, "BIG_ICON_16.png")
                    && save(icon(32), dir, "BIG_ICON_32.png");
    return ok ? 0 : 1;
}
