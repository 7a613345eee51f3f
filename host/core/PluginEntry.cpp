#include "PluginEntry.h"

namespace pixkey {

QString PluginEntry::displayName() const
{
    if (!name.isEmpty())
        return name;
    if (library && !library->name.isEmpty())
        return library->name;
    return QStringLiteral("Unnamed");
}

QString PluginEntry::fileName() const
{
    const qsizetype cut = std::max(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1Char('/')));
    return path.mid(cut + 1);
}

} // namespace pixkey
