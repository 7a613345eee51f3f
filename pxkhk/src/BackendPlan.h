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
#include <optional>
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
    std::set<std::string> busNames; // well-known names on the session bus, owned or activatable (empty when no bus)
    std::string busAddress;     // $DBUS_SESSION_BUS_ADDRESS
    std::string runtimeFolder;  // $XDG_RUNTIME_DIR
    // The `version` property of the portal's org.freedesktop.portal.GlobalShortcuts interface:
    // empty when the portal has no such interface (or no portal runs), 0 when the interface is
    // there but its version could not be read.
    std::optional<unsigned> globalShortcutsVersion;
};

// The desktop family a session belongs to, as the plan sees it.
enum class DesktopFamily { None, X11, Gnome, Kde, Sway, Hyprland, OtherWayland };
DesktopFamily desktopFamily(const SessionInfo &session);
const char *desktopFamilyName(DesktopFamily family); // "no desktop", "X11", "GNOME", "KDE Plasma", ...

struct BackendPlan {
    // For each capability, the back ends to try, best first. A capability without an entry is
    // unavailable in the session.
    std::map<DesktopCapability, std::vector<BackendKind>> candidates;
    // For every capability the hook answers, what the report says when none of the candidates
    // provides it: why, and the fallback the user has (Unavailable).
    std::map<DesktopCapability, CapabilityReport> missing;
    DesktopFamily family = DesktopFamily::None;
    // In a Wayland session, the X back end sees X programs only (XWayland): it never answers for
    // the active window, and its reports say what it is limited to.
    bool xwaylandOnly = false;
    // Every kind named above, once, in the order to open them.
    std::vector<BackendKind> kinds() const;
};

BackendPlan planBackends(const SessionInfo &session);

// Reads the environment, and the names on the session bus when one is reachable (bounded in time).
SessionInfo readSessionInfo();

// The capabilities the hook answers through back ends, in report order (sending keys is the
// Utility library's).
inline constexpr DesktopCapability kHookCapabilities[] = {DesktopCapability::ActiveWindow, DesktopCapability::SwitchHotkey,
                                                          DesktopCapability::ModifierRows, DesktopCapability::IdleTime};

struct BackendOptions {
    std::string displayName;       // X display, empty for $DISPLAY
    bool xwaylandOnly = false;     // the X display is XWayland in a Wayland session (BackendPlan)
    std::string waylandDisplay;    // empty for $WAYLAND_DISPLAY
    std::string runtimeFolder;     // $XDG_RUNTIME_DIR (Wayland and Hyprland sockets)
    std::string swaySocket;        // empty for $SWAYSOCK
    std::string hyprlandSignature; // empty for $HYPRLAND_INSTANCE_SIGNATURE
    std::string hyprlandFolder;    // the folder of Hyprland's sockets; empty to look in the usual places
    std::string busAddress;        // empty for $DBUS_SESSION_BUS_ADDRESS
    std::string peerFolder;        // the hook's own runtime folder (files a back end leaves there)
};

BackendOptions backendOptions(const SessionInfo &session, const BackendPlan &plan);

// A new, unopened back end of `kind`; null when this build has none of that kind.
std::unique_ptr<DesktopBackend> makeBackend(BackendKind kind, const BackendOptions &options);

} // namespace pixkey
