#include "VolumeResources.h"

#include <pixkey_plugin.h>

#include <QString>


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

} // namespace volume
