#include "HyprlandIpc.h"

#include "Json.h"

#include <cstdio>
#include <cstdlib>

#include <sys/stat.h>

namespace pixkey {

namespace {

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool isSocket(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode);
}

// A window address ("55d0c0a1b2c3" or "0x55d0c0a1b2c3") as a window id; 0 when it is none.
unsigned long addressOf(std::string text)
{
    if (text.starts_with("0x") || text.starts_with("0X"))
        text.erase(0, 2);
    if (text.empty() || text.size() > 16)
        return 0;
    unsigned long value = 0;
    for (const char c : text) {
        value <<= 4;
        if (c >= '0' && c <= '9')
            value |= unsigned(c - '0');
        else if (c >= 'a' && c <= 'f')
            value |= unsigned(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F')
            value |= unsigned(c - 'A' + 10);
        else
            return 0;
    }
    return value;
}

} // namespace

HyprlandIpc::HyprlandIpc(Options options) : m_options(std::move(options))
{
    if (m_options.signature.empty())
        m_options.signature = environment("HYPRLAND_INSTANCE_SIGNATURE");
    if (m_options.runtimeFolder.empty())
        m_options.runtimeFolder = environment("XDG_RUNTIME_DIR");
}

bool HyprlandIpc::open(std::string &error)
{
    if (!m_options.folder.empty()) {
        m_folder = m_options.folder;
    } else {
        if (m_options.signature.empty() || m_options.signature.find('/') != std::string::npos) {
            error = "no usable Hyprland instance ($HYPRLAND_INSTANCE_SIGNATURE)";
            return false;
        }
        for (const std::string &base : {m_options.runtimeFolder.empty() ? std::string() : m_options.runtimeFolder + "/hypr",
                                        std::string("/tmp/hypr")}) {
            if (!base.empty() && isSocket(base + "/" + m_options.signature + "/.socket2.sock")) {
                m_folder = base + "/" + m_options.signature;
                break;
            }
        }
        if (m_folder.empty()) {
            error = "no event socket of Hyprland instance " + m_options.signature;
            return false;
        }
    }
    if (!m_events.connect(m_folder + "/.socket2.sock", error))
        return false;
    m_startRequest = true;
    request(0);
    return true;
}

void HyprlandIpc::fail(const std::string &why)
{
    std::fprintf(stderr, "pxkhk: Hyprland IPC: %s\n", why.c_str());
    m_events.close();
    m_request.close();
    m_requesting = false;
    m_eventBytes.clear();
}

void HyprlandIpc::pollFds(std::vector<pollfd> &fds) const
{
    if (m_events.isOpen())
        fds.push_back({m_events.fd(), m_events.events(), 0});
    if (m_request.isOpen())
        fds.push_back({m_request.fd(), m_request.events(), 0});
}

int HyprlandIpc::timeoutMs() const
{
    if (!m_requesting)
        return -1;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_requestDeadline - Clock::now()).count();
    return left <= 0 ? 0 : int(left + 1);
}

void HyprlandIpc::request(unsigned long address)
{
    m_request.close();
    m_answer.clear();
    m_requestFor = address;
    m_requestClass = m_lastClass;
    m_requestDeadline = Clock::now() + kRequestTimeout;
    std::string error;
    m_requesting = m_request.connect(m_folder + "/.socket.sock", error);
    if (m_requesting)
        m_request.send("j/activewindow");
}

