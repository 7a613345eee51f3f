#include "SwayIpc.h"

#include "Json.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace pixkey {

namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr std::size_t kHeader = sizeof kMagic + 8;

constexpr std::uint32_t kSubscribe = 2;
constexpr std::uint32_t kGetTree = 4;
constexpr std::uint32_t kEventBit = 0x80000000u;
constexpr std::uint32_t kWorkspaceEvent = kEventBit | 0;
constexpr std::uint32_t kWindowEvent = kEventBit | 3;

// A container id as a window id; 0 when it is not a positive whole number.
unsigned long idOf(const JsonValue &node)
{
    const std::int64_t id = node["id"].integer(0);
    return id > 0 ? static_cast<unsigned long>(id) : 0;
}

// Whether a tree node is a view (a window of a program), not a workspace or split.
bool isView(const JsonValue &node)
{
    const std::string type = node["type"].string();
    return (type == "con" || type == "floating_con")
        && (node["pid"].type() == JsonValue::Type::Number || node["app_id"].type() == JsonValue::Type::String
            || node["window_properties"].isObject());
}

} // namespace

SwayIpc::SwayIpc(std::string socket) : m_socket(std::move(socket))
{
    if (m_socket.empty()) {
        if (const char *env = std::getenv("SWAYSOCK"))
            m_socket = env;
    }
}

std::string SwayIpc::frame(std::uint32_t type, const std::string &payload)
{
    std::string bytes(kMagic, sizeof kMagic);
    const std::uint32_t length = std::uint32_t(payload.size());
    bytes.append(reinterpret_cast<const char *>(&length), 4);
    bytes.append(reinterpret_cast<const char *>(&type), 4);
    bytes += payload;
    return bytes;
}

bool SwayIpc::open(std::string &error)
{
    if (m_socket.empty()) {
        error = "no sway IPC socket ($SWAYSOCK is not set)";
        return false;
    }
    if (!m_stream.connect(m_socket, error))
        return false;
    m_stream.send(frame(kSubscribe, R"(["window","workspace"])"));
    m_pending.push_back(Pending::Subscribe);
    m_stream.send(frame(kGetTree, ""));
    m_pending.push_back(Pending::Tree);
    return true;
}

void SwayIpc::pollFds(std::vector<pollfd> &fds) const
{
    if (m_stream.isOpen())
        fds.push_back({m_stream.fd(), m_stream.events(), 0});
}

void SwayIpc::fail(const std::string &why)
{
    std::fprintf(stderr, "pxkhk: sway IPC: %s\n", why.c_str());
    m_stream.close();
    m_in.clear();
    m_pending.clear();
}

void SwayIpc::dispatch(DesktopEvents &events)
{
    constexpr std::size_t limit = kHeader + kMaxMessage;
    for (;;) {
        if (!m_stream.isOpen())
            return;
        std::string error;
        const IpcStream::Status status = m_stream.pump(m_in, limit, error);
        const bool full = m_in.size() >= limit;
        // Every whole message that has arrived.
        std::size_t at = 0;
        while (m_in.size() - at >= kHeader) {
            if (std::memcmp(m_in.data() + at, kMagic, sizeof kMagic) != 0) {
                fail("the socket sent something that is not an i3 IPC message");
                return;
            }
            std::uint32_t length = 0, type = 0;
            std::memcpy(&length, m_in.data() + at + sizeof kMagic, 4);
            std::memcpy(&type, m_in.data() + at + sizeof kMagic + 4, 4);
            if (length > kMaxMessage) {
                fail("a message of " + std::to_string(length) + " bytes is more than the limit");
                return;
            }
            if (m_in.size() - at - kHeader < length)
                break;
            const std::optional<JsonValue> message = JsonValue::parse(std::string_view(m_in).substr(at + kHeader, length));
            if (!message) {
                fail("a message is not JSON");
                return;
            }
            at += kHeader + length;
            handle(type, *message, events);
            if (!m_stream.isOpen())
                return;
        }
        m_in.erase(0, at);
        if (status == IpcStream::Status::Failed) {
            fail(error);
            return;
        }
        if (status == IpcStream::Status::Closed) {
            fail("sway closed the connection");
            return;
        }
        if (!full)
            return;
    }
}

void SwayIpc::handle(std::uint32_t type, const JsonValue &message, DesktopEvents &events)
{
    if (type == kWindowEvent) {
        const std::string change = message["change"].string();
        const JsonValue &container = message["container"];
        const unsigned long id = idOf(container);
        if (id == 0)
            return;
        if (change == "close") {
            m_windows.erase(id);
            if (id == m_active)
                activate(0, events);
            return;
        }
        remember(container);
        if (change == "focus")
            activate(id, events);
        return;
    }
    if (type == kWorkspaceEvent) {
        // Focus on an empty workspace: no window is in front any more.
        const JsonValue &current = message["current"];
        if (message["change"].string() == "focus" && current.isObject() && current["nodes"].elements().empty()
            && current["floating_nodes"].elements().empty())
            activate(0, events);
        return;
    }
    if (type & kEventBit)
        return; // events not subscribed to (a shutdown is seen as the socket closing)
    if (m_pending.empty())
        return; // a reply to nothing asked: ignored
    const Pending pending = m_pending.front();
    m_pending.pop_front();
    if (pending == Pending::Subscribe) {
        if (!message["success"].boolean())
            fail("sway refused the subscription to window events");
        return;
    }
    if (type == kGetTree) {
        remember(message);
        activate(focusedIn(message, 0), events);
    }
}

void SwayIpc::remember(const JsonValue &node)
{
    if (isView(node)) {
        const unsigned long id = idOf(node);
        if (id == 0)
            return;
        if (m_windows.size() >= kMaxWindows && !m_windows.count(id))
            m_windows.erase(m_windows.begin()); // the oldest id; sway counts ids up
        Window &window = m_windows[id];
        const std::int64_t pid = node["pid"].integer(0);
        window.pid = pid > 0 && pid <= 0x7FFFFFFF ? int(pid) : 0;
        window.applicationId = node["app_id"].string();
        if (window.applicationId.empty())
            window.applicationId = node["window_properties"]["class"].string();
        return;
    }
    for (const char *children : {"nodes", "floating_nodes"})
        for (const JsonValue &child : node[children].elements())
            remember(child);
}

unsigned long SwayIpc::focusedIn(const JsonValue &node, int depth)
{
    if (depth > 64)
        return 0;
    if (node["focused"].boolean())
        return isView(node) ? idOf(node) : 0;
    for (const char *children : {"nodes", "floating_nodes"})
        for (const JsonValue &child : node[children].elements())
            if (const unsigned long found = focusedIn(child, depth + 1))
                return found;
    return 0;
}

void SwayIpc::activate(unsigned long window, DesktopEvents &events)
{
    changeActiveWindow(m_active, window, &events);
}

CapabilityReports SwayIpc::capabilities() const
{
    if (!usable())
        return {};
    return {{DesktopCapability::ActiveWindow, CapabilityState::Working, "sway IPC focus events, with the process id", {}}};
}

int SwayIpc::processIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? 0 : it->second.pid;
}

std::string SwayIpc::applicationIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? std::string() : it->second.applicationId;
}

} // namespace pixkey
