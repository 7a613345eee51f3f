// Which back ends the hook tries per desktop family, from the session's environment alone.
#include "BackendPlan.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace pixkey;
using C = DesktopCapability;
using K = BackendKind;

namespace {

SessionInfo wayland(const std::string &desktop, bool xwayland = true)
{
    SessionInfo session;
    session.sessionType = "wayland";
    session.currentDesktop = desktop;
    session.waylandDisplay = "wayland-0";
    if (xwayland)
        session.display = ":0";
    return session;
}

std::vector<K> candidates(const BackendPlan &plan, C capability)
{
    const auto it = plan.candidates.find(capability);
    return it == plan.candidates.end() ? std::vector<K>{} : it->second;
}

bool hasX(const BackendPlan &plan, C capability)
{
    const auto list = candidates(plan, capability);
    return std::find(list.begin(), list.end(), K::X11) != list.end();
}

// Every capability the hook answers has a report for when nothing provides it.
void expectMissingReports(const BackendPlan &plan)
{
    for (const C capability : kHookCapabilities) {
        const auto it = plan.missing.find(capability);
        ASSERT_NE(it, plan.missing.end()) << capabilityName(capability);
        EXPECT_EQ(it->second.state, CapabilityState::Unavailable);
        EXPECT_FALSE(it->second.how.empty()) << capabilityName(capability);
    }
}

} // namespace

TEST(PxkhkBackendPlan, AnXSessionUsesXForEverything)
{
    SessionInfo session;
    session.sessionType = "x11";
    session.display = ":1";
    session.waylandDisplay = "wayland-0"; // a nested compositor does not make it a Wayland session
    const BackendPlan plan = planBackends(session);
    EXPECT_EQ(plan.family, DesktopFamily::X11);
    EXPECT_FALSE(plan.xwaylandOnly);
    for (const C capability : kHookCapabilities)
        EXPECT_EQ(candidates(plan, capability), std::vector<K>{K::X11}) << capabilityName(capability);
    EXPECT_EQ(plan.kinds(), std::vector<K>{K::X11});
    expectMissingReports(plan);

    // Started from a terminal without a session type: the display there is decides.
    SessionInfo bare;
    bare.display = ":1";
    EXPECT_EQ(planBackends(bare).family, DesktopFamily::X11);
}

TEST(PxkhkBackendPlan, WithoutAnyDisplayNothingIsTriedAndEverythingSaysWhy)
{
    for (const std::string type : {"", "tty", "wayland", "x11"}) {
        SessionInfo session;
        session.sessionType = type;
        const BackendPlan plan = planBackends(session);
        EXPECT_EQ(plan.family, DesktopFamily::None) << type;
        EXPECT_TRUE(plan.candidates.empty()) << type;
        EXPECT_TRUE(plan.kinds().empty()) << type;
        expectMissingReports(plan);
    }
}

TEST(PxkhkBackendPlan, GnomeUsesTheExtensionAndTheIdleMonitorAndThePortalOnlyFromVersion48)
{
    SessionInfo gnome43 = wayland("ubuntu:GNOME"); // no GlobalShortcuts interface on the portal
    gnome43.busNames = {"org.freedesktop.portal.Desktop", "org.gnome.Shell"};
    BackendPlan plan = planBackends(gnome43);
    EXPECT_EQ(plan.family, DesktopFamily::Gnome);
    EXPECT_EQ(candidates(plan, C::ActiveWindow), std::vector<K>{K::GnomeShellExtension});
    EXPECT_EQ(candidates(plan, C::IdleTime), std::vector<K>{K::MutterIdleMonitor});
    EXPECT_EQ(candidates(plan, C::ModifierRows), (std::vector<K>{K::GnomeShellExtension, K::X11}));
    EXPECT_EQ(candidates(plan, C::SwitchHotkey), std::vector<K>{K::X11}) << "XWayland's grab as the last resort";
    EXPECT_NE(plan.missing[C::SwitchHotkey].step.find("pixkeyctl switch-layout"), std::string::npos);
    EXPECT_NE(plan.missing[C::ModifierRows].step.find("pixkeyctl row"), std::string::npos);
    expectMissingReports(plan);

    // GNOME 46/47 with a portal at interface version 1 (another desktop's back end): still none.
    SessionInfo gnome47 = gnome43;
    gnome47.globalShortcutsVersion = 1;
    EXPECT_EQ(candidates(planBackends(gnome47), C::SwitchHotkey), std::vector<K>{K::X11});

    SessionInfo gnome48 = gnome43;
    gnome48.globalShortcutsVersion = 2;
    EXPECT_EQ(candidates(planBackends(gnome48), C::SwitchHotkey), (std::vector<K>{K::GlobalShortcutsPortal, K::X11}));

    // The interface is there but its version could not be read: its presence decides.
    SessionInfo unreadable = gnome43;
    unreadable.globalShortcutsVersion = 0;
    EXPECT_EQ(candidates(planBackends(unreadable), C::SwitchHotkey), (std::vector<K>{K::GlobalShortcutsPortal, K::X11}));

    // Without XWayland nothing serves the hotkey before 48.
    EXPECT_TRUE(candidates(planBackends(wayland("GNOME", false)), C::SwitchHotkey).empty());
}