void HyprlandIpc::dispatch(DesktopEvents &events)
{
    if (!m_events.isOpen())
        return;
    // The answer first: an event read below may start the next request.
    if (m_requesting) {
        std::string error;
        const IpcStream::Status status = m_request.pump(m_answer, kMaxAnswer + 1, error);
        if (m_answer.size() > kMaxAnswer) {
            fail("an answer on the request socket is longer than the limit");
            return;
        }
        if (status == IpcStream::Status::Closed) {
            finishRequest(&m_answer, events);
        } else if (status == IpcStream::Status::Failed || Clock::now() >= m_requestDeadline) {
            finishRequest(nullptr, events); // no process id this time
        }
        if (!m_events.isOpen())
            return;
    }
    for (;;) {
        std::string error;
        const IpcStream::Status status = m_events.pump(m_eventBytes, kMaxLine + 1, error);
        const bool full = m_eventBytes.size() > kMaxLine;
        std::size_t start = 0;
        for (std::size_t end; (end = m_eventBytes.find('\n', start)) != std::string::npos; start = end + 1) {
            handleLine(m_eventBytes.substr(start, end - start), events);
            if (!m_events.isOpen())
                return;
        }
        m_eventBytes.erase(0, start);
        if (m_eventBytes.size() > kMaxLine) {
            fail("an event line is longer than the limit");
            return;
        }
        if (status == IpcStream::Status::Failed) {
            fail(error);
            return;
        }
        if (status == IpcStream::Status::Closed) {
            fail("Hyprland closed the event socket");
            return;
        }
        if (!full)
            return;
    }
}

void HyprlandIpc::handleLine(const std::string &line, DesktopEvents &events)
{
    const std::size_t arrow = line.find(">>");
    if (arrow == std::string::npos || arrow == 0) {
        fail("the event socket sent a line that is not EVENT>>DATA");
        return;
    }
    const std::string event = line.substr(0, arrow), data = line.substr(arrow + 2);
    if (event == "activewindow") {
        m_lastClass = data.substr(0, data.find(','));
    } else if (event == "activewindowv2") {
        const unsigned long address = addressOf(data);
        if (address == 0) {
            m_requesting = false; // an answer to an older question no longer matters
            m_request.close();
            activate(0, events);
        } else {
            m_startRequest = false;
            request(address);
            if (!m_requesting) // no request socket: report with what the events said
                finishRequest(nullptr, events);
        }
    } else if (event == "closewindow") {
        const unsigned long address = addressOf(data);
        m_windows.erase(address);
        if (address != 0 && address == m_active)
            activate(0, events);
    }
}

void HyprlandIpc::finishRequest(const std::string *answer, DesktopEvents &events)
{
    m_requesting = false;
    m_request.close();
    unsigned long address = m_requestFor;
    int pid = 0;
    std::string applicationId = m_requestClass;
    if (answer) {
        const std::optional<JsonValue> value = JsonValue::parse(*answer);
        if (!value || !value->isObject()) {
            fail("the request socket answered something that is not a JSON object");
            return;
        }
        const unsigned long answered = addressOf((*value)["address"].string());
        if (m_startRequest)
            address = answered; // at start the answer alone says which window is in front
        if (answered != 0 && answered == address) {
            const std::int64_t number = (*value)["pid"].integer(0);
            pid = number > 0 && number <= 0x7FFFFFFF ? int(number) : 0;
            const std::string cls = (*value)["class"].string();
            if (!cls.empty())
                applicationId = cls;
        }
    }
    m_startRequest = false;
    if (address != 0)
        remember(address, pid, applicationId);
    activate(address, events);
}

void HyprlandIpc::remember(unsigned long window, int pid, const std::string &applicationId)
{
    if (m_windows.size() >= kMaxWindows && !m_windows.count(window))
        m_windows.clear(); // addresses are not ordered by age: start over rather than grow
    m_windows[window] = Window{pid, applicationId};
}

void HyprlandIpc::activate(unsigned long window, DesktopEvents &events)
{
    changeActiveWindow(m_active, window, &events);
}

CapabilityReports HyprlandIpc::capabilities() const
{
    if (!usable())
        return {};
    return {{DesktopCapability::ActiveWindow, CapabilityState::Working,
             "Hyprland's activewindow events, with the process id from its request socket", {}}};
}

int HyprlandIpc::processIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? 0 : it->second.pid;
}

std::string HyprlandIpc::applicationIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? std::string() : it->second.applicationId;
}

} // namespace pixkey
