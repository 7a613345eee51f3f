#include "RemoteDesktopPortal.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QSettings>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace pixkey {

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kRemoteDesktop = QStringLiteral("org.freedesktop.portal.RemoteDesktop");
const QString kRequest = QStringLiteral("org.freedesktop.portal.Request");
const QString kSession = QStringLiteral("org.freedesktop.portal.Session");
const QString kRegistry = QStringLiteral("org.freedesktop.host.portal.Registry");
const QString kTokenKey = QStringLiteral("RemoteDesktop/RestoreToken");

constexpr unsigned kKeyboardDevice = 1;
constexpr unsigned kPersistUntilRevoked = 2;

std::atomic<int> connectionCounter{0};

QString seconds(std::chrono::milliseconds time)
{
    const double s = double(time.count()) / 1000.0;
    return QString::number(s, 'g', 3) + QStringLiteral(" s");
}

// The text of a string or object path carried in a variant.
QString pathOrString(const QVariant &value)
{
    if (value.canConvert<QDBusObjectPath>() && value.userType() == qMetaTypeId<QDBusObjectPath>())
        return value.value<QDBusObjectPath>().path();
    return value.toString();
}

} // namespace

class RemoteDesktopPortal::Worker : public QObject {
    Q_OBJECT
public:
    explicit Worker(Options options) : m_options(std::move(options))
    {
        m_thread.setObjectName(QStringLiteral("pixkey-keys-portal"));
        moveToThread(&m_thread);
        m_thread.start();
        QMetaObject::invokeMethod(this, "probe", Qt::QueuedConnection);
    }

    void stop()
    {
        if (!m_thread.isRunning())
            return;
        QMetaObject::invokeMethod(this, "shutdown", Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }

    // --- shared with callers on other threads (under m_mutex) ---
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_changed;
    State m_state = State::Probing;
    QString m_error;
    int m_sent = 0;
    bool m_haveToken = false;
    struct Press {
        std::vector<std::uint32_t> keysyms;
        std::chrono::steady_clock::time_point at;
    };
    std::deque<Press> m_pending;

    void setState(State state, const QString &error = {})
    {
        {
            std::lock_guard lock(m_mutex);
            m_state = state;
            if (!error.isEmpty())
                m_error = error;
        }
        m_changed.notify_all();
    }

public Q_SLOTS:
    void probe();
    void process();
    void onResponse(uint response, const QVariantMap &results);
    void onTimeout();
    void onSessionClosed();
    void shutdown();

private:
    enum class Step { None, CreateSession, SelectDevices, Start };

    QDBusMessage portalCall(const QString &method, const QVariantList &arguments);
    bool request(Step step, const QString &method, QVariantList arguments, QVariantMap options,
                 std::chrono::milliseconds timeout);
    void fail(State state, const QString &error);
    void closeSession();
    void sendPending();
    QString nextToken() { return QStringLiteral("pixkey%1").arg(++m_tokenCounter); }
    QString senderPart() const
    {
        QString name = m_bus->baseService();
        return name.mid(name.startsWith(QLatin1Char(':')) ? 1 : 0).replace(QLatin1Char('.'), QLatin1Char('_'));
    }
    QString storedToken() const
    {
        if (m_options.settingsPath.isEmpty())
            return {};
        return QSettings(m_options.settingsPath, QSettings::IniFormat).value(kTokenKey).toString();
    }
    void storeToken(const QString &token)
    {
        if (m_options.settingsPath.isEmpty())
            return;
        QSettings settings(m_options.settingsPath, QSettings::IniFormat);
        settings.setValue(kTokenKey, token);
        settings.sync();
    }

    Options m_options;
    QThread m_thread;
    std::unique_ptr<QDBusConnection> m_bus;
    QString m_connectionName;
    QTimer *m_timer = nullptr;
    Step m_step = Step::None;
    QString m_requestPath;
    QString m_sessionHandle;
    int m_tokenCounter = 0;
};

void RemoteDesktopPortal::Worker::probe()
{
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    connect(m_timer, &QTimer::timeout, this, &Worker::onTimeout);

    m_connectionName = QStringLiteral("pixkey-remote-desktop-%1").arg(++connectionCounter);
    m_bus = std::make_unique<QDBusConnection>(
        m_options.busAddress.isEmpty() ? QDBusConnection::connectToBus(QDBusConnection::SessionBus, m_connectionName)
                                       : QDBusConnection::connectToBus(m_options.busAddress, m_connectionName));
    if (!m_bus->isConnected()) {
        fail(State::Absent, QStringLiteral("no session bus: ") + m_bus->lastError().message());
        return;
    }
    // The portal's version property says whether the interface is there; the service itself is
    // started on demand by the bus.
    QDBusMessage get = QDBusMessage::createMethodCall(kPortalService, kPortalPath,
                                                      QStringLiteral("org.freedesktop.DBus.Properties"),
                                                      QStringLiteral("Get"));
    get << kRemoteDesktop << QStringLiteral("version");
    const QDBusMessage reply = m_bus->call(get, QDBus::Block, int(m_options.callTimeout.count()));
    if (reply.type() != QDBusMessage::ReplyMessage) {
        fail(State::Absent, QStringLiteral("no remote desktop portal (%1)").arg(reply.errorMessage()));
        return;
    }
    {
        std::lock_guard lock(m_mutex);
        m_haveToken = !storedToken().isEmpty();
    }
    setState(State::Idle);
    process();
}

QDBusMessage RemoteDesktopPortal::Worker::portalCall(const QString &method, const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kRemoteDesktop, method);
    call.setArguments(arguments);
    return m_bus->call(call, QDBus::Block, int(m_options.callTimeout.count()));
}

