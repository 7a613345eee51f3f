#include <pixkey/pxkhk/DesktopHook.h>

#include "BackendPlan.h"
#include "DesktopBackend.h"
#include "PeerFolder.h"
#include "PeerFrame.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

namespace pixkey {

namespace {

using Clock = std::chrono::steady_clock;

// Most connections a receiver keeps open at once; more are closed at once.
constexpr std::size_t kMaxConnections = 16;

int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : int(std::min<long long>(left + 1, INT_MAX));
}

// Writes all of `data` to non-blocking socket `fd` before `deadline`.
bool sendAll(int fd, const std::string &data, Clock::time_point deadline)
{
    std::size_t sent = 0;
    while (sent < data.size()) {
        const ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            pollfd p{fd, POLLOUT, 0};
            const int wait = millisecondsUntil(deadline);
            if (wait == 0 || ::poll(&p, 1, wait) <= 0)
                return false;
            continue;
        }
        return false;
    }
    return true;
}

} // namespace

class DesktopHook::Impl {
public:
    explicit Impl(Options options);
    ~Impl();

    bool hook(HookSink *sink);
    void unhook();
    int broadcast(PeerFrame::Kind kind, const PeerMessage &message);
    int count();
    // Runs `work` on the hook thread (at once when called there). Waits for it at most
    // `timeout`, or without limit when `timeout` is zero; false when it did not run in time.
    bool call(std::function<void()> work, std::chrono::milliseconds timeout);
    // Runs `work` with the back end answering `capability`, on the hook thread, within the
    // request time-out; `fallback` when none answers or it did not run in time.
    template <typename T, typename F>
    T ask(DesktopCapability capability, T fallback, F work);

    const Options m_options;
    const PeerFolder m_folder;
    bool m_peersOk = false; // set by the constructor only
    // Whether any back end runs; set before the constructor returns, cleared by the hook thread
    // when the last one goes away.
    std::atomic<bool> m_desktopOk{false};

    // Hook thread only.
    // The back end answering a capability now; null when none does.
    DesktopBackend *route(DesktopCapability capability) const;
    CapabilityReports reports() const;

private:
    struct Request {
        std::function<void()> work;
        bool done = false; // guarded by m_lock
    };
    struct Connection {
        int fd = -1;
        std::string bytes;
        Clock::time_point deadline;
    };
    // A back end's events, passed on only for the capabilities it answers.
    class Forwarder : public DesktopEvents {
    public:
        Forwarder(Impl &impl, DesktopBackend &from) : m_impl(impl), m_from(from) {}
        void foregroundChanged(unsigned long window, int active) override;
        void modifierRowChanged(int row) override;
        void hotkeyPressed(int id, std::uint32_t lParam) override;

    private:
        Impl &m_impl;
        DesktopBackend &m_from;
    };
    struct Backend {
        BackendKind kind{};
        std::unique_ptr<DesktopBackend> backend;
        std::unique_ptr<Forwarder> events;
    };

    void run();
    // Plans the back ends for the session and opens them (hook thread, before anything else).
    void setUpBackends();
    // Chooses the back end of each capability: the first candidate whose report provides it.
    // A change of the active-window source is reported as a foreground change.
    void routeCapabilities();
    void printUnavailable() const;
    void dispatchBackends();
    // Drops back ends whose server went away, with a line saying what is off now.
    void dropLostBackends();
    void runRequests();
    void acceptConnections();
    // Reads what connection `c` has; true when it is finished (delivered or dropped).
    bool readConnection(Connection &c);
    void closeListener();

    // Calls `call` with the sink, if there is one, on the hook thread.
    template <typename F>
    void deliver(F call);

    int m_wakeFd = -1;
    std::thread m_thread;

    std::mutex m_lock;
    std::condition_variable m_doneCondition;
    std::deque<std::shared_ptr<Request>> m_requests; // guarded by m_lock
    bool m_stop = false;                             // guarded by m_lock
    bool m_hooked = false;                           // guarded by m_lock
    std::string m_ownSocket;                         // guarded by m_lock; empty when not listening

    // Hook thread only.
    HookSink *m_sink = nullptr;
    int m_listenFd = -1;
    std::vector<Connection> m_connections;
    BackendPlan m_plan;
    std::vector<Backend> m_backends;
    std::map<DesktopCapability, DesktopBackend *> m_route;
};

