// What readSessionInfo learns from the session bus: the names on it and the GlobalShortcuts
// portal's interface version, which decides whether GNOME gets the portal. Against a private bus
// with portals from python-dbusmock.
#include "BackendPlan.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace std::chrono_literals;
using namespace pixkey;

namespace {

class PxkhkSessionInfo : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.running())
            GTEST_SKIP() << "no private session bus: " << bus.error();
        if (std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "python3-dbusmock is not installed";
        bus.exportAddress();
        ::setenv("XDG_SESSION_TYPE", "wayland", 1);
        ::setenv("XDG_CURRENT_DESKTOP", "ubuntu:GNOME", 1);
        ::setenv("WAYLAND_DISPLAY", "wayland-0", 1);
    }

    // A portal object from dbusmock: `arguments` after "-m dbusmock".
    ::testing::AssertionResult startPortal(std::vector<std::string> arguments)
    {
        test::ServiceProcess::Options options;
        options.program = "/usr/bin/python3";
        options.arguments = {"-m", "dbusmock"};
        options.arguments.insert(options.arguments.end(), arguments.begin(), arguments.end());
        options.environment = {bus.environmentEntry()};
        options.name = "portal";
        portal = std::make_unique<test::ServiceProcess>(options);
        return portal->start(test::Probe::dbusName(bus.address(), "org.freedesktop.portal.Desktop"), 20s);
    }

    test::SessionBus bus;
    std::unique_ptr<test::ServiceProcess> portal;
};

} // namespace

TEST_F(PxkhkSessionInfo, WithoutAPortalThereIsNoGlobalShortcutsAndGnomeBindsAKey)
{
    const SessionInfo session = readSessionInfo();
    EXPECT_EQ(session.currentDesktop, "ubuntu:GNOME");
    EXPECT_EQ(session.busAddress, bus.address());
    EXPECT_TRUE(session.busNames.count("org.freedesktop.DBus"));
    EXPECT_FALSE(session.globalShortcutsVersion.has_value());
    EXPECT_FALSE(planBackends(session).candidates.count(DesktopCapability::SwitchHotkey));
}

TEST_F(PxkhkSessionInfo, APortalWithoutTheInterfaceCountsAsNone)
{
    ASSERT_TRUE(startPortal({"org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                             "org.freedesktop.portal.Settings"}));
    const SessionInfo session = readSessionInfo();
    EXPECT_TRUE(session.busNames.count("org.freedesktop.portal.Desktop"));
    EXPECT_FALSE(session.globalShortcutsVersion.has_value());
}

TEST_F(PxkhkSessionInfo, TheInterfaceVersionIsReadAndDecidesForGnome)
{
    ASSERT_TRUE(startPortal({"--template", PXKHK_PORTAL_TEMPLATES "/global_shortcuts.py"}));
    const SessionInfo session = readSessionInfo();
    ASSERT_TRUE(session.globalShortcutsVersion.has_value());
    EXPECT_EQ(*session.globalShortcutsVersion, 1u);
    // Version 1 is a portal older than GNOME 48's: GNOME does not use it; KDE would.
    EXPECT_FALSE(planBackends(session).candidates.count(DesktopCapability::SwitchHotkey));
    SessionInfo kde = session;
    kde.currentDesktop = "KDE";
    EXPECT_EQ(planBackends(kde).candidates[DesktopCapability::SwitchHotkey].front(), BackendKind::GlobalShortcutsPortal);
}
