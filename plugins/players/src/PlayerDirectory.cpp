#include "PlayerDirectory.h"

#include <pixkey/utility/FocusedWindow.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QFile>
#include <QObject>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <map>

namespace players {

namespace {

const QString kPrefix = QStringLiteral("org.mpris.MediaPlayer2.");
const QString kPath = QStringLiteral("/org/mpris/MediaPlayer2");
const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");
const QString kBusService = QStringLiteral("org.freedesktop.DBus");
const QString kBusPath = QStringLiteral("/org/freedesktop/DBus");

std::atomic<unsigned> connectionCounter{0};

bool isPlayerName(const QString &name)
{
    return name.startsWith(kPrefix) && name.size() > kPrefix.size();
}

// The process and its ancestors, read from /proc; stops at init or after 64 steps.
std::vector<int> lineageOf(int pid)
{
    std::vector<int> lineage;
    while (pid > 1 && lineage.size() < 64) {
        lineage.push_back(pid);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            break;
        // "pid (command) state ppid ...": the command may hold spaces and parentheses.
        const QByteArray line = stat.read(4096);
        const int close = line.lastIndexOf(')');
        if (close < 0)
            break;
        const QList<QByteArray> fields = line.mid(close + 1).trimmed().split(' ');
        if (fields.size() < 2)
            break;
        const int parent = fields.at(1).toInt();
        if (parent == pid)
            break;
        pid = parent;
    }
    return lineage;
}

} // namespace

// The directory's bus side; lives in the directory's thread and is only touched there.
class BusWatcher : public QObject {
    Q_OBJECT
public:
    explicit BusWatcher(PlayerDirectory &directory) : m_directory(directory) {}

    void start()
    {
        m_refresh = new QTimer(this);
        connect(m_refresh, &QTimer::timeout, this, &BusWatcher::tick);
        m_refresh->start(m_directory.m_options.refreshPeriod);
        m_focus = new QTimer(this);
        connect(m_focus, &QTimer::timeout, this, &BusWatcher::checkFocus);
        m_focus->start(m_directory.m_options.focusPeriod);
        connectBus();
    }

    void stop()
    {
        delete m_refresh;
        delete m_focus;
        m_refresh = m_focus = nullptr;
        dropBus();
    }

    void refreshPlayer(const QString &service)
    {
        if (m_players.count(service))
            readProperties(service);
    }

public Q_SLOTS:
    void nameOwnerChanged(const QString &name, const QString &oldOwner, const QString &newOwner)
    {
        Q_UNUSED(oldOwner);
        if (!isPlayerName(name))
            return;
        if (newOwner.isEmpty()) {
            if (m_players.erase(name))
                publish();
            return;
        }
        track(name, newOwner);
    }

    void propertiesChanged(const QDBusMessage &message)
    {
        const QList<QVariant> args = message.arguments();
        if (args.size() < 2 || args.at(0).toString() != kPlayerInterface)
            return;
        const QVariantMap changed = qdbus_cast<QVariantMap>(args.at(1));
        const QStringList invalidated = args.size() > 2 ? qdbus_cast<QStringList>(args.at(2)) : QStringList();
        const Clock::time_point now = m_directory.now();
        bool any = false;
        for (auto &[service, entry] : m_players) {
            if (entry.state.owner != message.service())
                continue;
            entry.state.apply(changed, false, now);
            any = true;
            if (!invalidated.isEmpty())
                readProperties(service);
            else if (changed.contains(QStringLiteral("Metadata")) || changed.contains(QStringLiteral("PlaybackStatus"))
                     || changed.contains(QStringLiteral("Rate")))
                readPosition(service);
        }
        if (any)
            publish();
    }

    void seeked(const QDBusMessage &message)
    {
        const QList<QVariant> args = message.arguments();
        if (args.isEmpty())
            return;
        const std::int64_t position = microsecondsOf(args.at(0));
        const Clock::time_point now = m_directory.now();
        bool any = false;
        for (auto &[service, entry] : m_players) {
            if (entry.state.owner != message.service())
                continue;
            entry.state.positionUs = position;
            entry.state.positionAt = now;
            any = true;
        }
        if (any)
            publish();
    }

private:
    struct Entry {
        PlayerState state;
        bool ready = false; // its properties were read once: only then is it published
    };