DesktopHook::Impl::Impl(Options options) : m_options(std::move(options)), m_folder(m_options.runtimeFolder)
{
    std::string error;
    m_peersOk = m_folder.prepare(error);
    if (!m_peersOk)
        std::fprintf(stderr, "pxkhk: other configurators cannot be reached: %s\n", error.c_str());

    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
    // The back ends are made and opened on the hook thread; callers find them ready.
    call([this] { setUpBackends(); }, std::chrono::milliseconds(0));
}

void DesktopHook::Impl::setUpBackends()
{
    if (!m_options.useDisplay) {
        for (const DesktopCapability capability : kHookCapabilities)
            m_plan.missing[capability] = {capability, CapabilityState::Unavailable, "the desktop side is switched off", {}};
        return;
    }
    SessionInfo session;
    if (!m_options.displayName.empty()) {
        // A display named by the caller: an X session on it, whatever else the environment says.
        session.sessionType = "x11";
        session.display = m_options.displayName;
    } else {
        session = readSessionInfo();
    }
    m_plan = planBackends(session);
    BackendOptions backendOptions = pixkey::backendOptions(session, m_plan);
    backendOptions.displayName = m_options.displayName;
    backendOptions.peerFolder = m_folder.path();
    for (const BackendKind kind : m_plan.kinds()) {
        std::unique_ptr<DesktopBackend> backend = makeBackend(kind, backendOptions);
        if (!backend)
            continue; // not part of this build
        std::string error;
        if (!backend->open(error)) {
            std::fprintf(stderr, "pxkhk: %s: %s\n", backend->name(), error.c_str());
            continue;
        }
        Backend entry;
        entry.kind = kind;
        entry.events = std::make_unique<Forwarder>(*this, *backend);
        entry.backend = std::move(backend);
        m_backends.push_back(std::move(entry));
    }
    m_desktopOk = !m_backends.empty();
    routeCapabilities();
    printUnavailable();
}

void DesktopHook::Impl::printUnavailable() const
{
    for (const CapabilityReport &report : reports()) {
        if (report.state != CapabilityState::Unavailable)
            continue;
        std::fprintf(stderr, "pxkhk: %s unavailable: %s%s%s\n", capabilityName(report.capability), report.how.c_str(),
                     report.step.empty() ? "" : "; ", report.step.c_str());
    }
}

namespace {

bool provides(const CapabilityReports &reports, DesktopCapability capability)
{
    for (const CapabilityReport &report : reports)
        if (report.capability == capability && report.state != CapabilityState::Unavailable)
            return true;
    return false;
}

} // namespace

void DesktopHook::Impl::routeCapabilities()
{
    std::map<DesktopCapability, DesktopBackend *> routes;
    for (const auto &[capability, kinds] : m_plan.candidates) {
        for (const BackendKind kind : kinds) {
            if (routes.count(capability))
                break;
            for (const Backend &entry : m_backends) {
                if (entry.kind == kind && entry.backend->usable() && provides(entry.backend->capabilities(), capability)) {
                    routes[capability] = entry.backend.get();
                    break;
                }
            }
        }
    }
    m_route = std::move(routes);
}

DesktopBackend *DesktopHook::Impl::route(DesktopCapability capability) const
{
    const auto it = m_route.find(capability);
    return it == m_route.end() ? nullptr : it->second;
}