// Calls a portal method that answers through a Request object and arms the wait for its Response.
bool RemoteDesktopPortal::Worker::request(Step step, const QString &method, QVariantList arguments,
                                          QVariantMap options, std::chrono::milliseconds timeout)
{
    const QString token = nextToken();
    options.insert(QStringLiteral("handle_token"), token);
    // Subscribed before the call: the Response may arrive right after the reply.
    m_requestPath = QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(senderPart(), token);
    m_bus->connect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                   SLOT(onResponse(uint,QVariantMap)));
    arguments << options;
    const QDBusMessage reply = portalCall(method, arguments);
    if (reply.type() != QDBusMessage::ReplyMessage) {
        m_bus->disconnect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                          SLOT(onResponse(uint,QVariantMap)));
        fail(State::Failed, QStringLiteral("the remote desktop portal refused %1: %2").arg(method, reply.errorMessage()));
        return false;
    }
    const QString handle = reply.arguments().isEmpty() ? QString() : pathOrString(reply.arguments().first());
    if (!handle.isEmpty() && handle != m_requestPath) {
        // An older portal that ignores handle_token: follow the path it gave.
        m_bus->disconnect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                          SLOT(onResponse(uint,QVariantMap)));
        m_requestPath = handle;
        m_bus->connect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                       SLOT(onResponse(uint,QVariantMap)));
    }
    m_step = step;
    m_timer->start(timeout);
    return true;
}

void RemoteDesktopPortal::Worker::process()
{
    State state;
    {
        std::lock_guard lock(m_mutex);
        state = m_state;
    }
    if (state == State::Ready) {
        sendPending();
        return;
    }
    if (state != State::Idle && state != State::Refused && state != State::Failed)
        return; // probing, absent, or a session on its way
    {
        std::lock_guard lock(m_mutex);
        if (m_pending.empty())
            return;
    }
    setState(State::Starting);
    // Registers the program's id for a program not started from a sandbox; a portal without the
    // registry (older ones) takes the id from the desktop file, so its error is not a failure.
    QDBusMessage registration =
        QDBusMessage::createMethodCall(kPortalService, kPortalPath, kRegistry, QStringLiteral("Register"));
    registration << m_options.appId << QVariantMap();
    m_bus->call(registration, QDBus::Block, int(m_options.callTimeout.count()));

    QVariantMap options;
    options.insert(QStringLiteral("session_handle_token"), nextToken());
    request(Step::CreateSession, QStringLiteral("CreateSession"), {}, options, m_options.responseTimeout);
}