    void connectBus()
    {
        ++m_epoch;
        m_name = QStringLiteral("pixkey-players-%1").arg(++connectionCounter);
        QString address = m_directory.m_options.busAddress;
        if (address.isEmpty())
            address = QString::fromLocal8Bit(qgetenv("DBUS_SESSION_BUS_ADDRESS"));
        // The address is read anew at every attempt: libdbus keeps the one it saw first.
        m_bus = address.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_name)
                                  : QDBusConnection::connectToBus(address, m_name);
        if (!m_bus.isConnected()) {
            dropBus();
            return;
        }
        m_bus.connect(kBusService, kBusPath, kBusService, QStringLiteral("NameOwnerChanged"), this,
                      SLOT(nameOwnerChanged(QString,QString,QString)));
        m_bus.connect(QString(), kPath, kPropertiesInterface, QStringLiteral("PropertiesChanged"), this,
                      SLOT(propertiesChanged(QDBusMessage)));
        m_bus.connect(QString(), kPath, kPlayerInterface, QStringLiteral("Seeked"), this,
                      SLOT(seeked(QDBusMessage)));
        m_directory.setConnection(m_bus);

        call(QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("ListNames")),
             [this](const QDBusMessage &reply) {
                 const QStringList names = reply.arguments().value(0).toStringList();
                 for (const QString &name : names)
                     if (isPlayerName(name) && !m_players.count(name))
                         lookUpOwner(name);
             });
    }

    void dropBus()
    {
        ++m_epoch;
        m_directory.setConnection(QDBusConnection(QString()));
        if (!m_name.isEmpty()) {
            m_bus = QDBusConnection(QString());
            QDBusConnection::disconnectFromBus(m_name);
            m_name.clear();
        }
        if (!m_players.empty()) {
            m_players.clear();
            publish();
        }
    }

    void tick()
    {
        if (!m_bus.isConnected()) {
            dropBus();
            connectBus();
            return;
        }
        for (const auto &[service, entry] : m_players)
            readProperties(service);
    }

    void checkFocus()
    {
        int focused = 0;
        if (m_players.size() >= 2)
            focused = m_directory.m_options.focusedProcess();
        if (focused != m_focused) {
            m_focused = focused;
            publish();
        }
    }

    void lookUpOwner(const QString &service)
    {
        QDBusMessage message =
            QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService, QStringLiteral("GetNameOwner"));
        message << service;
        call(message, [this, service](const QDBusMessage &reply) {
            const QString owner = reply.arguments().value(0).toString();
            if (!owner.isEmpty() && !m_players.count(service))
                track(service, owner);
        });
    }

    void track(const QString &service, const QString &owner)
    {
        Entry &entry = m_players[service];
        entry = Entry{};
        entry.state.service = service;
        entry.state.owner = owner;
        QDBusMessage message = QDBusMessage::createMethodCall(kBusService, kBusPath, kBusService,
                                                              QStringLiteral("GetConnectionUnixProcessID"));
        message << service;
        call(message, [this, service, owner](const QDBusMessage &reply) {
            const auto it = m_players.find(service);
            if (it == m_players.end() || it->second.state.owner != owner)
                return;
            it->second.state.lineage = lineageOf(int(reply.arguments().value(0).toUInt()));
            if (it->second.ready)
                publish();
        });
        readProperties(service);
    }

    void readProperties(const QString &service)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, kPath, kPropertiesInterface, QStringLiteral("GetAll"));
        message << kPlayerInterface;
        const QString owner = m_players[service].state.owner;
        call(message, [this, service, owner](const QDBusMessage &reply) {
            const auto it = m_players.find(service);
            if (it == m_players.end() || it->second.state.owner != owner)
                return;
            it->second.state.apply(qdbus_cast<QVariantMap>(reply.arguments().value(0)), true, m_directory.now());
            it->second.ready = true;
            publish();
        });
    }

    void readPosition(const QString &service)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, kPath, kPropertiesInterface, QStringLiteral("Get"));
        message << kPlayerInterface << QStringLiteral("Position");
        const QString owner = m_players[service].state.owner;
        call(message, [this, service, owner](const QDBusMessage &reply) {
            const auto it = m_players.find(service);
            if (it == m_players.end() || it->second.state.owner != owner)
                return;
            QVariant value = reply.arguments().value(0);
            if (value.canConvert<QDBusVariant>())
                value = value.value<QDBusVariant>().variant();
            it->second.state.positionUs = microsecondsOf(value);
            it->second.state.positionAt = m_directory.now();
            if (it->second.ready)
                publish();
        });
    }

    // Sends `message` without waiting; `onReply` runs here with a successful answer that belongs
    // to the current connection. Errors and time-outs keep what is known.
    template <class Handler>
    void call(const QDBusMessage &message, Handler onReply)
    {
        if (!m_bus.isConnected())
            return;
        const int timeout = int(m_directory.m_options.callTimeout.count());
        auto *watcher = new QDBusPendingCallWatcher(m_bus.asyncCall(message, timeout), this);
        const unsigned epoch = m_epoch;
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, epoch, onReply](QDBusPendingCallWatcher *finished) {
                    finished->deleteLater();
                    const QDBusMessage reply = finished->reply();
                    if (epoch == m_epoch && reply.type() == QDBusMessage::ReplyMessage)
                        onReply(reply);
                });
    }

    void publish()
    {
        auto snapshot = std::make_shared<PlayerSnapshot>();
        for (const auto &[service, entry] : m_players)
            if (entry.ready)
                snapshot->players.push_back(entry.state);
        snapshot->focusedProcess = m_focused;
        m_directory.publish(std::move(snapshot));
    }

    PlayerDirectory &m_directory;
    QDBusConnection m_bus{QString()};
    QString m_name;          // name of m_bus among the process's connections; empty when none
    unsigned m_epoch = 0;    // changes with every connection; answers of older ones are dropped
    QTimer *m_refresh = nullptr;
    QTimer *m_focus = nullptr;
    std::map<QString, Entry> m_players; // by service name
    int m_focused = 0;
};

