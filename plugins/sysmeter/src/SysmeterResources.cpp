#include "SysmeterResources.h"

#include <pixkey_plugin.h>

#include <QString>


namespace sysmeter {

QImage stripImage()
{
    const QImage strip(QStringLiteral(":/sysmeter/8010.png"));
    if (strip.width() != 2 * PKX_FACE_SIZE || strip.height() != PKX_FACE_SIZE)
        return {};
    return strip.convertToFormat(QImage::Format_BGR888);
}

QImage previewImage(int number)
{
    return QImage(QStringLiteral(":/sysmeter/%1.png").arg(number));
}

QImage iconImage(int number, int size)
{
    const QString base = QStringLiteral(":/sysmeter/ICON_%1_").arg(number, 2, 10, QLatin1Char('0'));
    if (size == 16)
        return QImage(base + QStringLiteral("16.png"));
    const QImage icon(base + QStringLiteral("32.png"));
    if (size == 32 || icon.isNull() || size < 1)
        return icon;
    return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace sysmeter
