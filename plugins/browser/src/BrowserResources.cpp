#include "BrowserResources.h"

#include <pixkey_plugin.h>

#include <QString>

#include <cstring>

namespace browser {

QImage bigIcon(int size)
{
    if (size == 16)
        return QImage(QStringLiteral(":/browser/BIG_ICON_16.png"));
    const QImage icon(QStringLiteral(":/browser/BIG_ICON_32.png"));
    if (size == 32 || icon.isNull() || size < 1)
        return icon;
    return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage previewPicture()
{
    return QImage(QStringLiteral(":/browser/8001.png"));
}

PkxImage *toPkxImage(const QImage &image)
{
    if (image.isNull())
        return nullptr;
    // Format_ARGB32 on a little-endian machine is B, G, R, A in memory with straight alpha.
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    PkxImage *result = pkx_image_alloc(argb.width(), argb.height());
    if (!result)
        return nullptr;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(result->pixels + static_cast<std::size_t>(y) * result->stride, argb.constScanLine(y),
                    static_cast<std::size_t>(argb.width()) * 4);
    return result;
}

} // namespace browser
