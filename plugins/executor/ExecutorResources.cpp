#include "ExecutorResources.h"

#include <pixkey_plugin.h>

#include <QString>


namespace executor {

QImage defaultImage()
{
    return QImage(QStringLiteral(":/executor/DEF_IMAGE.png")).convertToFormat(QImage::Format_BGR888);
}

QImage bigIcon(int size)
{
    if (size == 16)
        return QImage(QStringLiteral(":/executor/BIG_ICON_16.png"));
    const QImage icon(QStringLiteral(":/executor/BIG_ICON_32.png"));
    if (size == 32 || icon.isNull() || size < 1)
        return icon;
    return icon.scaled(size, size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace executor