TEST(PxkhkBackendPlan, KdeUsesTheKWinScriptThePortalAndTheProtocols)
{
    SessionInfo session = wayland("KDE");
    session.globalShortcutsVersion = 1;
    const BackendPlan plan = planBackends(session);
    EXPECT_EQ(plan.family, DesktopFamily::Kde);
    EXPECT_EQ(candidates(plan, C::ActiveWindow), std::vector<K>{K::KWinScript});
    EXPECT_EQ(candidates(plan, C::SwitchHotkey), (std::vector<K>{K::GlobalShortcutsPortal, K::X11}));
    EXPECT_EQ(candidates(plan, C::ModifierRows), (std::vector<K>{K::WaylandProtocols, K::X11}));
    EXPECT_EQ(candidates(plan, C::IdleTime), std::vector<K>{K::WaylandProtocols});
    // Each kind is opened once, in the order of the capabilities.
    EXPECT_EQ(plan.kinds(), (std::vector<K>{K::KWinScript, K::GlobalShortcutsPortal, K::X11, K::WaylandProtocols}));
    expectMissingReports(plan);
}

TEST(PxkhkBackendPlan, WlrootsCompositorsUseTheirIpcFirstAndTheProtocolsOtherwise)
{
    // sway, found by its socket even when the desktop name is not set.
    SessionInfo sway = wayland("", false);
    sway.swaySocket = "/run/user/1000/sway-ipc.1000.42.sock";
    BackendPlan plan = planBackends(sway);
    EXPECT_EQ(plan.family, DesktopFamily::Sway);
    EXPECT_EQ(candidates(plan, C::ActiveWindow), (std::vector<K>{K::SwayIpc, K::WaylandProtocols}));
    EXPECT_EQ(candidates(plan, C::IdleTime), std::vector<K>{K::WaylandProtocols});
    EXPECT_TRUE(candidates(plan, C::SwitchHotkey).empty()) << "sway has no portal and there is no XWayland";
    EXPECT_NE(plan.missing[C::SwitchHotkey].step.find("bindsym"), std::string::npos);
    expectMissingReports(plan);

    SessionInfo hyprland = wayland("Hyprland");
    hyprland.hyprlandSignature = "v0.40_1700000000";
    hyprland.globalShortcutsVersion = 1;
    plan = planBackends(hyprland);
    EXPECT_EQ(plan.family, DesktopFamily::Hyprland);
    EXPECT_EQ(candidates(plan, C::ActiveWindow), (std::vector<K>{K::HyprlandIpc, K::WaylandProtocols}));
    EXPECT_EQ(candidates(plan, C::SwitchHotkey), (std::vector<K>{K::GlobalShortcutsPortal, K::X11}));

    const SessionInfo river = wayland("river");
    plan = planBackends(river);
    EXPECT_EQ(plan.family, DesktopFamily::OtherWayland);
    EXPECT_EQ(candidates(plan, C::ActiveWindow), std::vector<K>{K::WaylandProtocols});
    EXPECT_EQ(candidates(plan, C::IdleTime), std::vector<K>{K::WaylandProtocols});
    expectMissingReports(plan);
}

TEST(PxkhkBackendPlan, OnWaylandXNeverAnswersForTheActiveWindowOrTheIdleTime)
{
    for (const std::string desktop : {"GNOME", "KDE", "sway", "Hyprland", "river", ""}) {
        SessionInfo session = wayland(desktop);
        session.globalShortcutsVersion = 2;
        const BackendPlan plan = planBackends(session);
        EXPECT_TRUE(plan.xwaylandOnly) << desktop;
        EXPECT_FALSE(hasX(plan, C::ActiveWindow)) << desktop;
        EXPECT_FALSE(hasX(plan, C::IdleTime)) << desktop;
        EXPECT_TRUE(hasX(plan, C::SwitchHotkey)) << desktop;
        EXPECT_EQ(candidates(plan, C::SwitchHotkey).back(), K::X11) << desktop << ": only where nothing else serves";
    }
    // The session type is missing (started by hand) but a compositor is there.
    SessionInfo bare = wayland("sway");
    bare.sessionType.clear();
    EXPECT_EQ(planBackends(bare).family, DesktopFamily::Sway);
}
