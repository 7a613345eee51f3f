#include "SysmeterResources.h"

#include <pixkey_plugin.h>

#include <QString>

#include <cstring>

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

PkxImage *toPkxImage(const QImage &image)
{
    if (image.isNull())
        return nullptr;
    // Format_ARGB32 on a little-endian machine is B, G, R, A in memory with straight alpha, the
    // layout of a PkxImage.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    PkxImage *result = pkx_image_alloc(argb.width(), argb.height());
    if (!result)
        return nullptr;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(result->pixels + std::size_t(y) * std::size_t(result->stride), argb.constScanLine(y),
                    std::size_t(argb.width()) * 4);
    return result;
}

} // namespace sysmeter