CapabilityReports DesktopHook::Impl::reports() const
{
    CapabilityReports result;
    for (const DesktopCapability capability : kHookCapabilities) {
        CapabilityReport report{capability, CapabilityState::Unavailable, "this desktop offers no way", {}};
        const DesktopBackend *backend = route(capability);
        const auto missing = m_plan.missing.find(capability);
        if (backend && m_plan.xwaylandOnly && missing != m_plan.missing.end()
            && std::any_of(m_backends.begin(), m_backends.end(), [&](const Backend &entry) {
                   return entry.backend.get() == backend && entry.kind == BackendKind::X11;
               })) {
            // XWayland serves it for X programs only: the desktop itself offers no way, and the
            // report says so, with the way for every program and what X still does.
            report = missing->second;
            report.how += "; X programs get it through XWayland while they have the keyboard";
        } else if (backend) {
            for (const CapabilityReport &candidate : backend->capabilities())
                if (candidate.capability == capability)
                    report = candidate;
        } else {
            if (const auto it = m_plan.missing.find(capability); it != m_plan.missing.end())
                report = it->second;
            // A back end that runs but lacks it knows best why (an X server without XInput2).
            if (const auto candidates = m_plan.candidates.find(capability); candidates != m_plan.candidates.end()) {
                for (const Backend &entry : m_backends) {
                    if (std::find(candidates->second.begin(), candidates->second.end(), entry.kind) == candidates->second.end())
                        continue;
                    for (const CapabilityReport &candidate : entry.backend->capabilities())
                        if (candidate.capability == capability && !candidate.how.empty())
                            report.how = candidate.how;
                }
            }
        }
        result.push_back(report);
    }
    return result;
}

void DesktopHook::Impl::dispatchBackends()
{
    for (Backend &entry : m_backends)
        if (entry.backend->usable())
            entry.backend->dispatch(*entry.events);
}

void DesktopHook::Impl::dropLostBackends()
{
    bool dropped = false;
    unsigned long lostActive = 0;
    for (auto it = m_backends.begin(); it != m_backends.end();) {
        DesktopBackend *backend = it->backend.get();
        if (backend->usable()) {
            ++it;
            continue;
        }
        std::string answered;
        for (const auto &[capability, routed] : m_route)
            if (routed == backend)
                answered += std::string(answered.empty() ? "" : ", ") + capabilityName(capability);
        std::fprintf(stderr, "pxkhk: %s went away%s%s\n", backend->name(), answered.empty() ? "" : "; it answered for: ",
                     answered.c_str());
        if (route(DesktopCapability::ActiveWindow) == backend)
            lostActive = backend->activeWindow();
        for (auto route = m_route.begin(); route != m_route.end();)
            route = route->second == backend ? m_route.erase(route) : std::next(route);
        it = m_backends.erase(it);
        dropped = true;
    }
    if (!dropped)
        return;
    const bool hadActiveSource = m_route.count(DesktopCapability::ActiveWindow) != 0;
    routeCapabilities();
    m_desktopOk = !m_backends.empty();
    // The window of a source that went away is no longer in front; another source's window is.
    if (!hadActiveSource) {
        if (lostActive != 0)
            deliver([&](HookSink &sink) { sink.onForegroundChanged(lostActive, 0); });
        const DesktopBackend *active = route(DesktopCapability::ActiveWindow);
        if (active && active->activeWindow() != 0) {
            const unsigned long window = active->activeWindow();
            deliver([&](HookSink &sink) { sink.onForegroundChanged(window, 1); });
        }
    }
    printUnavailable();
}

template <typename T, typename F>
T DesktopHook::Impl::ask(DesktopCapability capability, T fallback, F work)
{
    if (!m_desktopOk)
        return fallback;
    auto result = std::make_shared<T>(fallback);
    const bool ran = call(
        [this, capability, result, work] {
            if (DesktopBackend *backend = route(capability))
                *result = work(*backend);
        },
        m_options.requestTimeout);
    return ran ? *result : fallback;
}

DesktopHook::Impl::~Impl()
{
    unhook();
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stop = true;
    }
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    m_thread.join();
    ::close(m_wakeFd);
}

bool DesktopHook::Impl::call(std::function<void()> work, std::chrono::milliseconds timeout)
{
    if (std::this_thread::get_id() == m_thread.get_id()) {
        work();
        return true;
    }
    auto request = std::make_shared<Request>();
    request->work = std::move(work);
    std::unique_lock<std::mutex> lock(m_lock);
    if (m_stop)
        return false;
    m_requests.push_back(request);
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(m_wakeFd, &one, sizeof one);
    const auto finished = [&] { return request->done; };
    if (timeout.count() == 0) {
        m_doneCondition.wait(lock, finished);
        return true;
    }
    return m_doneCondition.wait_for(lock, timeout, finished);
}

void DesktopHook::Impl::runRequests()
{
    for (;;) {
        std::shared_ptr<Request> request;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_requests.empty())
                return;
            request = m_requests.front();
            m_requests.pop_front();
        }
        request->work();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            request->done = true;
        }
        m_doneCondition.notify_all();
    }
}

