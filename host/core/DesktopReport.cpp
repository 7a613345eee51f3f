#include "DesktopReport.h"

#include <QDBusArgument>
#include <QDBusMetaType>

namespace pixkey {

namespace DesktopReport {

namespace {
constexpr DesktopCapability kCapabilities[] = {DesktopCapability::ActiveWindow, DesktopCapability::SwitchHotkey,
                                               DesktopCapability::ModifierRows, DesktopCapability::IdleTime,
                                               DesktopCapability::SendKeys};

bool capabilityFromId(const QString &id, DesktopCapability &capability)
{
    for (DesktopCapability c : kCapabilities)
        if (idOf(c) == id) {
            capability = c;
            return true;
        }
    return false;
}

DesktopItem trayItem(TrayState tray, const QString &desktop)
{
    DesktopItem item;
    item.id = kNotificationArea;
    if (tray == TrayState::Shown) {
        item.state = CapabilityState::Working;
        item.how = QStringLiteral("the program's icon is in the notification area");
        return item;
    }
    item.how = QStringLiteral("no notification area (StatusNotifierItem host or system tray) turned up");
    const QString instead = QStringLiteral("The configurator window is shown instead; closing it asks whether to exit.");
    if (desktop.contains(QStringLiteral("GNOME"), Qt::CaseInsensitive)) {
        // GNOME Shell shows such icons only through an extension.
        item.state = CapabilityState::NeedsStep;
        item.step = QStringLiteral("Install and enable the AppIndicator extension of GNOME Shell, then start the "
                                   "program again. ") + instead;
    } else {
        item.step = instead;
    }
    return item;
}
} // namespace

QString idOf(DesktopCapability capability)
{
    switch (capability) {
    case DesktopCapability::ActiveWindow:
        return QStringLiteral("ActiveWindow");
    case DesktopCapability::SwitchHotkey:
        return QStringLiteral("SwitchHotkey");
    case DesktopCapability::ModifierRows:
        return QStringLiteral("ModifierRows");
    case DesktopCapability::IdleTime:
        return QStringLiteral("IdleTime");
    case DesktopCapability::SendKeys:
        return QStringLiteral("SendKeys");
    }
    return QString();
}

QString stateId(CapabilityState state)
{
    switch (state) {
    case CapabilityState::Working:
        return QStringLiteral("Working");
    case CapabilityState::NeedsStep:
        return QStringLiteral("NeedsStep");
    case CapabilityState::Unavailable:
        return QStringLiteral("Unavailable");
    }
    return QString();
}

bool stateFromId(const QString &id, CapabilityState &state)
{
    for (CapabilityState s : {CapabilityState::Working, CapabilityState::NeedsStep, CapabilityState::Unavailable})
        if (stateId(s) == id) {
            state = s;
            return true;
        }
    return false;
}

QString fallback(DesktopCapability capability)
{
    switch (capability) {
    case DesktopCapability::ActiveWindow:
        return QStringLiteral("Choose layouts from the tray menu or with `pixkeyctl activate NAME`; layouts made for "
                              "a program do not follow the window in front.");
    case DesktopCapability::SwitchHotkey:
        return QStringLiteral("Bind a key to `pixkeyctl switch-layout` in your desktop's keyboard settings.");
    case DesktopCapability::ModifierRows:
        return QStringLiteral("Choose a row from the tray menu's Row submenu or with `pixkeyctl row NAME` "
                              "(Default, Ctrl, Shift, Alt, Alt+Shift, Ctrl+Shift).");
    case DesktopCapability::IdleTime:
        return QStringLiteral("None: the idle layout and the dark keys do not come on after a time without input.");
    case DesktopCapability::SendKeys:
        return QStringLiteral("None: keys that send keyboard shortcuts do nothing on this desktop.");
    }
    return QString();
}

DesktopItems items(const CapabilityReports &reports, TrayState tray, const QString &desktop)
{
    DesktopItems result;
    for (const CapabilityReport &report : reports) {
        DesktopItem item;
        item.id = idOf(report.capability);
        item.state = report.state;
        item.how = QString::fromStdString(report.how);
        item.step = QString::fromStdString(report.step);
        if (item.state == CapabilityState::Working)
            item.step.clear();
        else if (item.state == CapabilityState::Unavailable && item.step.trimmed().isEmpty())
            item.step = fallback(report.capability);
        result << item;
    }
    if (tray != TrayState::Unknown)
        result << trayItem(tray, desktop);
    return result;
}

DesktopLine line(const DesktopItem &item)
{
    DesktopLine line;
    DesktopCapability capability;
    if (item.id == kNotificationArea)
        line.name = QStringLiteral("Notification area");
    else if (capabilityFromId(item.id, capability))
        line.name = QString::fromUtf8(capabilityName(capability));
    else
        line.name = item.id; // a newer host's capability: shown by its identifier
    line.value = item.state;
    line.state = QString::fromUtf8(capabilityStateName(item.state));
    line.how = item.how;
    // The parts of the program word their steps as clauses ("bind a key to ..."); shown as a
    // sentence each.
    line.step = item.step.trimmed();
    if (!line.step.isEmpty()) {
        line.step[0] = line.step[0].toUpper();
        if (!QStringLiteral(".!?").contains(line.step.back()))
            line.step += QLatin1Char('.');
    }
    return line;
}

QString text(const DesktopItems &items)
{
    QString out;
    for (const DesktopItem &item : items) {
        const DesktopLine l = line(item);
        out += l.name + QStringLiteral(": ") + l.state;
        if (!l.how.isEmpty())
            out += QStringLiteral(" (") + l.how + QLatin1Char(')');
        out += QLatin1Char('\n');
        if (!l.step.isEmpty())
            out += QStringLiteral("    ") + l.step + QLatin1Char('\n');
    }
    return out;
}

void registerDesktopItemType()
{
    qDBusRegisterMetaType<DesktopItem>();
    qDBusRegisterMetaType<DesktopItems>();
}

} // namespace DesktopReport

QDBusArgument &operator<<(QDBusArgument &argument, const DesktopItem &item)
{
    argument.beginStructure();
    argument << item.id << DesktopReport::stateId(item.state) << item.how << item.step;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, DesktopItem &item)
{
    QString state;
    argument.beginStructure();
    argument >> item.id >> state >> item.how >> item.step;
    argument.endStructure();
    // A state this program does not know reads as unavailable rather than as working.
    if (!DesktopReport::stateFromId(state, item.state))
        item.state = CapabilityState::Unavailable;
    return argument;
}

} // namespace pixkey
