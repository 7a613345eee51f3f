#include "Settings.h"

#include "SettingsStore.h"

#include <algorithm>

namespace pixkey {

const std::array<QString, Settings::Count> &Settings::names()
{
    static const std::array<QString, Count> table = {
        QStringLiteral("Orientation"),  QStringLiteral("AutoSwitch"),
        QStringLiteral("IlluminationOff"), QStringLiteral("ScreensaverOn"),
        QStringLiteral("Brightness"),   QStringLiteral("SwitchLayoutModifier"),
        QStringLiteral("SwitchLayoutHotkey"), QStringLiteral("Gamma"),
        QStringLiteral("WhiteBalance"), QStringLiteral("SizeX"),
        QStringLiteral("SizeY"),        QStringLiteral("TrayIcon")};
    return table;
}

void Settings::loadSettings(const SettingsStore &store, const QString &profileSuffix)
{
    KeyPath key = SettingsStore::settingsKey(profileSuffix);
    if (!store.keyExists(key))
        key = SettingsStore::settingsKey();
    for (int i = 0; i < Count; ++i)
        if (const auto value = store.readDword(key, names()[i]))
            m_values[i] = *value;
}

bool Settings::saveValues(SettingsStore &store, const QString &profileSuffix, const QString &name) const
{
    const KeyPath key = SettingsStore::settingsKey(profileSuffix);
    if (!store.createKey(key))
        return false;
    bool wrote = false;
    for (int i = 0; i < Count; ++i) {
        if (name.isEmpty() || names()[i] == name)
            wrote = store.writeDword(key, names()[i], m_values[i]) || wrote;
    }
    return wrote;
}

std::int64_t Settings::sliderDurationMs(int position)
{
    constexpr std::int64_t minute = 60 * 1000;
    constexpr std::int64_t hour = 60 * minute;
    const int a = std::clamp(position, 0, 100);
    if (a <= 20)
        return (a / 5) * minute + minute;
    if (a <= 40)
        return ((10 * a - 200) / 20) * minute + 5 * minute;
    if (a <= 60)
        return ((15 * a - 600) / 20) * minute + 15 * minute;
    if (a <= 79)
        return ((a - 60) * 30 / 20) * minute + 30 * minute;
    if (a <= 99)
        return ((a - 80) / 2) * hour + (a % 2 ? 30 * minute : 0) + hour;
    return 0;
}

QString Settings::sliderText(int position)
{
    const int a = std::clamp(position, 0, 100);
    if (a == 100)
        return QStringLiteral("Never");
    const std::int64_t minutes = sliderDurationMs(a) / 60000;
    if (a <= 79)
        return QStringLiteral("%1 min").arg(minutes);
    return QStringLiteral("%1:%2").arg(minutes / 60).arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

} // namespace pixkey