void DesktopHook::Impl::run()
{
    for (;;) {
        runRequests();
        {
            std::lock_guard<std::mutex> guard(m_lock);
            if (m_stop && m_requests.empty())
                break;
        }
        dispatchBackends(); // also what a connection queued while requests ran (Xlib does)
        dropLostBackends();

        std::vector<pollfd> fds;
        fds.push_back({m_wakeFd, POLLIN, 0});
        int timeout = -1;
        const auto sooner = [&timeout](int ms) {
            if (ms >= 0)
                timeout = timeout < 0 ? ms : std::min(timeout, ms);
        };
        for (const Backend &entry : m_backends) {
            entry.backend->pollFds(fds);
            sooner(entry.backend->timeoutMs());
        }
        const std::size_t listenIndex = fds.size();
        if (m_listenFd >= 0)
            fds.push_back({m_listenFd, POLLIN, 0});
        const std::size_t firstConnection = fds.size();
        for (const Connection &c : m_connections) {
            fds.push_back({c.fd, POLLIN, 0});
            sooner(millisecondsUntil(c.deadline));
        }

        if (m_wakeFd < 0 && (timeout < 0 || timeout > 50))
            timeout = 50; // without a wake-up fd, requests are picked up by looking often
        if (::poll(fds.data(), fds.size(), timeout) < 0) {
            // EINTR, or a momentary shortage: look again rather than leave callers waiting.
            if (errno != EINTR)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        if (fds[0].revents) {
            std::uint64_t value = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &value, sizeof value);
        }
        dispatchBackends();
        dropLostBackends();

        // Connections first (their indices are only valid before the list changes).
        std::vector<Connection> kept;
        const auto now = Clock::now();
        for (std::size_t i = 0; i < m_connections.size(); ++i) {
            Connection &c = m_connections[i];
            bool finished = false;
            if (fds[firstConnection + i].revents)
                finished = readConnection(c);
            if (!finished && now >= c.deadline)
                finished = true; // too slow: drop what it sent
            if (finished)
                ::close(c.fd);
            else
                kept.push_back(std::move(c));
        }
        m_connections = std::move(kept);
        if (m_listenFd >= 0 && listenIndex < firstConnection && fds[listenIndex].revents)
            acceptConnections();
    }
    // Leaving: nothing may stay open.
    for (Connection &c : m_connections)
        ::close(c.fd);
    m_connections.clear();
    closeListener();
    m_route.clear();
    m_backends.clear();
}

void DesktopHook::Impl::acceptConnections()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0)
            return;
        if (m_connections.size() >= kMaxConnections || !PeerFolder::sameUser(fd)) {
            ::close(fd);
            continue;
        }
        Connection c;
        c.fd = fd;
        c.deadline = Clock::now() + m_options.peerTimeout;
        m_connections.push_back(std::move(c));
    }
}

bool DesktopHook::Impl::readConnection(Connection &c)
{
    char buffer[4096];
    for (;;) {
        const std::size_t room = PeerFrame::kMaxFrameSize - c.bytes.size();
        const ssize_t n = ::recv(c.fd, buffer, std::min(room, sizeof buffer), 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno != EAGAIN && errno != EWOULDBLOCK;
        if (n == 0)
            return true; // closed before a whole frame (or a count probe): nothing to deliver
        c.bytes.append(buffer, std::size_t(n));
        PeerFrame::Kind kind{};
        PeerMessage message;
        switch (PeerFrame::parse(c.bytes, kind, message)) {
        case PeerFrame::Status::Invalid:
            return true;
        case PeerFrame::Status::Complete:
            deliver([&](HookSink &sink) {
                if (kind == PeerFrame::Kind::ShowWindow)
                    sink.onShowWindow();
                else
                    sink.onPeerMessage(message);
            });
            return true;
        case PeerFrame::Status::NeedMore:
            if (c.bytes.size() >= PeerFrame::kMaxFrameSize)
                return true;
            break;
        }
    }
}

void DesktopHook::Impl::closeListener()
{
    if (m_listenFd < 0)
        return;
    std::string own;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        own.swap(m_ownSocket);
    }
    ::unlink(own.c_str());
    ::close(m_listenFd);
    m_listenFd = -1;
}