PlayerDirectory::PlayerDirectory(Options options) : m_options(std::move(options))
{
    if (!m_options.clock)
        m_options.clock = [] { return Clock::now(); };
    if (!m_options.focusedProcess)
        m_options.focusedProcess = [] { return pixkey::FocusedWindowProcess(); };
    m_snapshot = std::make_shared<PlayerSnapshot>();
    if (!QCoreApplication::instance())
        return;
    m_thread = new QThread;
    m_thread->setObjectName(QStringLiteral("players-bus"));
    m_watcher = new BusWatcher(*this);
    m_watcher->moveToThread(m_thread);
    m_thread->start();
    QMetaObject::invokeMethod(m_watcher, [watcher = m_watcher] { watcher->start(); }, Qt::QueuedConnection);
}

PlayerDirectory::~PlayerDirectory()
{
    if (!m_thread)
        return;
    QMetaObject::invokeMethod(
        m_watcher,
        [watcher = m_watcher] {
            watcher->stop();
            delete watcher;
        },
        Qt::BlockingQueuedConnection);
    m_thread->quit();
    m_thread->wait();
    delete m_thread;
}

std::shared_ptr<PlayerDirectory> PlayerDirectory::shared()
{
    static std::mutex lock;
    static std::weak_ptr<PlayerDirectory> current;
    std::lock_guard guard(lock);
    std::shared_ptr<PlayerDirectory> directory = current.lock();
    if (directory)
        return directory;
    if (!QCoreApplication::instance())
        return nullptr;
    directory = std::make_shared<PlayerDirectory>(Options{});
    current = directory;
    return directory;
}

SnapshotPtr PlayerDirectory::snapshot() const
{
    std::lock_guard guard(m_lock);
    return m_snapshot;
}

bool PlayerDirectory::command(const QString &service, const char *method)
{
    QDBusConnection bus(QString{});
    {
        std::lock_guard guard(m_lock);
        bus = m_connection;
    }
    if (!bus.isConnected())
        return false;
    const QDBusMessage message =
        QDBusMessage::createMethodCall(service, kPath, kPlayerInterface, QString::fromLatin1(method));
    const QDBusMessage reply = bus.call(message, QDBus::Block, int(m_options.commandTimeout.count()));
    QMetaObject::invokeMethod(
        m_watcher, [watcher = m_watcher, service] { watcher->refreshPlayer(service); }, Qt::QueuedConnection);
    return reply.type() == QDBusMessage::ReplyMessage;
}

bool PlayerDirectory::waitUntil(const std::function<bool(const PlayerSnapshot &)> &condition,
                                std::chrono::milliseconds timeout)
{
    std::unique_lock guard(m_lock);
    return m_changed.wait_for(guard, timeout, [&] { return condition(*m_snapshot); });
}

void PlayerDirectory::publish(SnapshotPtr snapshot)
{
    {
        std::lock_guard guard(m_lock);
        m_snapshot = std::move(snapshot);
    }
    m_changed.notify_all();
}

void PlayerDirectory::setConnection(const QDBusConnection &connection)
{
    std::lock_guard guard(m_lock);
    m_connection = connection;
}

} // namespace players

#include "PlayerDirectory.moc"
