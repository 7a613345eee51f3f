// DesktopHook: the desktop hook layer of one configurator process. It reports the active window,
// the modifier row and the switch hotkey to a HookSink, answers the idle time and the process behind
// a window, and keeps the running configurators in touch with each other.
//
// Desktop side: back ends chosen for the session at start, each on connections of its own: on X11
// the X server (_NET_ACTIVE_WINDOW, XInput2 raw keys, XGrabKey grabs, XScreenSaver); on Wayland what
// the desktop offers (sway's or Hyprland's IPC, a KWin script, the GNOME Shell extension, the
// GlobalShortcuts portal, the foreign-toplevel and idle protocols, KWin's key states). The first
// back end that provides a capability answers for it; capabilities() says which and how, and each
// capability nothing provides gets one line on stderr. Without any (no display, a console) the
// desktop side is off, desktopAvailable() is false, and everything else works.
//
// Peer side: every hooked configurator listens on a local socket in the runtime folder
// ($XDG_RUNTIME_DIR/pixkey, or /tmp/pixkey-UID when XDG_RUNTIME_DIR is unset). The folder must be
// a real directory owned by this user with mode 0700 (it is created so when missing); otherwise
// the peer side is off and peersAvailable() is false. Only processes of the same user are talked
// to (checked on both ends). One message per connection, in a framed form with a version byte,
// read with a time-out and a length limit, so a broken peer cannot crash or stall the receiver.
//
// Threads: the object runs one hook thread of its own (started by the constructor, joined by the
// destructor) that does all desktop and socket reading and calls the sink. Every public method may be
// called from any thread ([any-thread]); Hook, UnHook and the destructor must not be called from
// inside a sink callback (Hook and UnHook refuse there, with a line on stderr). Methods that need
// a desktop back end hand their work to the hook thread and wait for it at most
// Options::requestTimeout.
#pragma once

#include "DesktopCapabilities.h"
#include "HookSink.h"
#include "PeerMessage.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace pixkey {

class DesktopHook {
public:
    struct Options {
        // Folder of the peer sockets; empty for the default above. Created (0700) when missing.
        std::string runtimeFolder;
        // X display name; empty to take the session from the environment. A name given makes it an
        // X session on that display, whatever else the environment says.
        std::string displayName;
        // False keeps the desktop side off without trying a display (peers only).
        bool useDisplay = true;
        // How long a receiver waits for the rest of a started message, and how long a sender
        // waits for a peer to take one.
        std::chrono::milliseconds peerTimeout{1000};
        // How long a caller waits for the hook thread to answer a desktop query.
        std::chrono::milliseconds requestTimeout{2000};
    };

    // Hotkey modifier flags (the stored form of the switch hotkey).
    enum Modifier : std::uint16_t { Alt = 1, Ctrl = 2, Shift = 4, Win = 8 };

    DesktopHook();
    explicit DesktopHook(Options options);
    ~DesktopHook(); // unhooks, releases the grabs, joins the hook thread
    DesktopHook(const DesktopHook &) = delete;
    DesktopHook &operator=(const DesktopHook &) = delete;

    // Starts delivering desktop events and peer messages to `sink` and makes this process a
    // running configurator (its socket appears in the runtime folder). The first Hook (and the
    // first after UnHook) at once reports the window in front as the foreground window, so a
    // change made before the hook is not lost. A second Hook replaces the sink. Returns false when the peer socket could not be set up (untrusted folder, ...); the
    // desktop events are delivered anyway.
    bool Hook(HookSink *sink);
    // Stops delivery (no callback runs after it returns) and removes this configurator's socket.
    void UnHook();

    // Sends `message` to every other running configurator; the own one never receives it.
    // Returns how many took it. A path longer than PeerMessage::kMaxPathLength or with a NUL byte
    // is not sent (returns 0).
    int BroadcastMessage(const PeerMessage &message);
    int BroadcastMessage(std::uint32_t message, std::int64_t wParam, std::int64_t lParam,
                         std::string_view path = {});

    // Running configurators, this one included while it is hooked. Sockets left by a copy that
    // died are removed on the way.
    int GetConfiguratorsCount();

    // Asks every other running configurator to show its window (HookSink::onShowWindow). Returns
    // how many took the request.
    int ShowConfiguratorWindows();

    // Registers hotkey `id`: virtual-key code `key` with the modifier set `modifiers` (Alt 1,
    // Ctrl 2, Shift 4, Win 8); on X grabbed on the root window whatever the NumLock and CapsLock
    // states, on Wayland bound through the GlobalShortcuts portal. Replaces an earlier
    // registration of the id. False when nothing in the session offers hotkeys, when the key has no
    // key on the keyboard, or when the X server refuses (another program holds the combination);
    // nothing stays grabbed then.
    bool RegisterHotkey(int id, std::uint16_t modifiers, std::uint16_t key);
    // Releases hotkey `id`. False when it was not registered (or no display).
    bool UnregisterHotkey(int id);

    // Milliseconds since the last user input; empty when the session offers no idle time. (From a
    // Wayland idle notification it reads 0 below one second.)
    std::optional<std::uint32_t> idleTime();

    // The process id behind a window (X: _NET_WM_PID; sway, Hyprland, KWin, GNOME: from the
    // compositor), 0 when unknown (foreign toplevels carry none).
    int processIdOfWindow(unsigned long window);
    // The executable file name (no folder) of the process behind a window; when the process is
    // unknown (Wayland toplevels seen through the compositor carry no process id), the window's
    // application id instead; empty when neither is known.
    std::string executableNameOfWindow(unsigned long window);
    // The application id of a window: its Wayland app id, or the class part of an X window's
    // WM_CLASS; empty when unknown.
    std::string applicationIdOfWindow(unsigned long window);
    // The executable file name (no folder) of process `pid`: basename of /proc/PID/exe; empty
    // when it cannot be read (process gone, another user's process, pid <= 0).
    static std::string executableNameOfProcess(int pid);

    // What the desktop side does in this session, one report for each of active window, switch
    // hotkey, modifier rows and idle time (sending keys is the Utility library's), saying what
    // provides it or why it is missing. Waits for the hook thread at most Options::requestTimeout.
    CapabilityReports capabilities() const;

    // Whether the desktop side runs (at least one desktop back end is open).
    bool desktopAvailable() const;
    // Whether the runtime folder is trusted and the peer side works.
    bool peersAvailable() const;
    // The runtime folder in use (also when it was refused).
    std::string runtimeFolder() const;

private:
    class Impl;
    std::unique_ptr<Impl> m_impl;
};

} // namespace pixkey
