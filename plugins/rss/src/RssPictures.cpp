#include "RssPictures.hpp"

#include <pixkey/utility/PkxImages.h>

namespace pixkey::rss {

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
    return pixkey::ToPkxImage(iconPicture(), size);
}

PkxImage *previewImage()
{
    return pixkey::ToPkxImage(previewPicture(), PKX_FACE_SIZE);
}

} // namespace pixkey::rss
