#include "VolumeResources.h"

#include <pixkey_plugin.h>

#include <QString>

#include <cstring>

namespace volume {

QImage faceBitmap(const char *name)
{
    return QImage(QStringLiteral(":/volume/%1.png").arg(QLatin1StringView(name)));
}

QImage iconImage(const char *name, int size)
{
    if (size != 16 && size != 32)
        return {};
    return QImage(QStringLiteral(":/volume/%1_%2.png").arg(QLatin1StringView(name)).arg(size));
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

} // namespace volume
