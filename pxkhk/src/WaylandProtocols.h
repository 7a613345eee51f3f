// WaylandProtocols: a Wayland connection of the hook's own to the session's compositor, for what
// compositors offer through protocols: the active window from the foreign-toplevel list
// (zwlr_foreign_toplevel_manager_v1: app id and activated state, no process id; window ids are a
// counter of our own) and the idle time from an idle notification (ext-idle-notify-v1, or
// org_kde_kwin_idle on compositors that have only that one, such as sway 1.7), and the modifier
// row from KWin's key states (org_kde_kwin_keystate from version 5 on, which reports Alt, Shift and
// Control as pressed or not; a restricted interface KWin offers only to programs that list it).
//
// Idle time: one notification with a timeout of kIdleStepMs; once it fires, the idle time is that
// timeout plus the time since, until the compositor reports input again; before, it is 0. So it is
// exact from kIdleStepMs on and reads 0 below it.
//
// The connection's descriptor is in the hook's poll set; dispatch reads with prepare_read /
// read_events / dispatch_pending and flushes, asking for POLLOUT while a flush is unfinished. Only
// open waits, for two round trips (the globals, then the first toplevel list), bounded by
// kOpenTimeout. A protocol error or a closed connection makes it unusable; the hook drops it.
//
// Threads: hook thread only (DesktopBackend.h).
#pragma once

#include "DesktopBackend.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;
struct ext_idle_notifier_v1;
struct ext_idle_notification_v1;
struct org_kde_kwin_idle;
struct org_kde_kwin_idle_timeout;
struct org_kde_kwin_keystate;

namespace pixkey {

class WaylandProtocols : public DesktopBackend {
public:
    static constexpr std::uint32_t kIdleStepMs = 1000;
    static constexpr std::chrono::milliseconds kOpenTimeout{2000};

    struct Options {
        std::string display;       // socket name or path; empty: $WAYLAND_DISPLAY
        std::string runtimeFolder; // folder of a socket name; empty: $XDG_RUNTIME_DIR
    };
    explicit WaylandProtocols(Options options);
    ~WaylandProtocols() override;

    const char *name() const override { return "Wayland"; }
    bool open(std::string &error) override;
    bool usable() const override;
    void pollFds(std::vector<pollfd> &fds) const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    unsigned long activeWindow() const override { return m_active; }
    std::optional<std::uint32_t> idleTime() override;
    std::string applicationIdOfWindow(unsigned long window) override;

    // Which protocols the compositor offered (for the report and tests).
    bool hasToplevels() const { return m_toplevelManager != nullptr; }
    bool hasIdle() const { return m_idleNotification || m_kdeIdleTimeout; }
    bool hasModifierStates() const { return m_keyState != nullptr; }

    // Protocol callbacks (C listeners); not for other callers.
    struct Toplevel;
    void onGlobal(wl_registry *registry, std::uint32_t name, const char *interface, std::uint32_t version);
    void onToplevel(zwlr_foreign_toplevel_handle_v1 *handle);
    void onToplevelDone(Toplevel &toplevel);
    void onToplevelClosed(Toplevel &toplevel);
    void onIdle(bool idle);
    void onKeyState(std::uint32_t key, std::uint32_t state);

private:
    using Clock = std::chrono::steady_clock;

    // Reads and dispatches what has arrived; waits up to `waitMs` for it (0: not at all).
    bool pump(int waitMs);
    void flush();
    void startIdleNotification();
    void activate(unsigned long window);

    Options m_options;
    wl_display *m_display = nullptr;
    wl_registry *m_registry = nullptr;
    wl_seat *m_seat = nullptr;
    zwlr_foreign_toplevel_manager_v1 *m_toplevelManager = nullptr;
    ext_idle_notifier_v1 *m_idleNotifier = nullptr;
    ext_idle_notification_v1 *m_idleNotification = nullptr;
    org_kde_kwin_idle *m_kdeIdle = nullptr;
    org_kde_kwin_idle_timeout *m_kdeIdleTimeout = nullptr;
    org_kde_kwin_keystate *m_keyState = nullptr;
    unsigned m_heldModifiers = 0; // XDesktop::HeldModifier bits
    int m_row = 0;
    bool m_wantWrite = false;
    bool m_lost = false;

    DesktopEvents *m_events = nullptr; // while dispatch runs
    std::map<zwlr_foreign_toplevel_handle_v1 *, std::unique_ptr<Toplevel>> m_toplevels;
    unsigned long m_nextWindow = 1;
    unsigned long m_active = 0;

    bool m_idle = false;
    Clock::time_point m_idleSince;
};

} // namespace pixkey
