#include "BrowserResources.h"

#include <pixkey_plugin.h>

#include <QString>


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

} // namespace browser
