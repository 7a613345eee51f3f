// volume_art: draws the Volume plug-in's pictures at build time and writes them as PNG files into
// the folder given on the command line; the plug-in compiles them in as Qt resources.
//
//   IDB_UP.png, IDB_DOWN.png, IDB_MUTE.png   96x96, 8 bits a pixel (a palette of 256 colours): a
//        loudspeaker with its heading at the top; rows 80 and below stay black for the bar the
//        plug-in draws
//   IDI_UP_16.png ... IDI_MUTE_32.png        the icons, 16x16 and 32x32, transparent around
//
// Usage: volume_art OUTPUT_DIR FONT_FILE   (FONT_FILE: the bold condensed face for the headings)
// Needs a QGuiApplication for the heading text; run with QT_QPA_PLATFORM=offscreen.
#include <QColor>
#include <QDir>
#include <QFont>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QList>
#include <QPainter>
#include <QPainterPath>
#include <QString>

#include <cstdio>

namespace {

enum class Kind { Up, Down, Mute };

// The four colour families of the pictures. Faces are drawn on black, so every anti-aliased pixel
// is a darker shade of one family; the palette holds 64 shades of each.
const QColor kBody(150, 175, 205);   // the loudspeaker
const QColor kWhite(255, 255, 255);  // headings, waves
const QColor kGreen(90, 220, 110);   // plus of Up
const QColor kRed(240, 70, 60);      // minus of Down, cross of Mute

QList<QRgb> facePalette()
{
    QList<QRgb> palette;
    for (const QColor &family : {kWhite, kBody, kGreen, kRed})
        for (int shade = 0; shade < 64; ++shade)
            palette.append(qRgb(family.red() * shade / 63, family.green() * shade / 63,
                                family.blue() * shade / 63));
    return palette;
}

// The loudspeaker: a box and a cone opening to the right, in `box` units of a 32-wide drawing.
void drawSpeaker(QPainter &p, qreal scale, QPointF origin)
{
    QPainterPath path;
    path.moveTo(0, 11);
    path.lineTo(7, 11);
    path.lineTo(16, 3);
    path.lineTo(16, 29);
    path.lineTo(7, 21);
    path.lineTo(0, 21);
    path.closeSubpath();
    p.save();
    p.translate(origin);
    p.scale(scale, scale);
    QLinearGradient shade(0, 3, 0, 29);
    shade.setColorAt(0.0, kBody.lighter(115));
    shade.setColorAt(1.0, kBody.darker(130));
    p.setPen(Qt::NoPen);
    p.setBrush(shade);
    p.drawPath(path);
    p.restore();
}

// Sound waves right of the speaker: `count` arcs.
void drawWaves(QPainter &p, qreal scale, QPointF origin, int count)
{
    p.save();
    p.translate(origin);
    p.scale(scale, scale);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(kWhite, 2.2, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < count; ++i) {
        const qreal r = 5 + 5 * i;
        p.drawArc(QRectF(17 - r, 16 - r, 2 * r, 2 * r), -45 * 16, 90 * 16);
    }
    p.restore();
}

// The sign of the kind at the speaker's mouth: plus, minus or a cross.
void drawSign(QPainter &p, qreal scale, QPointF origin, Kind kind)
{
    p.save();
    p.translate(origin);
    p.scale(scale, scale);
    const QPointF c(26, 16);
    const qreal arm = 4.5;
    p.setPen(QPen(kind == Kind::Up ? kGreen : kRed, 3.0, Qt::SolidLine, Qt::RoundCap));
    switch (kind) {
    case Kind::Up:
        p.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
        p.drawLine(QPointF(c.x(), c.y() - arm), QPointF(c.x(), c.y() + arm));
        break;
    case Kind::Down:
        p.drawLine(QPointF(c.x() - arm, c.y()), QPointF(c.x() + arm, c.y()));
        break;
    case Kind::Mute:
        p.drawLine(QPointF(c.x() - arm, c.y() - arm), QPointF(c.x() + arm, c.y() + arm));
        p.drawLine(QPointF(c.x() - arm, c.y() + arm), QPointF(c.x() + arm, c.y() - arm));
        break;
    }
    p.restore();
}

QImage face(Kind kind, const QString &fontFamily)
{
    QImage image(96, 96, QImage::Format_RGB32);
    image.fill(Qt::black);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);

