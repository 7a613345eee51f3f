// vegas_art: draws the Vegas plug-in's pictures at build time and writes them as PNG files into the
// folder given on the command line. The plug-in compiles them in as Qt resources.
//
//   DEF_IMAGE.png  96x288  the three result symbols, cell 0 on top: cherries, bell, seven
//   8006.png       96x192  two spinning pictures: the reel tape blurred by its motion
//   VEGAS_1.png    32x32   the small icon: a seven
//   BIG_ICON.png   32x32   the large icon: a slot machine showing three sevens
//
// Faces are shown on 96x96 OLED keys, so the symbols are bright, bold, and sit on pure black.
// Only paths and gradients are used (no fonts), so the output is the same on every machine.
#include <QColor>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

constexpr int kCell = 96;

using SymbolPainter = std::function<void(QPainter &)>;

// Every symbol is drawn into a 96x96 box with its origin at the box's top-left corner.

void drawCherry(QPainter &p, QPointF centre, qreal radius)
{
    QRadialGradient body(centre + QPointF(-radius * 0.35, -radius * 0.4), radius * 1.35);
    body.setColorAt(0.0, QColor(255, 150, 150));
    body.setColorAt(0.25, QColor(255, 40, 50));
    body.setColorAt(0.75, QColor(200, 0, 20));
    body.setColorAt(1.0, QColor(110, 0, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawEllipse(centre, radius, radius);

    // Shine: a soft white crescent on the upper left.
    p.setBrush(QColor(255, 255, 255, 210));
    p.drawEllipse(QRectF(centre.x() - radius * 0.62, centre.y() - radius * 0.62, radius * 0.42,
                         radius * 0.3));
}

void drawCherries(QPainter &p)
{
    const QPointF knot(60, 16);
    const QPointF left(31, 66);
    const QPointF right(65, 72);
    const qreal radius = 19;

    // Stems first, so the fruit covers their ends.
    QPen stem(QColor(70, 190, 60), 4.5, Qt::SolidLine, Qt::RoundCap);
    p.setPen(stem);
    p.setBrush(Qt::NoBrush);
    QPainterPath stems;
    stems.moveTo(left + QPointF(2, -radius + 3));
    stems.quadTo(QPointF(36, 30), knot);
    stems.moveTo(right + QPointF(0, -radius + 3));
    stems.quadTo(QPointF(70, 40), knot);
    p.drawPath(stems);

    // A leaf off the knot.
    QPainterPath leaf;
    leaf.moveTo(knot);
    leaf.cubicTo(QPointF(68, 2), QPointF(84, 4), QPointF(90, 12));
    leaf.cubicTo(QPointF(82, 22), QPointF(68, 24), knot);
    QLinearGradient leafFill(QPointF(60, 20), QPointF(88, 6));
    leafFill.setColorAt(0.0, QColor(40, 150, 40));
    leafFill.setColorAt(1.0, QColor(140, 240, 90));
    p.setPen(Qt::NoPen);
    p.setBrush(leafFill);
    p.drawPath(leaf);
    p.setPen(QPen(QColor(30, 110, 30), 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(knot, QPointF(86, 12));

    drawCherry(p, left, radius);
    drawCherry(p, right, radius);
}

void drawBell(QPainter &p)
{
    QPainterPath body;
    body.moveTo(48, 12);
    body.cubicTo(QPointF(30, 12), QPointF(24, 28), QPointF(24, 46));
    body.cubicTo(QPointF(24, 60), QPointF(18, 66), QPointF(10, 72));
    body.lineTo(86, 72);
    body.cubicTo(QPointF(78, 66), QPointF(72, 60), QPointF(72, 46));
    body.cubicTo(QPointF(72, 28), QPointF(66, 12), QPointF(48, 12));
    body.closeSubpath();

    QLinearGradient gold(QPointF(10, 0), QPointF(86, 0));
    gold.setColorAt(0.0, QColor(150, 90, 0));
    gold.setColorAt(0.3, QColor(255, 215, 40));
    gold.setColorAt(0.42, QColor(255, 250, 190));
    gold.setColorAt(0.6, QColor(255, 190, 20));
    gold.setColorAt(1.0, QColor(140, 80, 0));

    // Clapper under the rim, then the knob on top, then the body over both.
    QRadialGradient clapperFill(QPointF(45, 80), 9);
    clapperFill.setColorAt(0.0, QColor(255, 240, 160));
    clapperFill.setColorAt(1.0, QColor(190, 120, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(clapperFill);
    p.drawEllipse(QPointF(48, 81), 8, 8);
    p.setBrush(gold);
    p.drawEllipse(QPointF(48, 10), 6, 6);
    p.setPen(QPen(QColor(120, 70, 0), 1.5));
    p.drawPath(body);

    // The rim: a rounded band across the mouth of the bell.
    p.setBrush(gold);
    p.drawRoundedRect(QRectF(7, 68, 82, 9), 4.5, 4.5);

    // A band of shine down the left shoulder.
    QPainterPath shine;
    shine.moveTo(38, 20);
    shine.cubicTo(QPointF(32, 28), QPointF(31, 42), QPointF(32, 56));
    shine.lineTo(37, 56);
    shine.cubicTo(QPointF(36, 42), QPointF(37, 30), QPointF(42, 21));
    shine.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 170));
    p.drawPath(shine);
}

QPainterPath sevenOutline()
{
    QPainterPath seven;
    seven.moveTo(16, 12);
    seven.lineTo(82, 12);
    seven.lineTo(82, 27);
    seven.cubicTo(QPointF(66, 44), QPointF(56, 62), QPointF(53, 86));
    seven.lineTo(31, 86);
    seven.cubicTo(QPointF(34, 64), QPointF(46, 44), QPointF(60, 30));
    seven.lineTo(30, 30);
    seven.lineTo(28, 37);
    seven.lineTo(16, 37);
    seven.closeSubpath();
    return seven;
}

void drawSeven(QPainter &p)
{
    const QPainterPath seven = sevenOutline();

    // A gold rim first (a wide stroke), then the red body inside it.
    p.setPen(QPen(QColor(255, 200, 0), 7, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    p.drawPath(seven);

    QLinearGradient red(QPointF(0, 12), QPointF(0, 86));
    red.setColorAt(0.0, QColor(255, 90, 70));
    red.setColorAt(0.35, QColor(240, 20, 20));
    red.setColorAt(1.0, QColor(150, 0, 10));
    p.setPen(Qt::NoPen);
    p.setBrush(red);
    p.drawPath(seven);

    // Shine along the top bar.
    p.setBrush(QColor(255, 255, 255, 150));
    p.drawRoundedRect(QRectF(20, 15, 56, 4), 2, 2);
}

QImage blackImage(int width, int height)
{
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::black);
    return image;
}

void paintSymbol(QImage &image, QPointF origin, qreal scale, const SymbolPainter &symbol)
{
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.translate(origin);
    p.scale(scale, scale);
    symbol(p);
}

QImage resultStrip(const std::vector<SymbolPainter> &symbols)
{
    QImage strip = blackImage(kCell, kCell * int(symbols.size()));
    for (size_t i = 0; i < symbols.size(); ++i)
        paintSymbol(strip, QPointF(0, kCell * qreal(i)), 1.0, symbols[i]);
    return strip;
}

// Averages every pixel with its neighbours above and below over `length` rows: the smear of a
// reel turning faster than the eye can follow.
QImage verticalBlur(const QImage &source, int length)
{
    QImage out = blackImage(source.width(), source.height());
    const int half = length / 2;
    for (int y = 0; y < source.height(); ++y) {
        auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
        for (int x = 0; x < source.width(); ++x) {
            int r = 0, g = 0, b = 0, n = 0;
            for (int dy = -half; dy <= half; ++dy) {
                const int sy = y + dy;
                if (sy < 0 || sy >= source.height())
                    continue;
                const QRgb px = reinterpret_cast<const QRgb *>(source.constScanLine(sy))[x];
                r += qRed(px);
                g += qGreen(px);
                b += qBlue(px);
                ++n;
            }
            dst[x] = qRgb(r / n, g / n, b / n);
        }
    }
    return out;
}

// Darkens the top and bottom of a cell so the picture reads as the face of a turning drum.
void drumShade(QImage &image, int top)
{
    for (int y = 0; y < kCell; ++y) {
        const double angle = (y + 0.5 - kCell / 2.0) / (kCell / 2.0) * 1.15;
        const double light = std::max(0.0, std::cos(angle));
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(top + y));
        for (int x = 0; x < kCell; ++x) {
            const QRgb px = line[x];
            line[x] = qRgb(int(qRed(px) * light), int(qGreen(px) * light), int(qBlue(px) * light));
        }
    }
}

// The spinning pictures: a tape of smaller symbols, seen through the key at two different turns
// of the reel, blurred along the direction of motion, with speed streaks across it.
QImage spinStrip(const std::vector<SymbolPainter> &symbols)
{
    const qreal scale = 0.72;
    const int pitch = 74;                        // distance between symbols on the tape
    const int sequence[] = {2, 0, 1, 2, 1, 0, 2, 0, 1};
    const int tapeLength = pitch * int(std::size(sequence));
    QImage tape = blackImage(kCell, tapeLength);
    for (size_t i = 0; i < std::size(sequence); ++i)
        paintSymbol(tape, QPointF(kCell * (1 - scale) / 2, pitch * qreal(i)), scale,
                    symbols[size_t(sequence[i])]);
    tape = verticalBlur(tape, 31);

    QImage strip = blackImage(kCell, 2 * kCell);
    const int offsets[] = {pitch * 0 + 44, pitch * 3 + 28}; // seven over cherries, seven over bell
    {
        QPainter p(&strip);
        for (int frame = 0; frame < 2; ++frame)
            p.drawImage(QPoint(0, frame * kCell), tape, QRect(0, offsets[frame], kCell, kCell));
    }
    for (int frame = 0; frame < 2; ++frame)
        drumShade(strip, frame * kCell);

    // Thin bright streaks, placed differently in the two frames so the key flickers like a reel.
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    for (int frame = 0; frame < 2; ++frame) {
        for (int k = 0; k < 3; ++k) {
            const qreal y = frame * kCell + 20 + k * 28 + frame * 13;
            QLinearGradient streak(QPointF(6, y), QPointF(90, y));
            streak.setColorAt(0.0, QColor(255, 255, 255, 0));
            streak.setColorAt(0.5, QColor(255, 240, 200, 110));
            streak.setColorAt(1.0, QColor(255, 255, 255, 0));
            p.setPen(QPen(QBrush(streak), 1.5));
            p.drawLine(QPointF(6, y), QPointF(90, y));
        }
    }
    return strip;
}

QImage transparentImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

QImage smallIcon()
{
    QImage icon = transparentImage(32);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(20, 20, 28));
    p.drawRoundedRect(QRectF(0.5, 0.5, 31, 31), 6, 6);
    p.translate(1, 1);
    p.scale(30.0 / kCell, 30.0 / kCell);
    drawSeven(p);
    return icon;
}

QImage bigIcon()
{
    QImage icon = transparentImage(32);
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);

    // Lever on the right, behind the cabinet.
    p.setPen(QPen(QColor(190, 190, 200), 2, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(29, 20), QPointF(29, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(230, 30, 40));
    p.drawEllipse(QPointF(29, 6), 2.6, 2.6);

    // Cabinet.
    QLinearGradient cabinet(QPointF(0, 0), QPointF(0, 32));
    cabinet.setColorAt(0.0, QColor(255, 220, 60));
    cabinet.setColorAt(1.0, QColor(200, 120, 0));
    p.setPen(QPen(QColor(120, 70, 0), 1));
    p.setBrush(cabinet);
    p.drawRoundedRect(QRectF(1.5, 4.5, 25, 25), 4, 4);

    // Three reel windows, each showing a seven.
    for (int i = 0; i < 3; ++i) {
        const QRectF window(4 + i * 7.0, 10, 6, 13);
        p.setPen(Qt::NoPen);
        p.setBrush(Qt::white);
        p.drawRoundedRect(window, 1.2, 1.2);
        p.save();
        p.translate(window.topLeft() + QPointF(0.3, 1.2));
        p.scale(5.4 / kCell, 10.5 / kCell);
        p.setBrush(QColor(220, 10, 20));
        p.drawPath(sevenOutline());
        p.restore();
    }
    return icon;
}

bool save(const QImage &image, const QString &folder, const char *name)
{
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!image.convertToFormat(QImage::Format_ARGB32).save(path, "PNG")) {
        std::fprintf(stderr, "vegas_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: vegas_art OUTPUT_FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const std::vector<SymbolPainter> symbols = {drawCherries, drawBell, drawSeven};

    bool ok = save(resultStrip(symbols), folder, "DEF_IMAGE.png");
    ok = save(spinStrip(symbols), folder, "8006.png") && ok;
    ok = save(smallIcon(), folder, "VEGAS_1.png") && ok;
    ok = save(bigIcon(), folder, "BIG_ICON.png") && ok;
    return ok ? 0 : 1;
}