void RemoteDesktopPortal::Worker::onResponse(uint response, const QVariantMap &results)
{
    m_timer->stop();
    m_bus->disconnect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint,QVariantMap)));
    const Step step = m_step;
    m_step = Step::None;
    if (response == 1) {
        fail(State::Refused, QStringLiteral("the user did not allow sending keys"));
        return;
    }
    if (response != 0) {
        fail(State::Failed, QStringLiteral("the remote desktop portal ended the request (response %1)").arg(response));
        return;
    }
    switch (step) {
    case Step::CreateSession: {
        m_sessionHandle = pathOrString(results.value(QStringLiteral("session_handle")));
        if (m_sessionHandle.isEmpty()) {
            fail(State::Failed, QStringLiteral("the remote desktop portal gave no session"));
            return;
        }
        m_bus->connect(QString(), m_sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
        QVariantMap options;
        options.insert(QStringLiteral("types"), QVariant::fromValue(uint(kKeyboardDevice)));
        options.insert(QStringLiteral("persist_mode"), QVariant::fromValue(uint(kPersistUntilRevoked)));
        const QString token = storedToken();
        if (!token.isEmpty())
            options.insert(QStringLiteral("restore_token"), token);
        request(Step::SelectDevices, QStringLiteral("SelectDevices"),
                {QVariant::fromValue(QDBusObjectPath(m_sessionHandle))}, options, m_options.responseTimeout);
        return;
    }
    case Step::SelectDevices:
        request(Step::Start, QStringLiteral("Start"),
                {QVariant::fromValue(QDBusObjectPath(m_sessionHandle)), QString()}, {}, m_options.dialogTimeout);
        return;
    case Step::Start: {
        const uint devices = results.value(QStringLiteral("devices")).toUInt();
        if (!(devices & kKeyboardDevice)) {
            fail(State::Refused, QStringLiteral("the desktop did not grant a keyboard"));
            return;
        }
        const QString token = results.value(QStringLiteral("restore_token")).toString();
        if (!token.isEmpty()) {
            storeToken(token); // tokens are single-use: the new one replaces the old
            std::lock_guard lock(m_mutex);
            m_haveToken = true;
        }
        setState(State::Ready);
        sendPending();
        return;
    }
    case Step::None:
        return;
    }
}

void RemoteDesktopPortal::Worker::onTimeout()
{
    const Step step = m_step;
    m_step = Step::None;
    m_bus->disconnect(QString(), m_requestPath, kRequest, QStringLiteral("Response"), this,
                      SLOT(onResponse(uint,QVariantMap)));
    const auto waited = step == Step::Start ? m_options.dialogTimeout : m_options.responseTimeout;
    fail(State::Failed, QStringLiteral("the remote desktop portal did not answer within %1").arg(seconds(waited)));
}

