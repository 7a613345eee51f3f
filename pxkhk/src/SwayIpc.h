// SwayIpc: the active window in a sway session from sway's i3-compatible IPC socket ($SWAYSOCK).
// It subscribes to window and workspace events and asks for the layout tree once, for the window
// in front at start; the focused container's id is the window id, and its process id and app id
// (or, for XWayland windows, the X class) answer for it.
//
// The socket is read without blocking into a buffer; each message is framed ("i3-ipc", length,
// type) and may be at most kMaxMessage bytes. A message that is not framed so, too long, or not
// JSON makes the back end drop itself with a line on stderr; it never waits for sway.
//
// Threads: hook thread only (DesktopBackend.h).
#pragma once

#include "DesktopBackend.h"
#include "IpcStream.h"

#include <cstdint>
#include <deque>
#include <map>
#include <string>

namespace pixkey {

class JsonValue;

class SwayIpc : public DesktopBackend {
public:
    static constexpr std::size_t kMaxMessage = 16u << 20; // a whole layout tree of a busy session fits
    static constexpr std::size_t kMaxWindows = 4096;       // windows remembered at once

    // `socket`: the IPC socket (empty: $SWAYSOCK).
    explicit SwayIpc(std::string socket = {});

    const char *name() const override { return "sway IPC"; }
    bool open(std::string &error) override;
    bool usable() const override { return m_stream.isOpen(); }
    void pollFds(std::vector<pollfd> &fds) const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    unsigned long activeWindow() const override { return m_active; }
    int processIdOfWindow(unsigned long window) override;
    std::string applicationIdOfWindow(unsigned long window) override;

    // The i3 IPC frame of a message: magic, payload length and type (native byte order), payload.
    static std::string frame(std::uint32_t type, const std::string &payload);

private:
    struct Window {
        int pid = 0;
        std::string applicationId;
    };
    // What a reply answers, in the order the requests were sent.
    enum class Pending { Subscribe, Tree };

    void fail(const std::string &why);
    void handle(std::uint32_t type, const JsonValue &message, DesktopEvents &events);
    void remember(const JsonValue &container);
    void activate(unsigned long window, DesktopEvents &events);
    // The focused window in a tree (0 none): the focused node that is a view.
    static unsigned long focusedIn(const JsonValue &node, int depth);

    std::string m_socket;
    IpcStream m_stream;
    std::string m_in;
    std::deque<Pending> m_pending;
    unsigned long m_active = 0;
    std::map<unsigned long, Window> m_windows;
};

} // namespace pixkey
