#include "PlayersResources.h"

#include <pixkey_plugin.h>

#include <QString>

#include <cstring>

namespace players {

QImage bitmap(int number)
{
    const QImage image(QStringLiteral(":/players/%1.png").arg(number));
    if (image.isNull())
        return {};
    return image.convertToFormat(QImage::Format_BGR888);
}

QImage icon(const char *name, int size)
{
    const QImage image(QStringLiteral(":/players/%1_%2.png").arg(QLatin1String(name)).arg(size));
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_ARGB32);
}

PkxImage *toPkxImage(const QImage &image)
{
    if (image.isNull())
        return nullptr;
    // Format_ARGB32 is B, G, R, A in memory on a little-endian machine, with straight alpha: the
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

} // namespace players
