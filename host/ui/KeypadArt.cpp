#include "KeypadArt.h"

#include <QPainter>
#include <QSvgRenderer>

namespace pixkey {

namespace {

constexpr int kFaceStart[3] = {89, 228, 367};
constexpr int kFaceAcross = 54;

QString bodyResource(bool vertical)
{
    return vertical ? QStringLiteral(":/pixkey/ui/keypad-vertical.svg") : QStringLiteral(":/pixkey/ui/keypad-horizontal.svg");
}

} // namespace

QSize KeypadArt::pictureSize(bool vertical)
{
    return vertical ? QSize(kShortSide, kLongSide) : QSize(kLongSide, kShortSide);
}

QRect KeypadArt::faceRect(bool vertical, int position)
{
    if (position < 0 || position > 2)
        return QRect();
    return vertical ? QRect(kFaceAcross, kFaceStart[position], kFaceSize, kFaceSize)
                    : QRect(kFaceStart[position], kFaceAcross, kFaceSize, kFaceSize);
}

void KeypadArt::paintBody(QPainter &painter, const QRectF &target, bool vertical, bool turnedOver)
{
    QSvgRenderer renderer(bodyResource(vertical));
    renderer.setAspectRatioMode(Qt::IgnoreAspectRatio);
    if (!turnedOver) {
        renderer.render(&painter, target);
        return;
    }
    painter.save();
    painter.translate(target.center());
    painter.rotate(180);
    renderer.render(&painter, QRectF(-target.width() / 2, -target.height() / 2, target.width(), target.height()));
    painter.restore();
}

QPixmap KeypadArt::bodyPixmap(bool vertical, qreal devicePixelRatio)
{
    const QSize size = pictureSize(vertical);
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBody(painter, QRectF(QPointF(0, 0), QSizeF(size)), vertical);
    return pixmap;
}

} // namespace pixkey
