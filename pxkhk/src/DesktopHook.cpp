#include <pixkey/pxkhk/DesktopHook.h>

#include "PeerFolder.h"
#include "PeerFrame.h"
#include "XDesktop.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <functional>
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

class DesktopHook::Impl : public XDesktop::Events {
public:
    explicit Impl(Options options);
    ~Impl() override;

    bool hook(HookSink *sink);
    void unhook();
    int broadcast(PeerFrame::Kind kind, const PeerMessage &message);
    int count();
    // Runs `work` on the hook thread (at once when called there). Waits for it at most
    // `timeout`, or without limit when `timeout` is zero; false when it did not run in time.
    bool call(std::function<void()> work, std::chrono::milliseconds timeout);

    const Options m_options;
    const PeerFolder m_folder;
    bool m_peersOk = false; // set by the constructor only
    // Set by the constructor; cleared by the hook thread when the X server goes away.
    std::atomic<bool> m_desktopOk{false};

    // Hook thread only (the constructor sets it up before the thread starts).
    XDesktop m_x;

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

    void run();
    void runRequests();
    void acceptConnections();
    // Reads what connection `c` has; true when it is finished (delivered or dropped).
    bool readConnection(Connection &c);
    void closeListener();

    // Calls `call` with the sink, if there is one, on the hook thread.
    template <typename F>
    void deliver(F call);

    // XDesktop::Events, on the hook thread.
    void foregroundChanged(unsigned long window, int active) override;
    void modifierRowChanged(int row) override;
    void hotkeyPressed(int id, std::uint32_t lParam) override;

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
};

DesktopHook::Impl::Impl(Options options) : m_options(std::move(options)), m_folder(m_options.runtimeFolder)
{
    std::string error;
    m_peersOk = m_folder.prepare(error);
    if (!m_peersOk)
        std::fprintf(stderr, "pxkhk: other configurators cannot be reached: %s\n", error.c_str());

    if (m_options.useDisplay) {
        m_desktopOk = m_x.open(m_options.displayName, error);
        if (!m_desktopOk)
            std::fprintf(stderr, "pxkhk: %s; active window, modifier rows, hotkeys and idle time are off\n",
                         error.c_str());
        else if (!m_x.hasModifierRows())
            std::fprintf(stderr, "pxkhk: no XInput2 on the display; modifier rows are off\n");
    }

    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread([this] { run(); });
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
        if (m_x.usable())
            m_x.dispatch(*this); // also what Xlib queued while requests ran
        if (m_desktopOk && m_x.isLost()) {
            m_desktopOk = false;
            std::fprintf(stderr, "pxkhk: active window, modifier rows, hotkeys and idle time are off\n");
        }

        std::vector<pollfd> fds;
        fds.push_back({m_wakeFd, POLLIN, 0});
        const bool withX = m_x.usable();
        if (withX)
            fds.push_back({m_x.fd(), POLLIN, 0});
        const std::size_t listenIndex = fds.size();
        if (m_listenFd >= 0)
            fds.push_back({m_listenFd, POLLIN, 0});
        const std::size_t firstConnection = fds.size();
        int timeout = -1;
        for (const Connection &c : m_connections) {
            fds.push_back({c.fd, POLLIN, 0});
            const int left = millisecondsUntil(c.deadline);
            timeout = timeout < 0 ? left : std::min(timeout, left);
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
        if (withX && fds[1].revents && m_x.usable())
            m_x.dispatch(*this);

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
            if (firstSink && m_x.usable()) {
                // What changed before the hook is settled first (nobody receives it); the window
                // in front now is then reported as having become the foreground window, or a
                // program activated while the configurator was starting would never switch.
                m_x.dispatch(*this);
            }
            m_sink = sink;
            if (firstSink && m_x.usable() && m_x.activeWindow() != 0)
                foregroundChanged(m_x.activeWindow(), 1);
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

void DesktopHook::Impl::foregroundChanged(unsigned long window, int active)
{
    deliver([&](HookSink &sink) { sink.onForegroundChanged(window, active); });
}

void DesktopHook::Impl::modifierRowChanged(int row)
{
    deliver([&](HookSink &sink) { sink.onModifierRow(row); });
}

void DesktopHook::Impl::hotkeyPressed(int id, std::uint32_t lParam)
{
    deliver([&](HookSink &sink) { sink.onHotkey(id, lParam); });
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
    if (!m_impl->m_desktopOk)
        return false;
    auto result = std::make_shared<bool>(false);
    Impl *impl = m_impl.get();
    const bool ran = impl->call([impl, result, id, modifiers, key] {
        *result = impl->m_x.registerHotkey(id, modifiers, key);
    }, impl->m_options.requestTimeout);
    return ran && *result;
}

bool DesktopHook::UnregisterHotkey(int id)
{
    if (!m_impl->m_desktopOk)
        return false;
    auto result = std::make_shared<bool>(false);
    Impl *impl = m_impl.get();
    const bool ran = impl->call([impl, result, id] { *result = impl->m_x.unregisterHotkey(id); },
                                impl->m_options.requestTimeout);
    return ran && *result;
}

std::optional<std::uint32_t> DesktopHook::idleTime()
{
    if (!m_impl->m_desktopOk)
        return std::nullopt;
    auto result = std::make_shared<std::optional<std::uint32_t>>();
    Impl *impl = m_impl.get();
    if (!impl->call([impl, result] { *result = impl->m_x.idleTime(); }, impl->m_options.requestTimeout))
        return std::nullopt;
    return *result;
}

int DesktopHook::processIdOfWindow(unsigned long window)
{
    if (!m_impl->m_desktopOk)
        return 0;
    auto result = std::make_shared<int>(0);
    Impl *impl = m_impl.get();
    if (!impl->call([impl, result, window] { *result = impl->m_x.processIdOfWindow(window); },
                    impl->m_options.requestTimeout))
        return 0;
    return *result;
}

std::string DesktopHook::executableNameOfWindow(unsigned long window)
{
    std::string name = executableNameOfProcess(processIdOfWindow(window));
    return name.empty() ? applicationIdOfWindow(window) : name;
}

std::string DesktopHook::applicationIdOfWindow(unsigned long window)
{
    if (!m_impl->m_desktopOk)
        return std::string();
    auto result = std::make_shared<std::string>();
    Impl *impl = m_impl.get();
    if (!impl->call([impl, result, window] { *result = impl->m_x.applicationIdOfWindow(window); },
                    impl->m_options.requestTimeout))
        return std::string();
    return *result;
}

CapabilityReports DesktopHook::capabilities() const
{
    auto reports = std::make_shared<CapabilityReports>();
    Impl *impl = m_impl.get();
    const bool ran = impl->call([impl, reports] {
        const bool x = impl->m_x.usable();
        const auto add = [&](DesktopCapability capability, bool working, const char *how, const char *missing) {
            CapabilityReport report;
            report.capability = capability;
            report.state = working ? CapabilityState::Working : CapabilityState::Unavailable;
            report.how = working ? how : (x ? missing : "no X display");
            reports->push_back(report);
        };
        add(DesktopCapability::ActiveWindow, x, "the X server's _NET_ACTIVE_WINDOW", "");
        add(DesktopCapability::SwitchHotkey, x, "a key grab on the X server", "");
        add(DesktopCapability::ModifierRows, x && impl->m_x.hasModifierRows(), "XInput2 raw key events",
            "the X server has no XInput2");
        add(DesktopCapability::IdleTime, x && impl->m_x.hasIdleTime(), "the X server's screensaver extension",
            "the X server has no screensaver extension");
    }, impl->m_options.requestTimeout);
    if (!ran)
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
