// HeadlessCompositor: a Wayland compositor without a screen for tests of code that talks to one
// (the desktop hook's Wayland back ends, key sending), with a runtime folder of its own.
//
// Starts: the compositor of Options::kind on the headless wlroots (or its own virtual) back end,
// with a fresh runtime folder (mode 0700) as XDG_RUNTIME_DIR, the given session bus (or none),
// and no DISPLAY or WAYLAND_DISPLAY of the test's. When the test runs as root sway (which refuses
// root) runs as the unprivileged user 65534 (setpriv), which owns the runtime folder; the test
// (root) still reaches its sockets. sway gets a configuration file of the fixture's own (no bar,
// no XWayland, one 800x600 output) plus Options::swayConfig lines.
// KWin (kwin_wayland --virtual --no-lockscreen, 1024x768, QPainter compositing) and mutter
// (--headless --virtual-monitor 1024x768 --no-x11) run as the test's own user, as a desktop and
// the program share a user in a session (KWin reads the script files the program writes); they
// need Options::busAddress and are ready once org.kde.KWin or org.gnome.Mutter.IdleMonitor is on it.
// Ready: its Wayland socket accepts connections, and for sway also its IPC socket ($SWAYSOCK).
// Stops: in the destructor or stop(), by pid (TERM, then KILL), reaped; the folder is removed.
// When the compositor is missing or does not come up, running() is false and skipReason() says
// why in a sentence; tests skip with it.
//
// environment() gives the entries a client needs (XDG_RUNTIME_DIR, WAYLAND_DISPLAY, SWAYSOCK,
// DBUS_SESSION_BUS_ADDRESS when given); exportEnvironment() sets them in this process (restored by
// the destructor) for code that only reads its own environment. clientOptions() starts
// pixkey_wayland_test_client (built beside the test programs) in the session.
//
// Threads: made and destroyed on one thread; the accessors are const and may be read anywhere.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace pixkey::test {

class HeadlessCompositor {
public:
    enum class Kind { Sway, KWin, Mutter };

    struct Options {
        Kind kind = Kind::Sway;
        // The session bus the compositor (and clients started with environment()) use; empty for none.
        std::string busAddress;
        // Extra lines for sway's configuration file.
        std::vector<std::string> swayConfig;
        std::chrono::milliseconds deadline{20000}; // for the compositor to come up
    };

    explicit HeadlessCompositor(Options options);
    HeadlessCompositor() : HeadlessCompositor(Options{}) {}
    ~HeadlessCompositor();
    HeadlessCompositor(const HeadlessCompositor &) = delete;
    HeadlessCompositor &operator=(const HeadlessCompositor &) = delete;

    bool running() const { return m_skipReason.empty(); }
    const std::string &skipReason() const { return m_skipReason; }
    Kind kind() const { return m_options.kind; }

    const std::string &waylandDisplay() const { return m_waylandDisplay; } // "wayland-1"
    const std::string &runtimeFolder() const { return m_folder; }
    const std::string &swaySocket() const { return m_swaySocket; } // empty unless sway
    // "NAME=value" entries for a client of this compositor.
    std::vector<std::string> environment() const;
    // Sets the entries of environment() in this process and removes DISPLAY (restored later).
    void exportEnvironment();
    // Stops the compositor now (a compositor that goes away under the code under test).
    void stop();
    ServiceProcess *process() { return m_process.get(); }

    // pixkey_wayland_test_client in this session: an xdg-shell window with `appId` that writes the
    // keys it receives, as keysym names one per line, to `keysFile` (none when empty). It prints
    // "mapped" on stdout once its window is shown; use Probe::outputContains("mapped").
    ServiceProcess::Options clientOptions(const std::string &appId, const std::string &keysFile = {}) const;

private:
    bool startSway();
    bool startDesktopCompositor(); // KWin or mutter
    bool waitForSockets(bool withSwaySocket);

    Options m_options;
    std::string m_folder;
    std::string m_waylandDisplay;
    std::string m_swaySocket;
    std::string m_skipReason;
    std::unique_ptr<ServiceProcess> m_process;
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved; // environment to restore
};

} // namespace pixkey::test
