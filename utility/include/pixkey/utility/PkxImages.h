// PkxImages.h: the pictures a plug-in hands the host (icons and previews of GetInfo), made from Qt
// images. Header-only, so a plug-in needs nothing beyond QtGui for it. [any-thread]
#pragma once

#include <pixkey_plugin.h>

#include <QImage>

#include <cstddef>
#include <cstring>

namespace pixkey {

// A PkxImage the host takes over, copied from `image`; null for a null image or when memory runs
// out. With `size` above 0 the picture is first fitted into size x size, keeping its proportions,
// and centred on transparency.
inline PkxImage *ToPkxImage(const QImage &image, int size = 0)
{
    if (image.isNull())
        return nullptr;
    // Format_ARGB32 on a little-endian machine is B, G, R, A in memory with straight alpha, the
    // layout of a PkxImage.
    const QImage argb = (size > 0 ? image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation) : image)
                            .convertToFormat(QImage::Format_ARGB32);
    const int width = size > 0 ? size : argb.width();
    const int height = size > 0 ? size : argb.height();
    PkxImage *result = pkx_image_alloc(width, height);
    if (!result)
        return nullptr;
    const int left = (width - argb.width()) / 2;
    const int top = (height - argb.height()) / 2;
    for (int y = 0; y < argb.height(); ++y)
        std::memcpy(result->pixels + std::size_t(top + y) * std::size_t(result->stride) + std::size_t(left) * 4,
                    argb.constScanLine(y), std::size_t(argb.width()) * 4);
    return result;
}

} // namespace pixkey
