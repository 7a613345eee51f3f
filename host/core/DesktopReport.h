// DesktopReport: what the "Desktop" page of the settings and `pixkeyctl desktop` show. One item per
// capability the desktop hook layer (and the key sending) reports, plus one for the notification
// area, each working, needing a one-time step (with the step) or unavailable (with what to use
// instead). The page and the command both make their texts here, so they always say the same.
//
// Plain values and pure functions; any thread. `DesktopItem` travels on the session bus as (ssss)
// (the host's DesktopCapabilities method), registered by `registerDesktopItemType`.
#pragma once

#include <pixkey/pxkhk/DesktopCapabilities.h>

#include <QList>
#include <QMetaType>
#include <QString>

class QDBusArgument;

namespace pixkey {

// Whether the program's icon found a notification area (the configurator window tells the runtime).
enum class TrayState {
    Unknown, // not asked yet, still looking, or the icon is switched off
    Shown,   // the icon is in the notification area
    Missing, // no notification area turned up: the window is the way in
};

struct DesktopItem {
    // "ActiveWindow", "SwitchHotkey", "ModifierRows", "IdleTime", "SendKeys", "NotificationArea".
    QString id;
    CapabilityState state = CapabilityState::Unavailable;
    QString how;  // what provides it, or why it is missing
    QString step; // the one-time step (NeedsStep) or what to use instead (Unavailable)
    bool operator==(const DesktopItem &) const = default;
};
using DesktopItems = QList<DesktopItem>;

// One item as both surfaces show it (the step as a sentence: capital first letter, full stop).
struct DesktopLine {
    QString name;  // "Active window", ..., "Notification area"
    QString state; // "working", "needs a step", "unavailable"
    QString how;
    QString step;
    CapabilityState value = CapabilityState::Unavailable;
};

namespace DesktopReport {

inline const QString kNotificationArea = QStringLiteral("NotificationArea");

// The items for a session: the reports in their order, with the fallback filled in where an
// unavailable capability names none, then the notification area (left out while Unknown).
// `desktop` is XDG_CURRENT_DESKTOP (on GNOME a missing notification area is a step away).
DesktopItems items(const CapabilityReports &reports, TrayState tray, const QString &desktop);
// What to use when a capability is unavailable and its report names nothing.
QString fallback(DesktopCapability capability);

DesktopLine line(const DesktopItem &item);
// The report as `pixkeyctl desktop` prints it: a line per item, "NAME: STATE (HOW)", and the
// step indented on the next line.
QString text(const DesktopItems &items);

// The stable identifiers used on the bus, and back (false for an unknown one).
QString idOf(DesktopCapability capability);
QString stateId(CapabilityState state);
bool stateFromId(const QString &id, CapabilityState &state);

// Registers DesktopItem and DesktopItems with Qt and QtDBus (once per process is enough).
void registerDesktopItemType();

} // namespace DesktopReport

QDBusArgument &operator<<(QDBusArgument &argument, const DesktopItem &item);
const QDBusArgument &operator>>(const QDBusArgument &argument, DesktopItem &item);

} // namespace pixkey

Q_DECLARE_METATYPE(pixkey::DesktopItem)
