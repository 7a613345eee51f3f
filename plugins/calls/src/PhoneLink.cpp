#include "PhoneLink.h"

#include "Netstring.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <utility>

namespace calls {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The phone's text for a call the user ended or refused on the phone itself.
constexpr std::string_view kClosedByUser = "Connection reset by user";

CallStatus statusOfListed(const std::string &state)
{
    if (state == "INCOMING" || state == "RINGING" || state == "EARLY")
        return CallStatus::Ringing;
    if (state == "OUTGOING")
        return CallStatus::Calling;
    if (state == "ESTABLISHED")
        return CallStatus::InProgress;
    return CallStatus::Other;
}

} // namespace

class PhoneLink::Worker {
public:
    explicit Worker(PhoneLink &link)
        : m_link(link), m_reader(link.m_options.maxMessage), m_backoff(link.m_options.reconnectMin)
    {
    }

    ~Worker() { closeSocket(); }

    void run()
    {
        for (;;) {
            std::vector<std::pair<std::string, std::string>> commands;
            bool attached = false;
            bool haveCalls = false;
            bool retry = false;
            {
                std::lock_guard lock(m_link.m_lock);
                if (m_link.m_stop)
                    return;
                commands.swap(m_link.m_commands);
                attached = m_link.m_state.attached;
                haveCalls = !m_link.m_state.calls.empty();
                retry = std::exchange(m_link.m_retrySoon, false);
            }
            const auto now = Clock::now();
            if (retry) {
                m_backoff = m_link.m_options.reconnectMin;
                m_nextAttempt = now;
            }
            if (m_fd < 0 && now >= m_nextAttempt)
                startConnect(now);

            if (attached) {
                for (auto &[command, params] : commands)
                    send(command, params, Kind::Other, now);
                // A list asked for after the commands shows what they did (a call dialled out is
                // announced by no event with an id until it rings).
                if (!commands.empty())
                    m_listWanted = true;
                if (!listPending() && (m_listWanted || (haveCalls && now >= m_nextList)))
                    requestList(now);
            }
            if (m_fd >= 0 && !m_connecting && timedOut(now)) {
                drop(now, true, "no answer");
                continue;
            }

            pollOnce(now, haveCalls);
        }
    }

private:
    enum class Kind { List, Registrations, Other };
    struct Pending {
        Kind kind;
        Clock::time_point sent;
    };

    // --- socket ------------------------------------------------------------------------------

    void startConnect(Clock::time_point now)
    {
        const ControlEndpoint &endpoint = m_link.m_options.endpoint;
        const bool v6 = endpoint.host == "::1";
        m_fd = ::socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (m_fd < 0) {
            failConnect(now);
            return;
        }
        int rc;
        // Always a loopback address: the endpoint's host is one of the two loopback names.
        if (v6) {
            sockaddr_in6 address{};
            address.sin6_family = AF_INET6;
            address.sin6_port = htons(endpoint.port);
            address.sin6_addr = in6addr_loopback;
            rc = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        } else {
            sockaddr_in address{};
            address.sin_family = AF_INET;
            address.sin_port = htons(endpoint.port);
            address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            rc = ::connect(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        }
        if (rc == 0) {
            connected(now);
        } else if (errno == EINPROGRESS) {
            m_connecting = true;
            m_connectDeadline = now + m_link.m_options.connectTimeout;
        } else {
            failConnect(now);
        }
    }

    void connected(Clock::time_point now)
    {
        m_connecting = false;
        m_connectedAt = now;
        m_reader.reset();
        m_out.clear();
        m_pending.clear();
        int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        send("reginfo", {}, Kind::Registrations, now);
        requestList(now);
    }

    void failConnect(Clock::time_point now)
    {
        closeSocket();
        m_nextAttempt = now + m_backoff;
        m_backoff = std::min(m_backoff * 2, m_link.m_options.reconnectMax);
        setDetached();
    }

    // Ends the connection; `fault` when the phone broke the protocol or stopped answering.
    void drop(Clock::time_point now, bool fault, const char *)
    {
        const bool shortLived = now - m_connectedAt < std::chrono::seconds(10);
        closeSocket();
        if (!shortLived)
            m_backoff = m_link.m_options.reconnectMin;
        m_nextAttempt = now + m_backoff;
        m_backoff = std::min(m_backoff * 2, m_link.m_options.reconnectMax);
        {
            std::lock_guard lock(m_link.m_lock);
            if (fault)
                ++m_link.m_protocolFaults;
        }
        setDetached();
    }

    void closeSocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
        m_connecting = false;
        m_pending.clear();
        m_out.clear();
        m_listWanted = false;
    }

