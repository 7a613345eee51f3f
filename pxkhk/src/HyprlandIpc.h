// HyprlandIpc: the active window in a Hyprland session from its event socket (.socket2.sock in
// $XDG_RUNTIME_DIR/hypr/$HYPRLAND_INSTANCE_SIGNATURE, or /tmp/hypr/... of older versions). Each
// `activewindowv2>>ADDRESS` event is followed by a `j/activewindow` request on the request socket
// (.socket.sock) for the window's process id and class; the foreground change is reported when
// the answer is in (or after kRequestTimeout without one, then with the class from the
// `activewindow` event only). The window id is the window's address.
//
// Both sockets are read without blocking; an event line is at most kMaxLine bytes and must read
// EVENT>>DATA, an answer is at most kMaxAnswer bytes of JSON. Anything else drops the back end with
// a line on stderr.
//
// Threads: hook thread only (DesktopBackend.h).
#pragma once

#include "DesktopBackend.h"
#include "IpcStream.h"

#include <chrono>
#include <map>
#include <string>

namespace pixkey {

class HyprlandIpc : public DesktopBackend {
public:
    static constexpr std::size_t kMaxLine = 64u << 10;
    static constexpr std::size_t kMaxAnswer = 1u << 20;
    static constexpr std::size_t kMaxWindows = 4096;
    static constexpr std::chrono::milliseconds kRequestTimeout{1000};

    struct Options {
        std::string signature;     // empty: $HYPRLAND_INSTANCE_SIGNATURE
        std::string runtimeFolder; // empty: $XDG_RUNTIME_DIR
        std::string folder;        // the sockets' folder itself; empty to look in the usual places
    };
    explicit HyprlandIpc(Options options);

    const char *name() const override { return "Hyprland IPC"; }
    bool open(std::string &error) override;
    bool usable() const override { return m_events.isOpen(); }
    void pollFds(std::vector<pollfd> &fds) const override;
    int timeoutMs() const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    unsigned long activeWindow() const override { return m_active; }
    int processIdOfWindow(unsigned long window) override;
    std::string applicationIdOfWindow(unsigned long window) override;

private:
    using Clock = std::chrono::steady_clock;
    struct Window {
        int pid = 0;
        std::string applicationId;
    };

    void fail(const std::string &why);
    void handleLine(const std::string &line, DesktopEvents &events);
    // Asks for the window in front; `address` is the one the events named (0 at start).
    void request(unsigned long address);
    void finishRequest(const std::string *answer, DesktopEvents &events);
    void activate(unsigned long window, DesktopEvents &events);
    void remember(unsigned long window, int pid, const std::string &applicationId);

    Options m_options;
    std::string m_folder;
    IpcStream m_events;
    std::string m_eventBytes;
    std::string m_lastClass; // from the last `activewindow` event

    IpcStream m_request;
    bool m_requesting = false;
    bool m_startRequest = false; // the request made at open (reported as the window in front)
    unsigned long m_requestFor = 0;
    std::string m_requestClass;
    Clock::time_point m_requestDeadline;
    std::string m_answer;

    unsigned long m_active = 0;
    std::map<unsigned long, Window> m_windows;
};

} // namespace pixkey
