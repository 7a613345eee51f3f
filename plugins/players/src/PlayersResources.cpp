#include "PlayersResources.h"

#include <pixkey_plugin.h>

#include <QString>


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

} // namespace players
