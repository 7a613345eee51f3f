#include "UiPictures.h"

#include <QPainter>
#include <QSvgRenderer>

#include <algorithm>

namespace pixkey {

QPixmap UiPictures::render(const QString &resource, QSize logicalSize, qreal devicePixelRatio)
{
    QSvgRenderer renderer(resource);
    if (!renderer.isValid() || logicalSize.isEmpty() || devicePixelRatio <= 0)
        return QPixmap();
    const QSize pixels(qRound(logicalSize.width() * devicePixelRatio), qRound(logicalSize.height() * devicePixelRatio));
    QPixmap pixmap(pixels);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(logicalSize)));
    return pixmap;
}

QIcon UiPictures::icon(const QString &resource)
{
    QIcon result;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
        const QPixmap pixmap = render(resource, QSize(size, size));
        if (pixmap.isNull())
            return QIcon();
        result.addPixmap(pixmap);
    }
    return result;
}

QPixmap UiPictures::emptyKey(qreal devicePixelRatio)
{
    return render(QStringLiteral(":/pixkey/ui/empty-key.svg"), QSize(96, 96), devicePixelRatio);
}

QPixmap UiPictures::orientationPicture(int position, qreal devicePixelRatio)
{
    if (position < 0 || position >= kOrientationPictures)
        position = 0;
    return render(QStringLiteral(":/pixkey/ui/orientation-%1.svg").arg(position), QSize(72, 72), devicePixelRatio);
}

QPixmap UiPictures::brightnessPicture(int level, qreal devicePixelRatio)
{
    level = std::clamp(level, 0, kBrightnessPictures - 1);
    return render(QStringLiteral(":/pixkey/ui/brightness-%1.svg").arg(level), QSize(34, 34), devicePixelRatio);
}

QIcon UiPictures::trayIcon(bool connected)
{
    return icon(connected ? QStringLiteral(":/pixkey/ui/tray-connected.svg") : QStringLiteral(":/pixkey/ui/tray-disconnected.svg"));
}

QIcon UiPictures::windowIcon()
{
    return icon(QStringLiteral(":/pixkey/ui/app-icon.svg"));
}

QIcon UiPictures::addPluginIcon()
{
    return icon(QStringLiteral(":/pixkey/ui/add-plugin.svg"));
}

} // namespace pixkey
