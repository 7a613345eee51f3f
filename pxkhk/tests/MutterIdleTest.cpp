// The GNOME idle monitor back end against a real mutter started headless on a private session bus:
// idle time grows while nobody types and drops when the compositor's idle time is reset, and the
// monitor is asked again only when its last answer is older than the refresh interval (clock
// injected). Without the monitor on the bus the back end says so.
#include "BackendDriver.h"
#include "MutterIdleMonitor.h"

#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/test/SessionBus.h>

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using pixkey::MutterIdleMonitor;
using pixkey::test::BackendDriver;
using pixkey::test::HeadlessCompositor;
using pixkey::test::ServiceProcess;
using pixkey::test::SessionBus;

namespace {

TEST(MutterIdleMonitor, FollowsTheCompositorsIdleTimeAndAsksOnlyWhenStale)
{
    SessionBus bus;
    if (!bus.running())
        GTEST_SKIP() << bus.error();
    HeadlessCompositor::Options options;
    options.kind = HeadlessCompositor::Kind::Mutter;
    options.busAddress = bus.address();
    HeadlessCompositor mutter(options);
    if (!mutter.running())
        GTEST_SKIP() << mutter.skipReason();

    auto now = std::chrono::steady_clock::now();
    MutterIdleMonitor monitor({.busAddress = bus.address(), .refresh = 1s, .clock = [&] { return now; }});
    std::string error;
    ASSERT_TRUE(monitor.open(error)) << error;
    ASSERT_EQ(monitor.capabilities().size(), 1u);
    EXPECT_EQ(monitor.capabilities()[0].state, pixkey::CapabilityState::Working);
    BackendDriver driver;
    ASSERT_TRUE(driver.runUntil(monitor, [&] { return monitor.answers() == 1 || !monitor.usable(); }));
    ASSERT_TRUE(monitor.usable()) << monitor.failure();
    const auto first = monitor.idleTime();
    ASSERT_TRUE(first.has_value());

    // A fresh answer is given as it is, without asking again.
    now += 500ms;
    EXPECT_EQ(monitor.idleTime(), first);
    EXPECT_FALSE(monitor.asking());

    // Once it is older than the refresh interval the last value is still given at once, and the
    // compositor asked; the new answer is larger, as nobody typed in the meantime.
    ::usleep(100000);
    now += 600ms;
    EXPECT_EQ(monitor.idleTime(), first);
    EXPECT_TRUE(monitor.asking());
    ASSERT_TRUE(driver.runUntil(monitor, [&] { return monitor.answers() == 2; }));
    auto second = monitor.idleTime();
    ASSERT_TRUE(second.has_value());
    EXPECT_GT(*second, *first);

    // Let it grow well beyond the time a question takes.
    ASSERT_TRUE(driver.runUntil(monitor, [&] {
        now += 2s;
        second = monitor.idleTime();
        return second && *second >= 1500;
    }));

    // Input (here: the compositor's own reset) brings it back down.
    ServiceProcess reset("dbus-send", {"--bus=" + bus.address(), "--print-reply", "--dest=org.gnome.Mutter.IdleMonitor",
                                       "/org/gnome/Mutter/IdleMonitor/Core",
                                       "org.gnome.Mutter.IdleMonitor.ResetIdletime"});
    ASSERT_TRUE(reset.start());
    const auto status = reset.waitForExit(10s);
    ASSERT_TRUE(status.has_value());
    ASSERT_EQ(*status, 0) << reset.output();
    driver.runUntil(monitor, [&] { return !monitor.asking(); });
    now += 2s;
    monitor.idleTime();
    const int answered = monitor.answers();
    ASSERT_TRUE(driver.runUntil(monitor, [&] { return monitor.answers() == answered + 1; }));
    EXPECT_LT(*monitor.idleTime(), *second);

    // The compositor goes away: the last value stays, and the next question says it is gone.
    mutter.stop();
    now += 2s;
    monitor.idleTime();
    ASSERT_TRUE(driver.runUntil(monitor, [&] { return !monitor.usable(); }));
    EXPECT_EQ(monitor.capabilities()[0].state, pixkey::CapabilityState::Unavailable);
}

TEST(MutterIdleMonitor, WithoutTheMonitorSaysItIsUnavailable)
{
    SessionBus bus;
    if (!bus.running())
        GTEST_SKIP() << bus.error();
    MutterIdleMonitor monitor({.busAddress = bus.address(), .refresh = 250ms, .clock = {}});
    std::string error;
    ASSERT_TRUE(monitor.open(error)) << error;
    BackendDriver driver;
    ASSERT_TRUE(driver.runUntil(monitor, [&] { return !monitor.usable(); }));
    EXPECT_FALSE(monitor.idleTime().has_value());
    const auto reports = monitor.capabilities();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0].capability, pixkey::DesktopCapability::IdleTime);
    EXPECT_EQ(reports[0].state, pixkey::CapabilityState::Unavailable);
    EXPECT_NE(reports[0].how.find("not available"), std::string::npos) << reports[0].how;

    MutterIdleMonitor nowhere({.busAddress = "unix:path=/nonexistent/pixkey-bus", .refresh = 250ms, .clock = {}});
    EXPECT_FALSE(nowhere.open(error));
    EXPECT_FALSE(error.empty());
}

} // namespace
