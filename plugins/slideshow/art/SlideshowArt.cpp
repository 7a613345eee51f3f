// Draws the Slideshow plug-in's pictures at build time:
//   8014, 8015, 8016  the faces (96x96, on black for the OLED) of "Previous slide", "Next slide"
//                     (also "Slideshow" and "Goto") and "Next nearest", also their previews;
//   8007, 8008, 8009  the 12x9 arrows of the previous, next-nearest and next keys (transparent);
//   8011, 8012, 8013  the icons of the same kinds at 16x16 and 32x32 (NNNN_16.png, NNNN_32.png).
// Only shapes, no text, so no fonts are needed.
//
// Usage: slideshow_art OUTPUT_DIR

#include <QColor>
#include <QDir>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QString>

#include <cstdio>

namespace {

const QColor kOrange(255, 119, 38);
const QColor kScreenLight(0xf4, 0xf6, 0xfa);
const QColor kScreenDark(0xc9, 0xd0, 0xdc);
const QColor kInk(0x4a, 0x5a, 0x78);

enum class Direction { Back, Forward, DoubleForward };

// A projection screen: a light panel on a thin stand, with a few lines of a slide on it.
void drawScreen(QPainter &p, const QRectF &panel)
{
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x6b, 0x73, 0x82));
    const qreal stand = panel.width() * 0.04;
    p.drawRect(QRectF(panel.center().x() - stand / 2, panel.bottom(), stand, panel.height() * 0.22));
    p.drawRect(QRectF(panel.left() - 2, panel.top() - 3, panel.width() + 4, 3));

    QLinearGradient fill(panel.topLeft(), panel.bottomLeft());
    fill.setColorAt(0, kScreenLight);
    fill.setColorAt(1, kScreenDark);
    p.setBrush(fill);
    p.drawRect(panel);

    // A title bar and three bullet lines.
    const qreal unit = panel.height() / 10;
    p.setBrush(kInk);
    p.drawRect(QRectF(panel.left() + unit, panel.top() + unit, panel.width() * 0.55, unit * 1.3));
    p.setBrush(QColor(0x8d, 0x99, 0xb0));
    for (int i = 0; i < 3; ++i) {
        const qreal y = panel.top() + unit * (3.6 + i * 1.9);
        p.drawEllipse(QRectF(panel.left() + unit, y, unit * 0.8, unit * 0.8));
        p.drawRect(QRectF(panel.left() + unit * 2.3, y + unit * 0.1, panel.width() * (0.5 - i * 0.08), unit * 0.6));
    }
}

// A chevron arrow pointing left or right, filled, with its tip at `tip`.
QPolygonF chevron(QPointF tip, qreal length, qreal height, bool forward)
{
    const qreal d = forward ? -1 : 1;
    const qreal thickness = length * 0.5;
    return QPolygonF({tip, QPointF(tip.x() + d * length, tip.y() - height / 2),
                      QPointF(tip.x() + d * (length + thickness * 0.0), tip.y() - height / 2),
                      QPointF(tip.x() + d * (length + thickness), tip.y() - height / 2),
                      QPointF(tip.x() + d * thickness, tip.y()),
                      QPointF(tip.x() + d * (length + thickness), tip.y() + height / 2),
                      QPointF(tip.x() + d * length, tip.y() + height / 2)});
}

void drawArrows(QPainter &p, Direction direction, QPointF tip, qreal length, qreal height, const QColor &colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    const bool forward = direction != Direction::Back;
    p.drawPolygon(chevron(tip, length, height, forward));
    if (direction == Direction::DoubleForward)
        p.drawPolygon(chevron(QPointF(tip.x() - length * 1.25, tip.y()), length, height, true));
}

QImage face(Direction direction)
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    drawScreen(p, QRectF(14, 14, 68, 46));
    // The arrow sits on a dark disc at the bottom, in the presenter's orange.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0x1c, 0x20, 0x28));
    p.drawEllipse(QRectF(30, 60, 36, 32));
    switch (direction) {
    case Direction::Back:
        drawArrows(p, direction, QPointF(37, 76), 11, 18, kOrange);
        break;
    case Direction::Forward:
        drawArrows(p, direction, QPointF(59, 76), 11, 18, kOrange);
        break;
    case Direction::DoubleForward:
        drawArrows(p, direction, QPointF(64, 76), 9, 16, kOrange);
        break;
    }
    return image;
}

QImage arrow(Direction direction)
{
    QImage image(12, 9, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor white(255, 255, 255);
    switch (direction) {
    case Direction::Back:
        drawArrows(p, direction, QPointF(1.5, 4.5), 5, 8, white);
        break;
    case Direction::Forward:
        drawArrows(p, direction, QPointF(10.5, 4.5), 5, 8, white);
        break;
    case Direction::DoubleForward:
        drawArrows(p, direction, QPointF(11, 4.5), 4, 8, white);
        break;
    }
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

QImage icon(Direction direction, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size / 32.0;
    drawScreen(p, QRectF(3 * s, 4 * s, 26 * s, 17 * s));
    const QPointF tip = direction == Direction::Back ? QPointF(9 * s, 26 * s) : QPointF(25 * s, 26 * s);
    drawArrows(p, direction, tip, (direction == Direction::DoubleForward ? 5 : 7) * s, 10 * s, kOrange);
    p.end();
    return image.convertToFormat(QImage::Format_ARGB32);
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "slideshow_art: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: slideshow_art OUTPUT_DIR\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "slideshow_art: cannot create %s\n", argv[1]);
        return 1;
    }
    struct Set {
        Direction direction;
        int face, arrow, icon;
    };
    const Set sets[] = {{Direction::Back, 8014, 8007, 8011},
                        {Direction::DoubleForward, 8016, 8008, 8013},
                        {Direction::Forward, 8015, 8009, 8012}};
    bool ok = true;
    for (const Set &set : sets) {
        ok = ok && save(face(set.direction), dir, QStringLiteral("%1.png").arg(set.face));
        ok = ok && save(arrow(set.direction), dir, QStringLiteral("%1.png").arg(set.arrow));
        ok = ok && save(icon(set.direction, 16), dir, QStringLiteral("%1_16.png").arg(set.icon));
        ok = ok && save(icon(set.direction, 32), dir, QStringLiteral("%1_32.png").arg(set.icon));
    }
    return ok ? 0 : 1;
}