bool DesktopHook::Impl::hook(HookSink *sink)
{
    if (std::this_thread::get_id() == m_thread.get_id()) {
        std::fprintf(stderr, "pxkhk: Hook called from a hook callback; ignored\n");
        return false;
    }
    bool listening = false;
    call(
        [&] {
            const bool firstSink = !m_sink && sink;
            if (firstSink) {
                // What changed before the hook is settled first (nobody receives it); the window
                // in front now is then reported as having become the foreground window, or a
                // program activated while the configurator was starting would never switch.
                dispatchBackends();
                dropLostBackends();
            }
            m_sink = sink;
            const DesktopBackend *active = route(DesktopCapability::ActiveWindow);
            if (firstSink && active && active->activeWindow() != 0) {
                const unsigned long window = active->activeWindow();
                deliver([&](HookSink &receiver) { receiver.onForegroundChanged(window, 1); });
            }
            if (m_peersOk && m_listenFd < 0) {
                std::string path, error;
                m_listenFd = m_folder.listen(path, error);
                if (m_listenFd < 0) {
                    std::fprintf(stderr, "pxkhk: %s\n", error.c_str());
                } else {
                    std::lock_guard<std::mutex> guard(m_lock);
                    m_ownSocket = path;
                }
            }
            listening = m_listenFd >= 0;
            std::lock_guard<std::mutex> guard(m_lock);
            m_hooked = true;
        },
        std::chrono::milliseconds(0));
    return listening;
}

void DesktopHook::Impl::unhook()
{
    if (std::this_thread::get_id() == m_thread.get_id()) {
        std::fprintf(stderr, "pxkhk: UnHook called from a hook callback; ignored\n");
        return;
    }
    call(
        [&] {
            m_sink = nullptr;
            for (Connection &c : m_connections)
                ::close(c.fd);
            m_connections.clear();
            closeListener();
            std::lock_guard<std::mutex> guard(m_lock);
            m_hooked = false;
        },
        std::chrono::milliseconds(0));
}

int DesktopHook::Impl::count()
{
    std::string own;
    int result = 0;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        own = m_ownSocket;
        result = m_hooked ? 1 : 0;
    }
    if (!m_peersOk)
        return result;
    for (const std::string &socket : m_folder.sockets()) {
        if (socket == own)
            continue;
        int fd = -1;
        if (PeerFolder::connect(socket, m_options.peerTimeout, fd) == PeerFolder::Probe::Live) {
            ++result;
            ::close(fd);
        }
    }
    return result;
}

int DesktopHook::Impl::broadcast(PeerFrame::Kind kind, const PeerMessage &message)
{
    const std::string frame = PeerFrame::encode(kind, message);
    if (frame.empty() || !m_peersOk)
        return 0;
    std::string own;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        own = m_ownSocket;
    }
    int reached = 0;
    for (const std::string &socket : m_folder.sockets()) {
        if (socket == own)
            continue;
        int fd = -1;
        if (PeerFolder::connect(socket, m_options.peerTimeout, fd) != PeerFolder::Probe::Live)
            continue;
        if (sendAll(fd, frame, Clock::now() + m_options.peerTimeout))
            ++reached;
        ::close(fd);
    }
    return reached;
}

template <typename F>
void DesktopHook::Impl::deliver(F call)
{
    if (!m_sink)
        return;
    // An exception out of the receiver would end the hook thread and with it the process; the
    // event is lost instead.
    try {
        call(*m_sink);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "pxkhk: a hook callback failed: %s\n", e.what());
    } catch (...) {
        std::fprintf(stderr, "pxkhk: a hook callback failed\n");
    }
}

void DesktopHook::Impl::Forwarder::foregroundChanged(unsigned long window, int active)
{
    if (m_impl.route(DesktopCapability::ActiveWindow) == &m_from)
        m_impl.deliver([&](HookSink &sink) { sink.onForegroundChanged(window, active); });
}

void DesktopHook::Impl::Forwarder::modifierRowChanged(int row)
{
    if (m_impl.route(DesktopCapability::ModifierRows) == &m_from)
        m_impl.deliver([&](HookSink &sink) { sink.onModifierRow(row); });
}

