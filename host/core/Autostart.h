#pragma once

#include <QString>

namespace pixkey {

// Autostart: whether the configurator starts with the user's desktop, kept as the user's XDG
// autostart entry ($XDG_CONFIG_HOME/autostart/com.vostrel.PixkeyMini.desktop) that starts it
// "minimized". Only the entry this program writes is touched. A plain value object that reads and
// writes files; any thread, one caller at a time.
class Autostart {
public:
    static constexpr const char *kEntryName = "com.vostrel.PixkeyMini.desktop";

    // `configHome`: the user's configuration folder (default $XDG_CONFIG_HOME or ~/.config).
    // `configurator`: the program the entry starts (default: PixkeyMiniConfigurator in the program
    // folder, the folder of the running executable).
    explicit Autostart(QString configHome = QString(), QString configurator = QString());

    QString entryPath() const;
    const QString &configurator() const { return m_configurator; }

    // True when the entry exists and the desktop has not been told to skip it (Hidden=true or
    // X-GNOME-Autostart-enabled=false, which desktops write when the user turns it off there).
    bool isEnabled() const;
    // Writes the entry (replacing whatever is there). False with `error` set when the configurator
    // is missing or the file cannot be written.
    bool enable(QString *error = nullptr) const;
    // Removes the entry; true when it is gone (also when there was none).
    bool disable(QString *error = nullptr) const;

    // The Exec line's command: the bare program name when that name on PATH is this configurator
    // (an installed copy, so the entry survives upgrades), else its quoted absolute path.
    QString execCommand() const;
    // `path` quoted for an Exec line (desktop entry quoting, then escaping for a string value).
    static QString quoteExecArgument(const QString &path);

private:
    QString m_configHome;
    QString m_configurator;
};

} // namespace pixkey
