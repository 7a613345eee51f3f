#include "SlideshowResources.h"

#include "SlideshowModel.h"

#include <pixkey_plugin.h>

#include <QString>


namespace slideshow {

KindPictures picturesOf(int kind)
{
    switch (clampKind(kind)) {
    case KindPrevious:
        return {8011, 8014, 8007};
    case KindNextNearest:
        return {8013, 8016, 8008};
    case KindNext:
    case KindGoto:
        return {8012, 8015, 8009};
    default:
        return {8012, 8015, 0};
    }
}

QImage facePicture(int id)
{
    if (id < 8014 || id > 8016)
        return {};
    return QImage(QStringLiteral(":/slideshow/%1.png").arg(id)).convertToFormat(QImage::Format_BGR888);
}

QImage arrowPicture(int id)
{
    if (id < 8007 || id > 8009)
        return {};
    return QImage(QStringLiteral(":/slideshow/%1.png").arg(id)).convertToFormat(QImage::Format_ARGB32);
}

QImage iconPicture(int id, int size)
{
    if (id < 8011 || id > 8013 || size < 1)
        return {};
    if (size == 16)
        return QImage(QStringLiteral(":/slideshow/%1_16.png").arg(id));
    const QImage icon(QStringLiteral(":/slideshow/%1_32.png").arg(id));
    if (size == 32 || icon.isNull())
        return icon;
    return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace slideshow
