#include "PlayersTestSupport.h"

#include <QDBusMessage>
#include <QDBusVariant>
#include <QImage>

#include <atomic>
#include <thread>

namespace players_test {

bool Face::save(const std::string &path) const
{
    const QImage image(bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE, QImage::Format_BGR888);
    return image.save(QString::fromStdString(path));
}

bool eventually(const std::function<bool()> &condition, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

FakePlayer::FakePlayer(const std::string &busAddress, const std::string &name, std::vector<std::string> options,
                       std::string wrapper)
    : m_address(busAddress), m_name(name)
{
    pixkey::test::ServiceProcess::Options o;
    std::vector<std::string> arguments = {"--name", name};
    arguments.insert(arguments.end(), options.begin(), options.end());
    if (wrapper.empty()) {
        o.program = PLAYERS_FAKE;
        o.arguments = arguments;
    } else {
        // Started by a shell that stays its parent: the player runs in a child of that process,
        // and goes when the shell is told to.
        std::string command = "'" PLAYERS_FAKE "'";
        for (const std::string &argument : arguments)
            command += " '" + argument + "'";
        o.program = "/bin/sh";
        o.arguments = {"-c", "trap 'kill $child' TERM; " + command + " & child=$!; wait $child"};
    }
    o.name = "fake player " + name;
    o.environment = {"DBUS_SESSION_BUS_ADDRESS=" + busAddress};
    o.unset = {"DISPLAY"};
    m_process = std::make_unique<pixkey::test::ServiceProcess>(o);
}

::testing::AssertionResult FakePlayer::start()
{
    ::testing::AssertionResult started =
        m_process->start(pixkey::test::Probe::dbusName(m_address, service().toStdString()));
    if (started) {
        // Control calls go to the connection, so they reach the player after it gave up its name.
        QDBusMessage message = QDBusMessage::createMethodCall(
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
            QStringLiteral("org.freedesktop.DBus"), QStringLiteral("GetNameOwner"));
        message << service();
        m_owner = bus().call(message, QDBus::Block, 5000).arguments().value(0).toString();
    }
    return started;
}

QDBusConnection FakePlayer::bus()
{
    // One control connection per bus address, kept for the process.
    const QString name = QStringLiteral("players-test-") + QString::number(qHash(QString::fromStdString(m_address)));
    QDBusConnection connection(name);
    if (!connection.isConnected())
        connection = QDBusConnection::connectToBus(QString::fromStdString(m_address), name);
    return connection;
}

namespace {

QDBusMessage control(QDBusConnection bus, const QString &service, const char *method, const QList<QVariant> &args)
{
    QDBusMessage message = QDBusMessage::createMethodCall(service, QStringLiteral("/org/mpris/MediaPlayer2"),
                                                          QStringLiteral("org.pixkey.FakePlayer"),
                                                          QLatin1String(method));
    message.setArguments(args);
    return bus.call(message, QDBus::Block, 5000);
}

} // namespace

bool FakePlayer::set(const QString &property, const QVariant &value)
{
    return control(bus(), m_owner, "Set", {property, QVariant::fromValue(QDBusVariant(value))}).type()
           == QDBusMessage::ReplyMessage;
}

bool FakePlayer::seek(qlonglong positionUs)
{
    return control(bus(), m_owner, "Seek", {positionUs}).type() == QDBusMessage::ReplyMessage;
}

bool FakePlayer::leave()
{
    return control(bus(), m_owner, "Leave", {}).type() == QDBusMessage::ReplyMessage;
}

QStringList FakePlayer::commands()
{
    const QDBusMessage reply = control(bus(), m_owner, "Commands", {});
    return reply.arguments().value(0).toStringList();
}

} // namespace players_test
