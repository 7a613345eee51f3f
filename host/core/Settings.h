#pragma once

#include <QString>

#include <array>
#include <cstdint>

namespace pixkey {

class SettingsStore;

// The twelve user settings of the host, in their stored order (the order is also that of the
// settings dialog's snapshot). Values read from the store are kept as read, without range checks;
// missing or unreadable values keep what the record held. One record per process, owned by
// `AppCore`; main thread only.
class Settings {
public:
    enum Index {
        Orientation,          // keypad orientation 0..3
        AutoSwitch,           // 1 = switch to application layouts automatically
        IlluminationOff,      // time-slider position for switching the illumination off
        ScreensaverOn,        // time-slider position for showing the "Idle" layout
        Brightness,           // 0..2
        SwitchLayoutModifier, // Alt 1, Ctrl 2, Shift 4, Win 8
        SwitchLayoutHotkey,   // virtual-key code, 0 = no hotkey
        Gamma,                // gamma in steps of 0.05
        WhiteBalance,         // kelvin
        SizeX,                // configurator width, 0 = none
        SizeY,                // configurator height, 0 = none
        TrayIcon,             // 1 = show the tray icon
        Count
    };

    static constexpr std::array<std::int32_t, Count> kDefaults = {0, 1, 40, 30, 2, 8, 32, 13, 8500, 0, 0, 1};
    // Stored names, in `Index` order.
    static const std::array<QString, Count> &names();

    std::int32_t value(Index index) const { return m_values[index]; }
    void setValue(Index index, std::int32_t value) { m_values[index] = value; }
    const std::array<std::int32_t, Count> &values() const { return m_values; }
    void restoreDefaults() { m_values = kDefaults; }

    // Reads every value present under the settings key of `profileSuffix`, or under the base key
    // when the profile key does not exist.
    void loadSettings(const SettingsStore &store, const QString &profileSuffix);
    // Writes all twelve values (`name` empty) or only the one whose stored name equals `name`
    // exactly, under the settings key of `profileSuffix`; the caller syncs the store. False when
    // nothing could be written (the key could not be created, or `name` names no setting).
    bool saveValues(SettingsStore &store, const QString &profileSuffix, const QString &name = QString()) const;

    // The gamma the pipeline gets: Gamma x 0.05.
    double gamma() const { return m_values[Gamma] * 0.05; }
    // The brightness level sent to the keypad: (Brightness + 1) x 20, i.e. 20, 40 or 60.
    int brightnessLevel() const { return (m_values[Brightness] + 1) * 20; }

    // Time-slider positions (IlluminationOff, ScreensaverOn): 0 = 1 minute ... 80 = 1 hour,
    // 99 = 10:30 hours, 100 = never (0). Positions outside 0..100 count as the nearest end.
    static std::int64_t sliderDurationMs(int position);
    // "%d min" up to 79, "%d:%02d" (hours, minutes) for 80..99, "Never" for 100.
    static QString sliderText(int position);

private:
    std::array<std::int32_t, Count> m_values = kDefaults;
};

} // namespace pixkey