    void setDetached()
    {
        std::lock_guard lock(m_link.m_lock);
        PhoneSnapshot &state = m_link.m_state;
        if (!state.attached && state.calls.empty())
            return;
        state.attached = false;
        state.calls.clear();
        state.userStatus = 0;
        changed();
    }

    void pollOnce(Clock::time_point now, bool haveCalls)
    {
        Clock::time_point wakeAt = now + milliseconds(1000);
        if (m_fd < 0)
            wakeAt = std::min(wakeAt, m_nextAttempt);
        else if (m_connecting)
            wakeAt = std::min(wakeAt, m_connectDeadline);
        else {
            if (haveCalls)
                wakeAt = std::min(wakeAt, m_nextList);
            for (const auto &[token, pending] : m_pending)
                wakeAt = std::min(wakeAt, pending.sent + m_link.m_options.commandTimeout);
        }
        const auto wait = std::chrono::duration_cast<milliseconds>(wakeAt - now).count();
        const int timeout = int(std::clamp<long long>(wait + 1, 0, 1000));

        pollfd fds[2] = {{m_link.m_wakeFd, POLLIN, 0}, {m_fd, 0, 0}};
        int count = 1;
        if (m_fd >= 0) {
            fds[1].events = m_connecting ? POLLOUT : short(POLLIN | (m_out.empty() ? 0 : POLLOUT));
            count = 2;
        }
        if (::poll(fds, nfds_t(count), timeout) < 0 && errno != EINTR)
            return;
        if (fds[0].revents & POLLIN) {
            std::uint64_t value;
            [[maybe_unused]] auto ignored = ::read(m_link.m_wakeFd, &value, sizeof value);
        }
        const auto after = Clock::now();
        if (m_fd < 0)
            return;
        if (m_connecting) {
            if (fds[1].revents & (POLLOUT | POLLERR | POLLHUP)) {
                int error = 0;
                socklen_t length = sizeof error;
                ::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length);
                if (error == 0)
                    connected(after);
                else
                    failConnect(after);
            } else if (after >= m_connectDeadline) {
                failConnect(after);
            }
            return;
        }
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            if (!receive(after))
                return;
        }
        if (m_fd >= 0 && !m_out.empty() && (fds[1].revents & POLLOUT))
            flush(after);
    }

    // Reads what the socket has. False when the connection was dropped.
    bool receive(Clock::time_point now)
    {
        const ssize_t n = ::recv(m_fd, m_buffer, sizeof m_buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            drop(now, false, "closed");
            return false;
        }
        if (n < 0)
            return true;
        if (!m_reader.feed(std::string_view(m_buffer, std::size_t(n)))) {
            drop(now, true, "framing");
            return false;
        }
        while (auto text = m_reader.next()) {
            if (auto message = parsePhoneMessage(*text))
                handle(*message, now);
            if (m_fd < 0)
                return false;
        }
        return true;
    }

    void flush(Clock::time_point now)
    {
        const ssize_t n = ::send(m_fd, m_out.data(), m_out.size(), MSG_NOSIGNAL);
        if (n < 0) {
            if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
                drop(now, false, "send");
            return;
        }
        m_out.erase(0, std::size_t(n));
    }

    void send(const std::string &command, const std::string &params, Kind kind, Clock::time_point now)
    {
        if (m_fd < 0 || m_connecting)
            return;
        const std::string token = "pk" + std::to_string(m_nextToken++);
        m_out += encodeNetstring(encodeCommand(command, params, token));
        m_pending[token] = Pending{kind, now};
        flush(now);
    }

    bool timedOut(Clock::time_point now) const
    {
        return std::any_of(m_pending.begin(), m_pending.end(), [&](const auto &entry) {
            return now - entry.second.sent > m_link.m_options.commandTimeout;
        });
    }

    bool listPending() const
    {
        return std::any_of(m_pending.begin(), m_pending.end(),
                           [](const auto &entry) { return entry.second.kind == Kind::List; });
    }

    void requestList(Clock::time_point now)
    {
        m_listWanted = false;
        m_nextList = now + m_link.m_options.listInterval;
        send("listcalls", {}, Kind::List, now);
    }

    // --- messages ----------------------------------------------------------------------------

    void handle(const PhoneMessage &message, Clock::time_point now)
    {
        if (message.kind == PhoneMessage::Kind::Response) {
            const auto pending = m_pending.find(message.token);
            if (pending == m_pending.end())
                return;
            const Kind kind = pending->second.kind;
            m_pending.erase(pending);
            std::lock_guard lock(m_link.m_lock);
            PhoneSnapshot &state = m_link.m_state;
            if (!state.attached) {
                state.attached = true;
                m_backoff = m_link.m_options.reconnectMin;
            }
            if (kind == Kind::List)
                reconcile(state, parseCallList(message.data), now);
            else if (kind == Kind::Registrations) {
                m_accounts.clear();
                for (auto &account : parseRegistrations(message.data))
                    m_accounts[account.aor] = account.registration;
                state.userStatus = userStatus();
            }
            changed();
            return;
        }
        if (message.eventClass == "call")
            callEvent(message, now);
        else if (message.eventClass == "register")
            registerEvent(message);
        else if (message.eventClass == "mwi" && message.type == "MWI_NOTIFY") {
            if (const auto voicemails = parseVoicemails(message.param)) {
                std::lock_guard lock(m_link.m_lock);
                m_link.m_state.voicemails = *voicemails;
                changed();
            }
        }
    }

    void callEvent(const PhoneMessage &event, Clock::time_point now)
    {
        const std::string &type = event.type;
        if (type == "CALL_RTCP")
            return;
        m_listWanted = true;
        if (event.id.empty())
            return;
        std::lock_guard lock(m_link.m_lock);
        PhoneSnapshot &state = m_link.m_state;
        auto call = std::find_if(state.calls.begin(), state.calls.end(),
                                 [&](const PhoneCall &c) { return c.id == event.id; });
        if (type == "CALL_CLOSED") {
            if (call == state.calls.end())
                return;
            if (call->incoming && !call->established && event.param != kClosedByUser)
                ++state.missedCalls;
            state.calls.erase(call);
            changed();
            return;
        }
        if (call == state.calls.end()) {
            if (type != "CALL_INCOMING" && type != "CALL_RINGING" && type != "CALL_PROGRESS" &&
                type != "CALL_OUTGOING" && type != "CALL_ESTABLISHED")
                return;
            if (state.calls.size() >= kMaxCalls)
                return;
            PhoneCall added;
            added.id = event.id;
            added.incoming = event.direction != "outgoing";
            state.calls.push_back(std::move(added));
            call = state.calls.end() - 1;
        }
        if (!event.peerUri.empty())
            call->peerUri = event.peerUri;
        if (!event.peerDisplayName.empty())
            call->displayName = event.peerDisplayName;
        if (type == "CALL_ESTABLISHED") {
            if (call->status != CallStatus::InProgress) {
                call->seconds = 0;
                call->at = now;
            }
            call->status = CallStatus::InProgress;
            call->established = true;
        } else if (type == "CALL_INCOMING" || type == "CALL_RINGING" || type == "CALL_PROGRESS") {
            if (call->status != CallStatus::InProgress)
                call->status = CallStatus::Ringing;
        } else if (type == "CALL_OUTGOING") {
            if (call->status == CallStatus::Other)
                call->status = CallStatus::Calling;
        }
        changed();
    }

    void registerEvent(const PhoneMessage &event)
    {
        if (event.accountAor.empty())
            return;
        Registration registration;
        if (event.type == "REGISTER_OK")
            registration = Registration::Registered;
        else if (event.type == "REGISTER_FAIL")
            registration = Registration::Failed;
        else if (event.type == "REGISTERING")
            registration = Registration::Pending;
        else
            return;
        auto known = m_accounts.find(event.accountAor);
        if (known == m_accounts.end()) {
            if (m_accounts.size() >= kMaxCalls)
                return;
            m_accounts[event.accountAor] = registration;
        } else if (registration != Registration::Pending || known->second != Registration::Registered) {
            // A registered account renewing its registration stays online meanwhile.
            known->second = registration;
        }
        std::lock_guard lock(m_link.m_lock);
        m_link.m_state.userStatus = userStatus();
        changed();
    }

    int userStatus() const
    {
        std::vector<AccountRegistration> accounts;
        for (const auto &[aor, registration] : m_accounts)
            accounts.push_back({aor, registration});
        return onlineStatus(accounts);
    }

    // Takes the phone's call list as the truth about which calls exist, in which order and state,
    // and how long they run; the events add what the list does not say (ids, direction, names).
    // The list and the events come in one stream, so every event received before the list was
    // made before it: a call the list lacks has ended.
    static void reconcile(PhoneSnapshot &state, const std::vector<ListedCall> &listed, Clock::time_point now)
    {
        std::vector<PhoneCall> known = std::move(state.calls);
        std::vector<bool> used(known.size(), false);
        std::vector<PhoneCall> calls;
        for (const ListedCall &entry : listed) {
            PhoneCall call;
            std::size_t match = known.size();
            for (std::size_t i = 0; i < known.size(); ++i) {
                if (!used[i] && known[i].peerUri == entry.peerUri &&
                    (known[i].id.empty() ? known[i].line == entry.line : true)) {
                    match = i;
                    break;
                }
            }
            if (match < known.size()) {
                used[match] = true;
                call = std::move(known[match]);
            } else {
                call.peerUri = entry.peerUri;
                call.incoming = entry.state == "INCOMING";
            }
            call.line = entry.line;
            call.onHold = entry.onHold;
            call.status = statusOfListed(entry.state);
            call.established = call.established || call.status == CallStatus::InProgress;
            call.seconds = entry.seconds;
            call.at = now;
            calls.push_back(std::move(call));
        }
        state.calls = std::move(calls);
    }

    void changed()
    {
        ++m_link.m_state.version;
        m_link.m_changed.notify_all();
    }

    PhoneLink &m_link;
    int m_fd = -1;
    bool m_connecting = false;
    Clock::time_point m_connectDeadline{}, m_nextAttempt{}, m_connectedAt{}, m_nextList{};
    NetstringReader m_reader;
    milliseconds m_backoff;
    std::string m_out;
    std::map<std::string, Pending> m_pending;
    std::uint64_t m_nextToken = 1;
    bool m_listWanted = false;
    std::map<std::string, Registration> m_accounts;
    char m_buffer[16384];
};

