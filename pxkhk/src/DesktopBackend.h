// DesktopBackend: one source of desktop events and answers for the hook layer (the X server, a
// compositor's IPC socket, the Wayland protocols, a D-Bus service of the desktop, a portal). The
// hook opens the back ends its plan names for the session (BackendPlan.h) and routes each
// capability to the first of them that provides it; the core above sees only DesktopHook.
//
// Window ids are the back end's own (an X window id, a compositor's container id, a counter for
// Wayland toplevels); only the back end that reported a window answers questions about it.
//
// Threads: a back end is made, opened, polled, dispatched and destroyed on the hook thread only,
// and every call is made there. Nothing in it may block: connections are non-blocking, replies are
// awaited through dispatch, or bounded by a short time-out where a protocol leaves no other way.
#pragma once

#include <pixkey/pxkhk/DesktopCapabilities.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <poll.h>

namespace pixkey {

// What a back end reports while it dispatches (the hook passes them on to its sink).
class DesktopEvents {
public:
    virtual ~DesktopEvents() = default;
    // `window` became active (1) or stopped being active (0); a change from A to B is (A, 0), (B, 1).
    virtual void foregroundChanged(unsigned long window, int active) = 0;
    // The held modifiers select row `row` (0..5), reported when it changes.
    virtual void modifierRowChanged(int row) = 0;
    // Registered hotkey `id` was pressed; `lParam` = virtual-key code * 65536 + modifier set.
    virtual void hotkeyPressed(int id, std::uint32_t lParam) = 0;
};

// Makes `window` the active one of a back end that keeps it in `active`, reporting the change as
// (previous, 0), (window, 1) to `events` when given (none while a back end is still opening).
inline void changeActiveWindow(unsigned long &active, unsigned long window, DesktopEvents *events)
{
    if (window == active)
        return;
    const unsigned long previous = active;
    active = window;
    if (!events)
        return;
    if (previous != 0)
        events->foregroundChanged(previous, 0);
    if (window != 0)
        events->foregroundChanged(window, 1);
}

class DesktopBackend {
public:
    virtual ~DesktopBackend() = default;

    // Short name for messages: "X11", "sway IPC", "Wayland", "KWin script", ...
    virtual const char *name() const = 0;
    // Connects. False with a reason in `error`; the hook then drops it and tries the next one.
    virtual bool open(std::string &error) = 0;
    // False once its server went away; the hook then drops it and says so on stderr.
    virtual bool usable() const = 0;

    // Descriptors to poll with the events wanted; appended to `fds`.
    virtual void pollFds(std::vector<pollfd> &fds) const = 0;
    // Longest wait in milliseconds before dispatch must run again (a pending reply's deadline, a
    // reconnection); -1 for none.
    virtual int timeoutMs() const { return -1; }
    // Reads whatever has arrived, without blocking, and reports it. Called after poll returns,
    // whichever descriptor woke it, and when timeoutMs ran out.
    virtual void dispatch(DesktopEvents &events) = 0;

    // What it provides in this session and how (only the capabilities it has something to say
    // about). Read after open.
    virtual CapabilityReports capabilities() const = 0;

    // The operations; the defaults mean "not provided here".
    virtual unsigned long activeWindow() const { return 0; }
    virtual bool registerHotkey(int /*id*/, std::uint16_t /*modifiers*/, std::uint16_t /*key*/) { return false; }
    virtual bool unregisterHotkey(int /*id*/) { return false; }
    virtual std::optional<std::uint32_t> idleTime() { return std::nullopt; }
    // The process behind one of its windows (0 unknown) and the window's application id
    // (Wayland app id, X WM_CLASS; empty unknown).
    virtual int processIdOfWindow(unsigned long /*window*/) { return 0; }
    virtual std::string applicationIdOfWindow(unsigned long /*window*/) { return {}; }
};

} // namespace pixkey
