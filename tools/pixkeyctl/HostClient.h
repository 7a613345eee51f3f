#pragma once
// HostClient: the running host program for the chosen keypad, reached on the session bus
// (interface com.vostrel.PixkeyMini.Host). pixkeyctl uses it whenever a host runs for the keypad,
// since the host then holds the port.
//
// Threads: pixkeyctl's main thread, with a Q(Core/Gui)Application made before `find`.

#include "CtlSupport.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QString>
#include <QVariant>

#include <memory>

namespace pixkey::ctl {

class HostClient {
public:
    // The host for the keypad of --port or PIXKEY_PORT (by the port's base name), or without
    // either the copy that started first. Null when there is no session bus or no such host.
    static std::unique_ptr<HostClient> find(const CtlOptions &options);
    ~HostClient();

    // The host's own connection name (stable for its life, unlike the well-known names).
    const QString &owner() const { return m_owner; }
    QDBusConnection &connection() { return m_connection; }
    // "the program for the keypad at PORT" (or "the running program" before it opened one).
    QString description();

    // Calls a method of the host. ExitOk with the answer in `reply`; otherwise prints why and
    // returns ExitFailed (the host refused or ended before answering).
    int call(const QString &method, const QVariantList &arguments = {}, QDBusMessage *reply = nullptr);
    // A property of the host; an invalid QVariant when it cannot be read.
    QVariant property(const QString &name);
    QVariantMap properties();

private:
    HostClient(QDBusConnection connection, QString connectionName, QString owner);

    QDBusConnection m_connection;
    QString m_connectionName;
    QString m_owner;
};

// A QCoreApplication when none exists yet (QtDBus needs one).
void ensureApplication();

} // namespace pixkey::ctl
