// Draws the host's plug-in artwork at build time: the busy spinner strip (160x20, eight 20x20
// frames, transparent background; pure white is keyed out too) and the error icon (48x48) laid over
// a failed plug-in's dimmed face. Both are made for a 96x96 OLED key: high contrast, a dark rim so
// they read on light faces as well as on black.
//
// Usage: pixkey_plugin_artwork OUTPUT_DIR
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <cmath>
#include <cstdio>

namespace {

QImage spinnerStrip()
{
    constexpr int kFrames = 8;
    constexpr int kSize = 20;
    QImage strip(kFrames * kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    strip.fill(Qt::transparent);
    QPainter painter(&strip);
    painter.setRenderHint(QPainter::Antialiasing);
    // Brightness of a dot by how far it trails the leading one.
    const int levels[kFrames] = {235, 200, 165, 130, 100, 80, 70, 70};
    for (int frame = 0; frame < kFrames; ++frame) {
        const QPointF centre(frame * kSize + kSize / 2.0, kSize / 2.0);
        for (int dot = 0; dot < kFrames; ++dot) {
            const double angle = dot * M_PI / 4.0; // clockwise from the top
            const QPointF at = centre + QPointF(std::sin(angle) * 6.6, -std::cos(angle) * 6.6);
            const int trail = (frame - dot + kFrames) % kFrames;
            const int level = levels[trail];
            const double radius = trail == 0 ? 2.4 : 2.0;
            painter.setPen(QPen(QColor(0, 0, 0, 160), 1.0));
            painter.setBrush(QColor(level, level, level));
            painter.drawEllipse(at, radius, radius);
        }
    }
    return strip;
}

QImage errorIcon()
{
    constexpr int kSize = 48;
    QImage icon(kSize, kSize, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPointF centre(kSize / 2.0, kSize / 2.0);

    QRadialGradient fill(centre - QPointF(6, 6), 30);
    fill.setColorAt(0.0, QColor(240, 80, 60));
    fill.setColorAt(1.0, QColor(170, 20, 15));
    painter.setPen(QPen(QColor(60, 0, 0), 2.0));
    painter.setBrush(fill);
    painter.drawEllipse(centre, 22.0, 22.0);

    // The exclamation mark: a tapering bar and a dot.
    QPainterPath bar;
    bar.moveTo(20.5, 10.0);
    bar.lineTo(27.5, 10.0);
    bar.lineTo(25.8, 29.0);
    bar.lineTo(22.2, 29.0);
    bar.closeSubpath();
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(250, 250, 250));
    painter.drawPath(bar);
    painter.drawEllipse(QPointF(24.0, 36.0), 3.6, 3.6);
    return icon;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (!spinnerStrip().save(dir + QStringLiteral("/spinner.png")) || !errorIcon().save(dir + QStringLiteral("/error-icon.png"))) {
        std::fprintf(stderr, "cannot write the artwork into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
