// players_art: draws the Players plug-in's pictures into the folder given as the only argument:
// the faces 8012 (play), 8017 (previous), 8018 (next), the pause face 8019, the preview 8020, and
// the icons ICON_PLAY, ICON_PREV, ICON_NEXT at 16 and 32 pixels. Run at build time.
#include <pixkey/utility/CTextRenderer.h>
#include <pixkey_plugin.h>

#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cstdio>

namespace {

const QColor kElapsed(0x2f, 0x9b, 0xe8); // the play face's bottom rows: the elapsed part of the bar
const QColor kRemain(0x61, 0x61, 0x61);

enum class Symbol { Play, Pause, Previous, Next };

QPainterPath triangle(QPointF tip, double height, bool right)
{
    const double dx = height * 0.87 * (right ? 1 : -1);
    QPainterPath path;
    path.moveTo(tip);
    path.lineTo(tip.x() - dx, tip.y() - height / 2);
    path.lineTo(tip.x() - dx, tip.y() + height / 2);
    path.closeSubpath();
    return path;
}

// A round button of radius r at `centre` carrying `symbol`.
void drawButton(QPainter &painter, QPointF centre, double r, Symbol symbol)
{
    painter.setRenderHint(QPainter::Antialiasing);
    QRadialGradient body(centre - QPointF(r * 0.3, r * 0.4), r * 1.4);
    body.setColorAt(0, QColor(0x4a, 0x4f, 0x58));
    body.setColorAt(1, QColor(0x12, 0x14, 0x18));
    painter.setPen(QPen(kElapsed, std::max(1.0, r / 14)));
    painter.setBrush(body);
    painter.drawEllipse(centre, r - r / 28, r - r / 28);

    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const double s = r * 0.5; // symbol height
    switch (symbol) {
    case Symbol::Play:
        painter.drawPath(triangle(centre + QPointF(s * 0.58, 0), s * 1.15, true));
        break;
    case Symbol::Pause:
        painter.drawRect(QRectF(centre.x() - s * 0.45, centre.y() - s * 0.55, s * 0.32, s * 1.1));
        painter.drawRect(QRectF(centre.x() + s * 0.13, centre.y() - s * 0.55, s * 0.32, s * 1.1));
        break;
    case Symbol::Previous:
        painter.drawRect(QRectF(centre.x() - s * 0.78, centre.y() - s * 0.5, s * 0.16, s));
        painter.drawPath(triangle(centre + QPointF(-s * 0.6, 0), s, false));
        painter.drawPath(triangle(centre + QPointF(s * 0.25, 0), s, false));
        break;
    case Symbol::Next:
        painter.drawRect(QRectF(centre.x() + s * 0.62, centre.y() - s * 0.5, s * 0.16, s));
        painter.drawPath(triangle(centre + QPointF(s * 0.6, 0), s, true));
        painter.drawPath(triangle(centre + QPointF(-s * 0.25, 0), s, true));
        break;
    }
}

QImage face()
{
    QImage image(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

// The play/pause faces: the button above the title line, the elapsed colour in rows 86 to 95.
QImage playFace(Symbol symbol)
{
    QImage image = face();
    QPainter painter(&image);
    drawButton(painter, QPointF(48, 34), 29, symbol);
    painter.fillRect(QRect(0, 86, 96, 10), kElapsed);
    return image;
}

QImage bigFace(Symbol symbol)
{
    QImage image = face();
    QPainter painter(&image);
    drawButton(painter, QPointF(48, 48), 40, symbol);
    return image;
}

// What the play/pause key looks like at work, for the configurator.
QImage preview()
{
    QImage image = playFace(Symbol::Play).convertToFormat(QImage::Format_BGR888);
    PkxSurface surface{image.bits(), image.width(), image.height(), int(image.bytesPerLine())};
    {
        QPainter painter(&image);
        painter.fillRect(QRect(32, 86, 64, 10), kRemain);
    }
    pixkey::CTextRenderer title;
    title.LoadFont("VELMORA_12PX");
    title.alignment = pixkey::CTextRenderer::AlignCenter;
    title.PrintText(&surface, "Artist - Title", 48, 70);
    pixkey::CTextRenderer time;
    time.LoadFont("TIMELINE");
    time.PrintText(&surface, "1:01", 7, 85);
    time.alignment = pixkey::CTextRenderer::AlignRight;
    time.PrintText(&surface, "-1:58", 89, 85);
    return image;
}

QImage iconImage(Symbol symbol, int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    drawButton(painter, QPointF(size / 2.0, size / 2.0), size / 2.0, symbol);
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    if (image.save(dir.filePath(name + QStringLiteral(".png"))))
        return true;
    std::fprintf(stderr, "players_art: cannot write %s\n", qPrintable(dir.filePath(name)));
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: players_art FOLDER\n");
        return 64;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    bool ok = save(playFace(Symbol::Play), dir, QStringLiteral("8012"))
              && save(bigFace(Symbol::Previous), dir, QStringLiteral("8017"))
              && save(bigFace(Symbol::Next), dir, QStringLiteral("8018"))
              && save(playFace(Symbol::Pause), dir, QStringLiteral("8019"))
              && save(preview(), dir, QStringLiteral("8020"));
    const struct {
        const char *name;
        Symbol symbol;
    } icons[] = {{"ICON_PLAY", Symbol::Play}, {"ICON_PREV", Symbol::Previous}, {"ICON_NEXT", Symbol::Next}};
    for (const auto &entry : icons)
        for (int size : {16, 32})
            ok = ok && save(iconImage(entry.symbol, size), dir,
                            QStringLiteral("%1_%2").arg(QLatin1String(entry.name)).arg(size));
    return ok ? 0 : 1;
}