    QFont font(fontFamily);
    font.setPixelSize(14);
    font.setBold(true);
    font.setHintingPreference(QFont::PreferFullHinting);
    const QString heading = kind == Kind::Up     ? QStringLiteral("Volume Up")
                            : kind == Kind::Down ? QStringLiteral("Volume Down")
                                                 : QStringLiteral("Mute");
    // The largest size up to 14 pixels at which the heading fits the key with a margin.
    while (font.pixelSize() > 9 && QFontMetrics(font).horizontalAdvance(heading) > 90)
        font.setPixelSize(font.pixelSize() - 1);
    p.setFont(font);
    p.setPen(kWhite);
    p.drawText(QRectF(0, 2, 96, 18), Qt::AlignHCenter | Qt::AlignVCenter, heading);

    // The speaker in rows 24..75, its sign or waves beside it.
    const qreal scale = 1.6;
    const QPointF origin(12, 24);
    drawSpeaker(p, scale, origin);
    if (kind == Kind::Mute) {
        drawSign(p, scale, origin + QPointF(6, 0), kind);
    } else {
        drawWaves(p, scale, origin, kind == Kind::Up ? 2 : 1);
        drawSign(p, scale, origin + QPointF(kind == Kind::Up ? 22 : 12, 0), kind);
    }
    p.end();
    // Rows from 80 down belong to the bar.
    for (int y = 78; y < 96; ++y)
        for (int x = 0; x < 96; ++x)
            image.setPixel(x, y, qRgb(0, 0, 0));
    return image.convertToFormat(QImage::Format_Indexed8, facePalette(), Qt::ThresholdDither);
}

QImage icon(Kind kind, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal scale = size / 32.0;
    const QPointF origin(0, 0);
    drawSpeaker(p, scale, origin);
    if (kind == Kind::Mute) {
        drawSign(p, scale, origin, kind);
    } else {
        if (size >= 32 && kind == Kind::Up)
            drawWaves(p, scale, origin + QPointF(-2, 0), 1);
        drawSign(p, scale, origin, kind);
    }
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (image.save(path, "PNG"))
        return true;
    std::fprintf(stderr, "volume_art: cannot write %s\n", qPrintable(path));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: volume_art OUTPUT_DIR FONT_FILE\n");
        return 64;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "volume_art: cannot create %s\n", argv[1]);
        return 1;
    }
    const int fontId = QFontDatabase::addApplicationFont(QString::fromLocal8Bit(argv[2]));
    const QStringList families = QFontDatabase::applicationFontFamilies(fontId);
    if (families.isEmpty()) {
        std::fprintf(stderr, "volume_art: cannot load the font %s\n", argv[2]);
        return 1;
    }

    struct Named {
        Kind kind;
        const char *face;
        const char *icon;
    };
    const Named pictures[] = {
        {Kind::Up, "IDB_UP", "IDI_UP"},
        {Kind::Down, "IDB_DOWN", "IDI_DOWN"},
        {Kind::Mute, "IDB_MUTE", "IDI_MUTE"},
    };
    bool ok = true;
    for (const Named &picture : pictures) {
        ok &= save(face(picture.kind, families.first()), dir, QString::fromLatin1(picture.face) + QStringLiteral(".png"));
        for (int size : {16, 32})
            ok &= save(icon(picture.kind, size), dir,
                       QStringLiteral("%1_%2.png").arg(QLatin1StringView(picture.icon)).arg(size));
    }
    return ok ? 0 : 1;
}
