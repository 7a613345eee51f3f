#include "FaceDrawing.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace browser {

void drawProgressBar(QImage &face, int progress, int progressMax)
{
    face.fill(Qt::black);
    const int unit = progressMax / 10;
    const int boxes = unit != 0 ? progress / unit : 0;
    QPainter painter(&face);
    for (int i = 0; i < 10; ++i)
        painter.fillRect(17 + 6 * i, 80, 5, 7, i < boxes ? QColor(0xFF, 0xFF, 0xFF) : QColor(0x5A, 0x5A, 0x5A));
}

void drawErrorScreen(QImage &face, const QString &text)
{
    face.fill(QColor(77, 0, 0));
    QPainter painter(&face);
    QFont font = painter.font();
    font.setPixelSize(16);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, face.width(), face.height()), Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap, text);
}

void drawPageSquare(QImage &face, const QImage &page, int left, int top, int size)
{
    face.fill(Qt::black);
    if (page.isNull() || size < 1)
        return;
    // Only the part of the square that lies on the page is read, so a huge square stays cheap;
    // 64-bit edges, so stored values near the int range cannot overflow.
    const std::int64_t x0 = std::max<std::int64_t>(left, 0);
    const std::int64_t y0 = std::max<std::int64_t>(top, 0);
    const std::int64_t x1 = std::min<std::int64_t>(std::int64_t(left) + size, page.width());
    const std::int64_t y1 = std::min<std::int64_t>(std::int64_t(top) + size, page.height());
    if (x1 <= x0 || y1 <= y0)
        return;
    const double scale = double(face.width()) / size;
    const int fx0 = int(std::lround((x0 - left) * scale));
    const int fy0 = int(std::lround((y0 - top) * scale));
    const int fx1 = int(std::lround((x1 - left) * scale));
    const int fy1 = int(std::lround((y1 - top) * scale));
    if (fx1 <= fx0 || fy1 <= fy0)
        return;
    // QImage's smooth scaling averages whole source areas when shrinking, like halftone stretching.
    const QImage part = page.copy(QRect(int(x0), int(y0), int(x1 - x0), int(y1 - y0)))
                            .scaled(fx1 - fx0, fy1 - fy0, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&face);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(fx0, fy0, part);
}

} // namespace browser
