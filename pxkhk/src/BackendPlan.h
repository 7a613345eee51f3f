// BackendPlan: which back ends the hook layer tries in a session, capability by capability, decided
// from the session's environment and the D-Bus names present. A pure function, so that every
// desktop family's choice is tested without that desktop.
//
// Threads: plain values; planBackends may run on any thread. makeBackend's result belongs to the
// hook thread (DesktopBackend.h).
#pragma once

#include "DesktopBackend.h"

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace pixkey {

enum class BackendKind {
    X11,                   // an X session, or X programs only when nothing better is there
    SwayIpc,               // i3-compatible IPC of sway ($SWAYSOCK): focus with the process id
    HyprlandIpc,           // Hyprland's event socket ($HYPRLAND_INSTANCE_SIGNATURE)
    WaylandProtocols,      // our own Wayland connection: foreign toplevels, idle notification, key state
    KWinScript,            // a script loaded into KWin that calls our D-Bus service on activation
    GnomeShellExtension,   // the extension shipped with the program (focus, modifiers)
    MutterIdleMonitor,     // org.gnome.Mutter.IdleMonitor
    GlobalShortcutsPortal, // org.freedesktop.portal.GlobalShortcuts
};

// What decides the plan: read from the environment and the session bus by readSessionInfo.
struct SessionInfo {
    std::string sessionType;    // $XDG_SESSION_TYPE: "x11", "wayland", "tty", or empty
    std::string currentDesktop; // $XDG_CURRENT_DESKTOP, e.g. "GNOME", "KDE", "sway", "Hyprland"
    std::string display;        // $DISPLAY (X11 or XWayland)
    std::string waylandDisplay; // $WAYLAND_DISPLAY
    std::string swaySocket;     // $SWAYSOCK
    std::string hyprlandSignature; // $HYPRLAND_INSTANCE_SIGNATURE
    std::set<std::string> busNames; // well-known names on the session bus (empty when no bus)
};

struct BackendPlan {
    // For each capability, the back ends to try, best first. A capability without an entry is
    // unavailable in the session.
    std::map<DesktopCapability, std::vector<BackendKind>> candidates;
    // Every kind named above, once, in the order to open them.
    std::vector<BackendKind> kinds() const;
};

BackendPlan planBackends(const SessionInfo &session);

// Reads the environment, and the names on the session bus when one is reachable (bounded in time).
SessionInfo readSessionInfo();

struct BackendOptions {
    std::string displayName; // X display, empty for $DISPLAY
};

// A new, unopened back end of `kind`.
std::unique_ptr<DesktopBackend> makeBackend(BackendKind kind, const BackendOptions &options);

} // namespace pixkey
