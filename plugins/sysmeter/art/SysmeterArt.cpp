// sysmeter_art: draws the System Monitor's pictures into a folder at build time.
//
//   sysmeter_art OUTPUT_DIR
//
// Writes 8010.png (the strip: the memory face and the processor face side by side, 192 x 96, each
// with its heading; the memory face's first column carries the bar colours at rows 88..95),
// 8013.png and 8012.png (96 x 96 previews of the memory and processor keys, drawn by the keys' own
// drawing code from sample figures) and ICON_01 / ICON_02 at 16 and 32 pixels (transparent).
// Needs the offscreen platform for the pixel fonts.
#include "SystemMonitor.h"

#include <pixkey/utility/CTextRenderer.h>
#include <pixkey_plugin.h>

#include <QColor>
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>

#include <cstdio>

namespace {

using sysmeter::LoadHistory;
using sysmeter::MemoryStatus;
using sysmeter::ProcessEntry;
using sysmeter::SystemMonitor;

constexpr int kCell = PKX_FACE_SIZE;

PkxSurface surfaceOf(QImage &image)
{
    return PkxSurface{image.bits(), image.width(), image.height(), int(image.bytesPerLine())};
}

// One face's ground: a dark heading band with the title, then a light panel that the dark list
// text and the green figures stand out on.
void drawCellGround(QPainter &p, QImage &strip, int left, const char *heading)
{
    QLinearGradient band(0, 0, 0, 15);
    band.setColorAt(0, QColor(62, 74, 88));
    band.setColorAt(1, QColor(30, 38, 48));
    p.fillRect(left, 0, kCell, 16, band);
    QLinearGradient panel(0, 16, 0, 95);
    panel.setColorAt(0, QColor(240, 243, 237));
    panel.setColorAt(1, QColor(220, 226, 216));
    p.fillRect(left, 16, kCell, 80, panel);
    p.end();

    // The title in the keys' own list font, white on the band.
    PkxSurface surface = surfaceOf(strip);
    pixkey::CTextRenderer title;
    title.LoadFont("VELMORA_12PX");
    title.color = pixkey::rgbQuad(255, 255, 255);
    title.alignment = pixkey::CTextRenderer::AlignCenter;
    title.PrintText(&surface, heading, left + kCell / 2, 2);
    p.begin(&strip);
}

QImage strip()
{
    QImage image(2 * kCell, kCell, QImage::Format_BGR888);
    image.fill(Qt::black);
    QPainter p(&image);
    drawCellGround(p, image, 0, "Free memory");
    drawCellGround(p, image, kCell, "CPU usage");

    // Memory: the groove of the load bar, and in the first column the bar's own colours, which the
    // key stretches to the bar's length.
    p.fillRect(1, 88, kCell - 1, 8, QColor(198, 205, 194));
    p.fillRect(1, 88, kCell - 1, 1, QColor(176, 184, 172));
    const QColor bar[8] = {QColor(120, 186, 240), QColor(96, 170, 232), QColor(80, 156, 224), QColor(66, 142, 214),
                           QColor(54, 128, 202), QColor(44, 114, 188),  QColor(36, 100, 172), QColor(28, 86, 156)};
    for (int y = 0; y < 8; ++y)
        p.fillRect(0, 88 + y, 1, 1, bar[y]);

    // Processor: faint cells where the graph's segments light up, an empty scale to read against.
    for (int c = 0; c < 32; ++c)
        for (int i = 0; i < 11; ++i)
            p.fillRect(kCell + 1 + 3 * c, 94 - 3 * i, 2, 2, QColor(208, 215, 203));
    p.end();
    return image;
}

std::vector<ProcessEntry> sampleProcesses()
{
    return {
        {"Idle", 6812, 0},
        {"firefox-esr", 1490, 812 * 1024},
        {"gnome-shell", 655, 356 * 1024},
        {"Xorg", 402, 171 * 1024},
        {"thunderbird", 136, 143 * 1024},
        {"pipewire", 61, 38 * 1024},
        {"systemd", 0, 12 * 1024},
    };
}

QImage preview(const QImage &stripImage, int kind)
{
    QImage face(kCell, kCell, QImage::Format_BGR888);
    PkxSurface surface = surfaceOf(face);
    SystemMonitor::drawStripCell(surface, stripImage, kind);
    SystemMonitor monitor(""); // draws given figures only; samples nothing
    if (kind == 1) {
        MemoryStatus memory;
        memory.totalBytes = 8ull << 30;
        memory.availableBytes = 3021ull << 20;
        monitor.drawMemory(surface, sampleProcesses(), memory);
    } else {
        LoadHistory history{};
        const int busy[32] = {12, 18, 9, 14, 22, 31, 27, 19, 15, 11, 24, 38, 45, 41, 33, 29,
                              21, 17, 26, 35, 52, 61, 48, 39, 28, 22, 19, 25, 34, 29, 36, 32};
        for (int c = 0; c < 32; ++c)
            history[std::size_t(c)] = {busy[c], busy[c] / 3};
        monitor.drawProcessor(surface, sampleProcesses(), history);
    }
    return face;
}

// "ICON_01": a memory module, green board, black chips, gold contacts.
// "ICON_02": a load graph, green bars with red kernel parts, on a dark tile.
QImage icon(int number, int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    if (number == 1) {
        p.setPen(QPen(QColor(20, 80, 36), 1));
        p.setBrush(QColor(46, 150, 70));
        p.drawRoundedRect(QRectF(1.5, 7.5, 29, 16), 2, 2);
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(28, 30, 34));
        for (int i = 0; i < 4; ++i)
            p.drawRect(QRectF(4 + 6.5 * i, 10, 5, 8));
        p.setBrush(QColor(222, 178, 60));
        for (int i = 0; i < 9; ++i)
            p.drawRect(QRectF(3.5 + 2.8 * i, 20, 1.8, 3.5));
    } else {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(38, 46, 58));
        p.drawRoundedRect(QRectF(1, 1, 30, 30), 4, 4);
        const int heights[5] = {9, 15, 11, 22, 17};
        for (int i = 0; i < 5; ++i) {
            const double x = 4.5 + 4.8 * i;
            const double h = heights[i];
            p.setBrush(QColor(0, 190, 0));
            p.drawRect(QRectF(x, 27 - h, 3.6, h));
            p.setBrush(QColor(194, 19, 31));
            p.drawRect(QRectF(x, 27 - h / 3, 3.6, h / 3));
        }
    }
    return image;
}

bool save(const QImage &image, const QDir &dir, const QString &name)
{
    const QString path = dir.filePath(name);
    if (image.isNull() || !image.save(path, "PNG")) {
        std::fprintf(stderr, "sysmeter_art: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: sysmeter_art OUTPUT_DIR\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "sysmeter_art: cannot create %s\n", argv[1]);
        return 1;
    }
    const QImage stripImage = strip();
    bool ok = save(stripImage, dir, QStringLiteral("8010.png"))
              && save(preview(stripImage, 1), dir, QStringLiteral("8013.png"))
              && save(preview(stripImage, 2), dir, QStringLiteral("8012.png"));
    for (int number : {1, 2})
        for (int size : {16, 32})
            ok = ok && save(icon(number, size), dir, QStringLiteral("ICON_%1_%2.png").arg(number, 2, 10, QLatin1Char('0')).arg(size));
    return ok ? 0 : 1;
}