void RemoteDesktopPortal::Worker::onSessionClosed()
{
    m_bus->disconnect(QString(), m_sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    m_sessionHandle.clear();
    // The desktop ended the session (the user revoked it): the next press starts a new one.
    setState(State::Idle);
}

void RemoteDesktopPortal::Worker::fail(State state, const QString &error)
{
    closeSession();
    {
        std::lock_guard lock(m_mutex);
        m_pending.clear();
    }
    std::fprintf(stderr, "pixkey: sending keys: %s\n", qPrintable(error));
    setState(state, error);
}

void RemoteDesktopPortal::Worker::closeSession()
{
    if (m_sessionHandle.isEmpty() || !m_bus)
        return;
    m_bus->disconnect(QString(), m_sessionHandle, kSession, QStringLiteral("Closed"), this, SLOT(onSessionClosed()));
    QDBusMessage close = QDBusMessage::createMethodCall(kPortalService, m_sessionHandle, kSession, QStringLiteral("Close"));
    m_bus->call(close, QDBus::NoBlock);
    m_sessionHandle.clear();
}

void RemoteDesktopPortal::Worker::sendPending()
{
    const auto now = std::chrono::steady_clock::now();
    for (;;) {
        Press press;
        {
            std::lock_guard lock(m_mutex);
            if (m_pending.empty())
                return;
            press = std::move(m_pending.front());
            m_pending.pop_front();
        }
        if (now - press.at > m_options.pressLifetime)
            continue; // typed long after the key was pressed would surprise more than help
        const QDBusObjectPath session(m_sessionHandle);
        bool ok = true;
        const auto key = [&](std::uint32_t keysym, uint pressed) {
            const QDBusMessage reply = portalCall(QStringLiteral("NotifyKeyboardKeysym"),
                                                  {QVariant::fromValue(session), QVariantMap(), int(keysym), pressed});
            if (reply.type() != QDBusMessage::ReplyMessage && ok) {
                ok = false;
                std::lock_guard lock(m_mutex);
                m_error = QStringLiteral("the remote desktop portal refused a key: ") + reply.errorMessage();
            }
        };
        for (std::uint32_t keysym : press.keysyms)
            key(keysym, 1);
        // Released even after a failed press, so no key stays down.
        for (auto it = press.keysyms.rbegin(); it != press.keysyms.rend(); ++it)
            key(*it, 0);
        if (!ok) {
            // A session the desktop dropped: the next press starts a new one.
            closeSession();
            setState(State::Idle);
            return;
        }
        {
            std::lock_guard lock(m_mutex);
            ++m_sent;
        }
        m_changed.notify_all();
    }
}

void RemoteDesktopPortal::Worker::shutdown()
{
    if (m_timer)
        m_timer->stop();
    closeSession();
    if (m_bus) {
        m_bus.reset();
        QDBusConnection::disconnectFromBus(m_connectionName);
    }
    delete m_timer;
    m_timer = nullptr;
}

RemoteDesktopPortal::RemoteDesktopPortal(Options options) : m_worker(std::make_unique<Worker>(std::move(options))) {}

RemoteDesktopPortal::~RemoteDesktopPortal()
{
    m_worker->stop();
}

bool RemoteDesktopPortal::send(std::vector<std::uint32_t> keysyms)
{
    if (keysyms.empty())
        return false;
    {
        std::lock_guard lock(m_worker->m_mutex);
        if (m_worker->m_state == State::Absent)
            return false;
        m_worker->m_pending.push_back({std::move(keysyms), std::chrono::steady_clock::now()});
    }
    QMetaObject::invokeMethod(m_worker.get(), "process", Qt::QueuedConnection);
    return true;
}

RemoteDesktopPortal::State RemoteDesktopPortal::state() const
{
    std::lock_guard lock(m_worker->m_mutex);
    return m_worker->m_state;
}

QString RemoteDesktopPortal::lastError() const
{
    std::lock_guard lock(m_worker->m_mutex);
    return m_worker->m_error;
}

int RemoteDesktopPortal::sentCount() const
{
    std::lock_guard lock(m_worker->m_mutex);
    return m_worker->m_sent;
}

bool RemoteDesktopPortal::waitForState(State wanted, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_worker->m_mutex);
    return m_worker->m_changed.wait_for(lock, deadline, [&] { return m_worker->m_state == wanted; });
}

bool RemoteDesktopPortal::waitWhileProbing(std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_worker->m_mutex);
    return m_worker->m_changed.wait_for(lock, deadline, [&] { return m_worker->m_state != State::Probing; });
}

CapabilityReport RemoteDesktopPortal::report() const
{
    CapabilityReport report;
    report.capability = DesktopCapability::SendKeys;
    std::lock_guard lock(m_worker->m_mutex);
    const std::string error = m_worker->m_error.toStdString();
    switch (m_worker->m_state) {
    case State::Ready:
        report.state = CapabilityState::Working;
        report.how = "the remote desktop portal (keyboard allowed)";
        break;
    case State::Probing:
    case State::Idle:
        report.how = "the remote desktop portal";
        if (m_worker->m_haveToken) {
            report.state = CapabilityState::Working;
            report.how += " (allowed earlier)";
        } else {
            report.state = CapabilityState::NeedsStep;
            report.step = "press a key that sends a shortcut and allow the remote control the desktop asks for";
        }
        break;
    case State::Starting:
        report.state = CapabilityState::NeedsStep;
        report.how = "the remote desktop portal";
        report.step = "allow the remote control in the desktop's dialog";
        break;
    case State::Refused:
        report.state = CapabilityState::NeedsStep;
        report.how = "the remote desktop portal: " + error;
        report.step = "press the key again and allow the remote control the desktop asks for";
        break;
    case State::Failed:
        report.state = CapabilityState::Unavailable;
        report.how = "the remote desktop portal failed: " + error;
        break;
    case State::Absent:
        report.state = CapabilityState::Unavailable;
        report.how = "this desktop offers no remote desktop portal";
        break;
    }
    return report;
}

} // namespace pixkey

#include "RemoteDesktopPortal.moc"
