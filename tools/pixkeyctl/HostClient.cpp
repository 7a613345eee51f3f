#include "HostClient.h"

#include "HostBusName.h"

#include <QCoreApplication>
#include <QDBusConnectionInterface>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFileInfo>

#include <cstdio>
#include <cstdlib>

namespace pixkey::ctl {

namespace {
constexpr int kCallTimeoutMs = 20000; // a reload of many plug-ins can take a while
const QString kConnectionName = QStringLiteral("pixkeyctl");
} // namespace

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "pixkeyctl";
    static char *argv[] = {name, nullptr};
    static QCoreApplication application(argc, argv);
}

HostClient::HostClient(QDBusConnection connection, QString connectionName, QString owner)
    : m_connection(std::move(connection)), m_connectionName(std::move(connectionName)), m_owner(std::move(owner))
{
}

HostClient::~HostClient()
{
    m_connection = QDBusConnection(QString());
    QDBusConnection::disconnectFromBus(m_connectionName);
}

std::unique_ptr<HostClient> HostClient::find(const CtlOptions &options)
{
    ensureApplication();
    const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
    if (address.isEmpty())
        return nullptr;
    std::string port = options.port;
    if (port.empty() && std::getenv("PIXKEY_PORT"))
        port = std::getenv("PIXKEY_PORT");
    const QString name = port.empty() ? HostBusName::kFirstHost
                                      : HostBusName::forPort(QFileInfo(QString::fromStdString(port)).fileName());
    if (name.isEmpty())
        return nullptr;
    QDBusConnection connection = QDBusConnection::connectToBus(address, kConnectionName);
    if (!connection.isConnected()) {
        QDBusConnection::disconnectFromBus(kConnectionName);
        return nullptr;
    }
    const QDBusReply<QString> owner = connection.interface()->serviceOwner(name);
    if (!owner.isValid() || owner.value().isEmpty()) {
        connection = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(kConnectionName);
        return nullptr;
    }
    return std::unique_ptr<HostClient>(new HostClient(connection, kConnectionName, owner.value()));
}

QString HostClient::description()
{
    const QString port = property(QStringLiteral("Port")).toString();
    return port.isEmpty() ? QStringLiteral("the running program") : QStringLiteral("the program for the keypad at ") + port;
}

int HostClient::call(const QString &method, const QVariantList &arguments, QDBusMessage *reply)
{
    QDBusMessage message = QDBusMessage::createMethodCall(m_owner, HostBusName::kPath, HostBusName::kInterface, method);
    message.setArguments(arguments);
    const QDBusMessage answer = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage) {
        if (reply)
            *reply = answer;
        return ExitOk;
    }
    const QString error = answer.errorName();
    if (error.startsWith(HostBusName::kErrorPrefix))
        return fail(ExitFailed, answer.errorMessage().toStdString());
    if (error == QStringLiteral("org.freedesktop.DBus.Error.NoReply"))
        return fail(ExitFailed, "the running program did not answer in time, or ended before it answered");
    if (error == QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown") ||
        error == QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner") ||
        error == QStringLiteral("org.freedesktop.DBus.Error.Disconnected"))
        return fail(ExitFailed, "the running program ended before it answered");
    return fail(ExitFailed, "the running program cannot be reached: " + answer.errorMessage().toStdString());
}

QVariant HostClient::property(const QString &name)
{
    QDBusMessage answer;
    QDBusMessage message = QDBusMessage::createMethodCall(m_owner, HostBusName::kPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("Get"));
    message << HostBusName::kInterface << name;
    answer = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    if (answer.type() != QDBusMessage::ReplyMessage || answer.arguments().isEmpty())
        return {};
    return answer.arguments().constFirst().value<QDBusVariant>().variant();
}

QVariantMap HostClient::properties()
{
    QDBusMessage message = QDBusMessage::createMethodCall(m_owner, HostBusName::kPath,
                                                          QStringLiteral("org.freedesktop.DBus.Properties"),
                                                          QStringLiteral("GetAll"));
    message << HostBusName::kInterface;
    const QDBusReply<QVariantMap> answer = m_connection.call(message, QDBus::Block, kCallTimeoutMs);
    return answer.isValid() ? answer.value() : QVariantMap();
}

} // namespace pixkey::ctl
