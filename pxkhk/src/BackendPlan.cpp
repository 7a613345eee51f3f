#include "BackendPlan.h"

#include "GlobalShortcutsPortal.h"

#include "GnomeShellExtension.h"
#include "HyprlandIpc.h"
#include "KWinScript.h"
#include "MutterIdleMonitor.h"
#include "SdBus.h"
#include "SwayIpc.h"
#include "WaylandProtocols.h"
#include "XDesktop.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>

namespace pixkey {

namespace {

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// Whether colon-separated $XDG_CURRENT_DESKTOP names `name` (case does not matter).
bool desktopNames(const std::string &currentDesktop, const std::string &name)
{
    const std::string list = lower(currentDesktop), wanted = lower(name);
    std::size_t start = 0;
    while (start <= list.size()) {
        const std::size_t end = std::min(list.find(':', start), list.size());
        if (list.compare(start, end - start, wanted) == 0)
            return true;
        start = end + 1;
    }
    return false;
}

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

CapabilityReport unavailable(DesktopCapability capability, std::string how, std::string step = {})
{
    return CapabilityReport{capability, CapabilityState::Unavailable, std::move(how), std::move(step)};
}

constexpr const char *kRowsFallback = "choose the row from the tray menu's Row submenu or with `pixkeyctl row NAME`";

} // namespace

std::vector<BackendKind> BackendPlan::kinds() const
{
    std::vector<BackendKind> result;
    for (const DesktopCapability capability : kHookCapabilities) {
        const auto it = candidates.find(capability);
        if (it == candidates.end())
            continue;
        for (const BackendKind kind : it->second)
            if (std::find(result.begin(), result.end(), kind) == result.end())
                result.push_back(kind);
    }
    return result;
}

DesktopFamily desktopFamily(const SessionInfo &session)
{
    const std::string type = lower(session.sessionType);
    bool wayland = type == "wayland";
    if (type == "x11")
        wayland = false;
    else if (!wayland)
        wayland = !session.waylandDisplay.empty(); // "tty" or unset: whatever display there is
    if (!wayland)
        return session.display.empty() ? DesktopFamily::None : DesktopFamily::X11;
    if (session.waylandDisplay.empty() && session.swaySocket.empty() && session.hyprlandSignature.empty())
        return session.display.empty() ? DesktopFamily::None : DesktopFamily::X11;
    const std::string &desktop = session.currentDesktop;
    if (!session.hyprlandSignature.empty() || desktopNames(desktop, "Hyprland"))
        return DesktopFamily::Hyprland;
    if (!session.swaySocket.empty() || desktopNames(desktop, "sway"))
        return DesktopFamily::Sway;
    if (desktopNames(desktop, "KDE"))
        return DesktopFamily::Kde;
    if (desktopNames(desktop, "GNOME"))
        return DesktopFamily::Gnome;
    return DesktopFamily::OtherWayland;
}

const char *desktopFamilyName(DesktopFamily family)
{
    switch (family) {
    case DesktopFamily::None:
        return "no desktop";
    case DesktopFamily::X11:
        return "X11";
    case DesktopFamily::Gnome:
        return "GNOME";
    case DesktopFamily::Kde:
        return "KDE Plasma";
    case DesktopFamily::Sway:
        return "sway";
    case DesktopFamily::Hyprland:
        return "Hyprland";
    case DesktopFamily::OtherWayland:
        return "Wayland";
    }
    return "?";
}

BackendPlan planBackends(const SessionInfo &session)
{
    using C = DesktopCapability;
    using K = BackendKind;
    BackendPlan plan;
    plan.family = desktopFamily(session);
    auto &candidates = plan.candidates;
    auto &missing = plan.missing;

    if (plan.family == DesktopFamily::None) {
        const char *why = "no X display and no Wayland compositor in this session";
        for (const C capability : kHookCapabilities)
            missing[capability] = unavailable(capability, why);
        return plan;
    }
    if (plan.family == DesktopFamily::X11) {
        for (const C capability : kHookCapabilities)
            candidates[capability] = {K::X11};
        const char *why = "the X display cannot be opened";
        missing[C::ActiveWindow] = unavailable(C::ActiveWindow, why);
        missing[C::SwitchHotkey] = unavailable(C::SwitchHotkey, why);
        missing[C::ModifierRows] = unavailable(C::ModifierRows, why, kRowsFallback);
        missing[C::IdleTime] = unavailable(C::IdleTime, why);
        return plan;
    }

    // A Wayland session. X (XWayland) sees only the keys typed into X programs: it serves the
    // hotkey and the rows when nothing else does, never the active window, and not the idle time.
    plan.xwaylandOnly = true;
    const bool xwayland = !session.display.empty();
    const bool portal = session.globalShortcutsVersion.has_value();
    const std::string name = desktopFamilyName(plan.family);
    const std::string bindKey = "bind a key to `pixkeyctl switch-layout` in ";

    switch (plan.family) {
    case DesktopFamily::Gnome:
        candidates[C::ActiveWindow] = {K::GnomeShellExtension};
        candidates[C::ModifierRows] = {K::GnomeShellExtension};
        candidates[C::IdleTime] = {K::MutterIdleMonitor};
        // GNOME's portal answers GlobalShortcuts from GNOME 48 on, where the interface is at
        // version 2; an unreadable version counts the interface's presence.
        if (portal && (*session.globalShortcutsVersion == 0 || *session.globalShortcutsVersion >= 2))
            candidates[C::SwitchHotkey] = {K::GlobalShortcutsPortal};
        missing[C::ActiveWindow] = unavailable(C::ActiveWindow, "GNOME Shell offers no focused-window interface",
                                               "enable the program's GNOME Shell extension (gnome-extensions enable), then log in again");
        missing[C::SwitchHotkey] = unavailable(C::SwitchHotkey, "GNOME offers global shortcuts to programs only from version 48",
                                               bindKey + "Settings > Keyboard > Custom Shortcuts");
        missing[C::ModifierRows] = unavailable(C::ModifierRows, "GNOME Shell tells other programs the held modifiers only through the program's extension",
                                               kRowsFallback);
        missing[C::IdleTime] = unavailable(C::IdleTime, "GNOME Shell's idle monitor does not answer");
        break;
    case DesktopFamily::Kde:
        candidates[C::ActiveWindow] = {K::KWinScript};
        candidates[C::ModifierRows] = {K::WaylandProtocols};
        candidates[C::IdleTime] = {K::WaylandProtocols};
        if (portal)
            candidates[C::SwitchHotkey] = {K::GlobalShortcutsPortal};
        missing[C::ActiveWindow] = unavailable(C::ActiveWindow, "KWin does not take the program's focus script over D-Bus");
        missing[C::SwitchHotkey] = unavailable(C::SwitchHotkey, "the GlobalShortcuts portal does not run",
                                               bindKey + "System Settings > Shortcuts");
        missing[C::ModifierRows] = unavailable(C::ModifierRows, "KWin does not offer the held modifiers (org_kde_kwin_keystate) to the program",
                                               kRowsFallback);
        missing[C::IdleTime] = unavailable(C::IdleTime, "KWin offers no idle notification");
        break;
    case DesktopFamily::Sway:
    case DesktopFamily::Hyprland:
    case DesktopFamily::OtherWayland: {
        if (plan.family == DesktopFamily::Sway)
            candidates[C::ActiveWindow] = {K::SwayIpc, K::WaylandProtocols};
        else if (plan.family == DesktopFamily::Hyprland)
            candidates[C::ActiveWindow] = {K::HyprlandIpc, K::WaylandProtocols};
        else
            candidates[C::ActiveWindow] = {K::WaylandProtocols};
        candidates[C::ModifierRows] = {K::WaylandProtocols};
        candidates[C::IdleTime] = {K::WaylandProtocols};
        if (portal)
            candidates[C::SwitchHotkey] = {K::GlobalShortcutsPortal};
        missing[C::ActiveWindow] =
            unavailable(C::ActiveWindow, "the compositor offers no focus events to the program (no IPC socket, no foreign-toplevel protocol)");
        const std::string hotkeyStep = plan.family == DesktopFamily::Sway       ? bindKey + "sway's configuration (bindsym)"
                                       : plan.family == DesktopFamily::Hyprland ? bindKey + "hyprland.conf (bind = ..., exec, ...)"
                                                                                : bindKey + "the compositor's key bindings";
        missing[C::SwitchHotkey] = unavailable(C::SwitchHotkey, name + " offers no global shortcut portal", hotkeyStep);
        missing[C::ModifierRows] = unavailable(C::ModifierRows, name + " does not tell other programs which modifier keys are held",
                                               kRowsFallback);
        missing[C::IdleTime] = unavailable(C::IdleTime, "the compositor offers no idle notification (ext-idle-notify-v1, org_kde_kwin_idle)");
        break;
    }
    case DesktopFamily::None:
    case DesktopFamily::X11:
        break;
    }
    if (xwayland) {
        candidates[C::SwitchHotkey].push_back(K::X11);
        candidates[C::ModifierRows].push_back(K::X11);
    }
    return plan;
}

SessionInfo readSessionInfo()
{
    SessionInfo session;
    session.sessionType = environment("XDG_SESSION_TYPE");
    session.currentDesktop = environment("XDG_CURRENT_DESKTOP");
    session.display = environment("DISPLAY");
    session.waylandDisplay = environment("WAYLAND_DISPLAY");
    session.swaySocket = environment("SWAYSOCK");
    session.hyprlandSignature = environment("HYPRLAND_INSTANCE_SIGNATURE");
    session.busAddress = environment("DBUS_SESSION_BUS_ADDRESS");
    session.runtimeFolder = environment("XDG_RUNTIME_DIR");
    if (session.busAddress.empty())
        return session;

    // Once, at start, on the hook thread: short blocking calls, each bounded.
    std::string error;
    sdbus::BusPtr bus = sdbus::openSessionBus(error, session.busAddress);
    if (!bus)
        return session;
    sd_bus_set_method_call_timeout(bus.get(), 1000 * 1000); // microseconds
    for (const char *method : {"ListNames", "ListActivatableNames"}) {
        sd_bus_error callError = SD_BUS_ERROR_NULL;
        sd_bus_message *reply = nullptr;
        if (sd_bus_call_method(bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", method,
                               &callError, &reply, "")
            >= 0) {
            sdbus::MessagePtr owned(reply);
            if (sd_bus_message_enter_container(reply, 'a', "s") > 0) {
                const char *name = nullptr;
                while (sd_bus_message_read(reply, "s", &name) > 0)
                    if (name && name[0] != ':')
                        session.busNames.insert(name);
            }
        }
        sd_bus_error_free(&callError);
    }
    if (session.busNames.count("org.freedesktop.portal.Desktop")) {
        sd_bus_error callError = SD_BUS_ERROR_NULL;
        sd_bus_message *reply = nullptr;
        const int r = sd_bus_get_property(bus.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                          "org.freedesktop.portal.GlobalShortcuts", "version", &callError, &reply, "u");
        if (r >= 0) {
            sdbus::MessagePtr owned(reply);
            std::uint32_t version = 0;
            session.globalShortcutsVersion = sd_bus_message_read(reply, "u", &version) > 0 ? version : 0u;
        } else if (sd_bus_error_has_name(&callError, "org.freedesktop.DBus.Error.Timeout")
                   || sd_bus_error_has_name(&callError, "org.freedesktop.DBus.Error.NoReply") || r == -ETIMEDOUT) {
            session.globalShortcutsVersion = 0; // the portal is there but slow: go by its presence
        }
        // Any other error (unknown interface or property): the portal has no GlobalShortcuts.
        sd_bus_error_free(&callError);
    }
    return session;
}

BackendOptions backendOptions(const SessionInfo &session, const BackendPlan &plan)
{
    BackendOptions options;
    options.xwaylandOnly = plan.xwaylandOnly;
    options.waylandDisplay = session.waylandDisplay;
    options.runtimeFolder = session.runtimeFolder;
    options.swaySocket = session.swaySocket;
    options.hyprlandSignature = session.hyprlandSignature;
    options.busAddress = session.busAddress;
    return options;
}

std::unique_ptr<DesktopBackend> makeBackend(BackendKind kind, const BackendOptions &options)
{
    switch (kind) {
    case BackendKind::X11:
        return std::make_unique<XDesktop>(options.displayName, options.xwaylandOnly);
    case BackendKind::SwayIpc:
        return std::make_unique<SwayIpc>(options.swaySocket);
    case BackendKind::HyprlandIpc:
        return std::make_unique<HyprlandIpc>(
            HyprlandIpc::Options{options.hyprlandSignature, options.runtimeFolder, options.hyprlandFolder});
    case BackendKind::WaylandProtocols:
        return std::make_unique<WaylandProtocols>(WaylandProtocols::Options{options.waylandDisplay, options.runtimeFolder});
    case BackendKind::KWinScript:
        return std::make_unique<KWinScript>(KWinScript::Options{options.busAddress, options.peerFolder});
    case BackendKind::GnomeShellExtension: {
        GnomeShellExtension::Options extension;
        extension.busAddress = options.busAddress;
        return std::make_unique<GnomeShellExtension>(extension);
    }
    case BackendKind::MutterIdleMonitor: {
        MutterIdleMonitor::Options monitor;
        monitor.busAddress = options.busAddress;
        return std::make_unique<MutterIdleMonitor>(monitor);
    }
    case BackendKind::GlobalShortcutsPortal: {
        GlobalShortcutsPortal::Options portal;
        portal.busAddress = options.busAddress;
        return std::make_unique<GlobalShortcutsPortal>(portal);
    }
    }
    return nullptr;
}

} // namespace pixkey
