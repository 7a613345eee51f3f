#include "WindowTitle.h"

#include "AppCore.h"

namespace pixkey {

QString WindowTitle::title(const AppCore &core, bool withVersion)
{
    return title(core.profileSuffix, withVersion);
}

QString WindowTitle::title(const QString &profileSuffix, bool withVersion)
{
    QString text = QStringLiteral("Pixkey mini Configurator");
    if (withVersion) {
        const QString version = programVersion();
        if (!version.isEmpty())
            text += QLatin1Char(' ') + version;
        text += QStringLiteral(" beta");
    }
    if (!profileSuffix.isEmpty())
        text += QStringLiteral(" (") + profileSuffix + QLatin1Char(')');
    return text;
}

QString WindowTitle::versionText(const QString &fileVersion)
{
    QString text = fileVersion;
    text.replace(QLatin1Char(','), QLatin1Char('.'));
    text.remove(QLatin1Char(' '));
    const qsizetype lastDot = text.lastIndexOf(QLatin1Char('.'));
    return lastDot >= 0 ? text.left(lastDot) : text;
}

QString WindowTitle::programVersion()
{
#ifdef PIXKEY_VERSION
    return versionText(QStringLiteral(PIXKEY_VERSION ".0"));
#else
    return QString();
#endif
}

} // namespace pixkey
