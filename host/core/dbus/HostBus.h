#pragma once

#include "DesktopReport.h"

#include <QByteArray>
#include <QDBusConnection>
#include <QDBusContext>
#include <QObject>
#include <QString>
#include <QStringList>

namespace pixkey {

class Runtime;

// The running host on the session bus, for scripts and pixkeyctl: the interface
// com.vostrel.PixkeyMini.Host at /com/vostrel/PixkeyMini (documented in
// dbus/com.vostrel.PixkeyMini.Host.xml), under a name for the keypad's port and, for the copy
// that started first, the plain program name.
//
// Has a bus connection of its own, so that several hosts in one process stay apart. Calls are
// delivered on the main thread, between the runtime's other events; arguments are checked before
// anything changes, and a bad one gets an error reply. The runtime owns it and tells it about
// connection changes; the core and the switching tell it about layouts, rows and presses through
// their hooks, which it sets and clears. Main thread only.
class HostBus : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.vostrel.PixkeyMini.Host")
    Q_PROPERTY(bool Connected READ connected)
    Q_PROPERTY(QString Port READ port)
    Q_PROPERTY(QString Profile READ profile)
    Q_PROPERTY(QString ActiveLayout READ activeLayout)
    Q_PROPERTY(int ActiveRow READ activeRow)
    Q_PROPERTY(bool AutoSwitch READ autoSwitch)
    Q_PROPERTY(QStringList Layouts READ layouts)

public:
    explicit HostBus(Runtime &runtime);
    ~HostBus() override;

    // Connects to the session bus at `address` (empty: DBUS_SESSION_BUS_ADDRESS) and exports the
    // object and the names. False with `error()` when there is no bus or the object cannot be
    // exported; a name another program holds is only reported in `error()`.
    bool start(const QString &address = QString());
    const QString &error() const { return m_error; }
    // The name for this copy's keypad (empty before a keypad was opened).
    const QString &keypadName() const { return m_keypadName; }
    QDBusConnection connection() const { return m_connection; }

    // The keypad connected or was lost (from the runtime's main-thread event).
    void connectionChanged(bool connected);
    // Announces what changed since the last call: LayoutChanged and PropertiesChanged.
    void sync();

    bool connected() const { return m_connected; }
    QString port() const;
    QString profile() const;
    QString activeLayout() const;
    int activeRow() const;
    bool autoSwitch() const;
    QStringList layouts() const;

public Q_SLOTS: // the bus methods
    void ActivateLayout(const QString &name);
    void SetAutoSwitch(bool enabled);
    void Press(int key);
    void Reload();
    void ShowConfigurator();
    void Screenshot(QByteArray &png);
    void SwitchLayout();
    void SelectRow(int row);
    void DesktopCapabilities(QList<pixkey::DesktopItem> &items);

Q_SIGNALS:
    void KeyPressed(int key);
    void LayoutChanged(const QString &name, int row);
    void ConnectionChanged(bool connected);

private:
    struct Announced {
        bool connected = false;
        QString port, profile, layout;
        int row = 0;
        bool autoSwitch = false;
        QStringList layouts;
    };
    void reply(const QString &error, const QString &text);
    void updateKeypadName();
    Announced current() const;

    Runtime &m_runtime;
    QString m_connectionName;
    QDBusConnection m_connection;
    QString m_keypadName;
    QString m_error;
    bool m_exported = false;
    bool m_connected = false;
    Announced m_announced;
};

} // namespace pixkey