PhoneLink::PhoneLink(Options options) : m_options(std::move(options))
{
    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_thread = std::thread([this] {
        Worker worker(*this);
        worker.run();
    });
}

PhoneLink::~PhoneLink()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
}

std::shared_ptr<PhoneLink> PhoneLink::shared(const ControlEndpoint &endpoint)
{
    static std::mutex lock;
    static std::weak_ptr<PhoneLink> current;
    std::lock_guard guard(lock);
    if (auto link = current.lock(); link && link->options().endpoint == endpoint)
        return link;
    Options options;
    options.endpoint = endpoint;
    auto link = std::make_shared<PhoneLink>(options);
    current = link;
    return link;
}

PhoneSnapshot PhoneLink::snapshot() const
{
    std::lock_guard lock(m_lock);
    return m_state;
}

PhoneSnapshot PhoneLink::waitFor(const std::function<bool(const PhoneSnapshot &)> &predicate,
                                 std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, timeout, [&] { return predicate(m_state); });
    return m_state;
}

void PhoneLink::queue(std::string command, std::string params)
{
    {
        std::lock_guard lock(m_lock);
        if (!m_state.attached)
            return;
        m_commands.emplace_back(std::move(command), std::move(params));
    }
    wake();
}

void PhoneLink::answer(const PhoneCall &call)
{
    if (!call.id.empty())
        queue("callfind", call.id);
    else if (call.line > 0)
        queue("line", std::to_string(call.line));
    else
        return;
    queue("accept", {});
}

void PhoneLink::hangUp(const PhoneCall &call)
{
    if (!call.id.empty())
        queue("callfind", call.id);
    else if (call.line > 0)
        queue("line", std::to_string(call.line));
    else
        return;
    queue("hangup", {});
}

void PhoneLink::retrySoon()
{
    {
        std::lock_guard lock(m_lock);
        m_retrySoon = true;
    }
    wake();
}

void PhoneLink::dial(const std::string &uri)
{
    queue("dial", uri);
}

void PhoneLink::clearMissedCalls()
{
    std::lock_guard lock(m_lock);
    if (m_state.missedCalls == 0)
        return;
    m_state.missedCalls = 0;
    ++m_state.version;
    m_changed.notify_all();
}

int PhoneLink::protocolFaults() const
{
    std::lock_guard lock(m_lock);
    return m_protocolFaults;
}

void PhoneLink::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] auto ignored = ::write(m_wakeFd, &one, sizeof one);
}

} // namespace calls