void DesktopHook::Impl::Forwarder::hotkeyPressed(int id, std::uint32_t lParam)
{
    if (m_impl.route(DesktopCapability::SwitchHotkey) == &m_from)
        m_impl.deliver([&](HookSink &sink) { sink.onHotkey(id, lParam); });
}

// ---- DesktopHook ----

DesktopHook::DesktopHook() : DesktopHook(Options()) {}

DesktopHook::DesktopHook(Options options) : m_impl(std::make_unique<Impl>(std::move(options))) {}

DesktopHook::~DesktopHook() = default;

bool DesktopHook::Hook(HookSink *sink)
{
    return m_impl->hook(sink);
}

void DesktopHook::UnHook()
{
    m_impl->unhook();
}

int DesktopHook::BroadcastMessage(const PeerMessage &message)
{
    return m_impl->broadcast(PeerFrame::Kind::Message, message);
}

int DesktopHook::BroadcastMessage(std::uint32_t message, std::int64_t wParam, std::int64_t lParam,
                                  std::string_view path)
{
    PeerMessage m;
    m.message = message;
    m.wParam = wParam;
    m.lParam = lParam;
    m.path.assign(path);
    return BroadcastMessage(m);
}

int DesktopHook::GetConfiguratorsCount()
{
    return m_impl->count();
}

int DesktopHook::ShowConfiguratorWindows()
{
    return m_impl->broadcast(PeerFrame::Kind::ShowWindow, PeerMessage());
}

bool DesktopHook::RegisterHotkey(int id, std::uint16_t modifiers, std::uint16_t key)
{
    return m_impl->ask(DesktopCapability::SwitchHotkey, false, [=](DesktopBackend &backend) {
        return backend.registerHotkey(id, modifiers, key);
    });
}

bool DesktopHook::UnregisterHotkey(int id)
{
    return m_impl->ask(DesktopCapability::SwitchHotkey, false,
                       [=](DesktopBackend &backend) { return backend.unregisterHotkey(id); });
}

std::optional<std::uint32_t> DesktopHook::idleTime()
{
    return m_impl->ask(DesktopCapability::IdleTime, std::optional<std::uint32_t>(),
                       [](DesktopBackend &backend) { return backend.idleTime(); });
}

// Window ids are those of the back end that reports the active window; it alone answers for them.
int DesktopHook::processIdOfWindow(unsigned long window)
{
    return m_impl->ask(DesktopCapability::ActiveWindow, 0,
                       [=](DesktopBackend &backend) { return backend.processIdOfWindow(window); });
}

std::string DesktopHook::applicationIdOfWindow(unsigned long window)
{
    return m_impl->ask(DesktopCapability::ActiveWindow, std::string(),
                       [=](DesktopBackend &backend) { return backend.applicationIdOfWindow(window); });
}

std::string DesktopHook::executableNameOfWindow(unsigned long window)
{
    std::string name = executableNameOfProcess(processIdOfWindow(window));
    return name.empty() ? applicationIdOfWindow(window) : name;
}

CapabilityReports DesktopHook::capabilities() const
{
    auto reports = std::make_shared<CapabilityReports>();
    Impl *impl = m_impl.get();
    if (!impl->call([impl, reports] { *reports = impl->reports(); }, impl->m_options.requestTimeout))
        return {};
    return *reports;
}

std::string DesktopHook::executableNameOfProcess(int pid)
{
    if (pid <= 0)
        return std::string();
    const std::string link = "/proc/" + std::to_string(pid) + "/exe";
    char target[PATH_MAX];
    const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
    if (n <= 0)
        return std::string();
    std::string path(target, std::size_t(n));
    // A program file replaced or removed while it runs reads as "PATH (deleted)".
    constexpr std::string_view deleted = " (deleted)";
    if (path.size() > deleted.size() && path.ends_with(deleted))
        path.resize(path.size() - deleted.size());
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool DesktopHook::desktopAvailable() const
{
    return m_impl->m_desktopOk;
}

bool DesktopHook::peersAvailable() const
{
    return m_impl->m_peersOk;
}

std::string DesktopHook::runtimeFolder() const
{
    return m_impl->m_folder.path();
}

} // namespace pixkey
