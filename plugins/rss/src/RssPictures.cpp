#include "RssPictures.hpp"

#include <cstring>

namespace pixkey::rss {

namespace {

PkxImage *toPkxImage(const QImage &image, int size)
{
    if (image.isNull())
        return nullptr;
    const QImage scaled = image.scaled(size, size, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                              .convertToFormat(QImage::Format_ARGB32);
    PkxImage *result = pkx_image_alloc(size, size);
    if (!result)
        return nullptr;
    const int left = (size - scaled.width()) / 2;
    const int top = (size - scaled.height()) / 2;
    for (int y = 0; y < scaled.height(); ++y)
        std::memcpy(result->pixels + (top + y) * result->stride + left * 4, scaled.constScanLine(y),
                    std::size_t(scaled.width()) * 4);
    return result;
}

} // namespace

QImage iconPicture()
{
    return QImage(QStringLiteral(":/rss/BIG_ICON.png"));
}

QImage previewPicture()
{
    return QImage(QStringLiteral(":/rss/8001.png"));
}

PkxImage *iconImage(int size)
{
    return toPkxImage(iconPicture(), size);
}

PkxImage *previewImage()
{
    return toPkxImage(previewPicture(), PKX_FACE_SIZE);
}

} // namespace pixkey::rss
