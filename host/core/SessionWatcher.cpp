#include "SessionWatcher.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>

#include <unistd.h>

namespace pixkey {

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManager = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSession = QStringLiteral("org.freedesktop.login1.Session");
const QString kProperties = QStringLiteral("org.freedesktop.DBus.Properties");
} // namespace

SessionWatcher::SessionWatcher(Handlers handlers, QObject *parent) : QObject(parent), m_handlers(std::move(handlers)) {}

SessionWatcher::~SessionWatcher() = default;

bool SessionWatcher::start()
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        m_error = QStringLiteral("no system bus");
        return false;
    }
    QDBusInterface manager(kService, kManagerPath, kManager, bus);
    if (!manager.isValid()) {
        m_error = QStringLiteral("logind is not running");
        return false;
    }
    QDBusReply<QDBusObjectPath> session = manager.call(QStringLiteral("GetSessionByPID"), quint32(::getpid()));
    if (!session.isValid()) {
        // A process started outside a login session (a service, a test) belongs to none; the
        // user's display session is the one that counts.
        session = manager.call(QStringLiteral("GetSession"), QStringLiteral("auto"));
    }
    if (session.isValid()) {
        m_sessionPath = session.value().path();
        bus.connect(kService, m_sessionPath, kSession, QStringLiteral("Lock"), this, SLOT(onLock()));
        bus.connect(kService, m_sessionPath, kSession, QStringLiteral("Unlock"), this, SLOT(onUnlock()));
        bus.connect(kService, m_sessionPath, kProperties, QStringLiteral("PropertiesChanged"), this,
                    SLOT(onPropertiesChanged(QString, QVariantMap, QStringList)));
        QDBusInterface props(kService, m_sessionPath, kProperties, bus);
        QDBusReply<QDBusVariant> active = props.call(QStringLiteral("Get"), kSession, QStringLiteral("Active"));
        if (active.isValid())
            m_active = active.value().variant().toBool();
    }
    if (!bus.connect(kService, kManagerPath, kManager, QStringLiteral("PrepareForSleep"), this,
                     SLOT(onPrepareForSleep(bool)))) {
        m_error = QStringLiteral("cannot watch for sleep: ") + bus.lastError().message();
        return false;
    }
    takeInhibitor();
    if (m_sessionPath.isEmpty())
        m_error = QStringLiteral("no login session: lock and session changes are not followed");
    return true;
}

void SessionWatcher::takeInhibitor()
{
    if (m_inhibitor.isValid())
        return;
    QDBusInterface manager(kService, kManagerPath, kManager, QDBusConnection::systemBus());
    QDBusReply<QDBusUnixFileDescriptor> reply =
        manager.call(QStringLiteral("Inhibit"), QStringLiteral("sleep"), QStringLiteral("Pixkey mini Configurator"),
                     QStringLiteral("Switching the keypad off"), QStringLiteral("delay"));
    if (reply.isValid())
        m_inhibitor = reply.value();
}

void SessionWatcher::onLock()
{
    if (m_handlers.locked)
        m_handlers.locked(true);
}

void SessionWatcher::onUnlock()
{
    if (m_handlers.locked)
        m_handlers.locked(false);
}

void SessionWatcher::onPrepareForSleep(bool start)
{
    if (start) {
        if (m_handlers.suspend)
            m_handlers.suspend();
        // Closing the descriptor lets the sleep go ahead.
        m_inhibitor = QDBusUnixFileDescriptor();
    } else {
        takeInhibitor();
        if (m_handlers.resume)
            m_handlers.resume();
    }
}

void SessionWatcher::onPropertiesChanged(const QString &interface, const QVariantMap &changed, const QStringList &)
{
    if (interface != kSession)
        return;
    const auto it = changed.find(QStringLiteral("Active"));
    if (it == changed.end())
        return;
    const bool active = it->toBool();
    if (active == m_active)
        return;
    m_active = active;
    if (m_handlers.active)
        m_handlers.active(active);
}

} // namespace pixkey
