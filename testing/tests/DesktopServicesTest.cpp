// The private X server (with and without openbox) and the private session bus, checked with their
// own clients: Xlib for the display, dbus-send for the bus and ServiceProcess's D-Bus name probe.
#include <pixkey/test/SessionBus.h>
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/XServer.h>

// GoogleTest first: Xlib defines macros (None, Bool, Status) that clash with its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>

#include <cstdlib>
#include <filesystem>

using namespace std::chrono_literals;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
using pixkey::test::SessionBus;
using pixkey::test::XServer;
using pixkey::test::XServerEnvironment;

namespace {

const auto *const x = ::testing::AddGlobalTestEnvironment(new XServerEnvironment({.windowManager = true}));

TEST(XServer, EnvironmentRunsOpenboxAndSetsDisplay)
{
    if (!XServerEnvironment::running())
        GTEST_SKIP() << XServerEnvironment::skipReason();
    ASSERT_NE(std::getenv("DISPLAY"), nullptr);
    EXPECT_EQ(XServerEnvironment::display(), std::getenv("DISPLAY"));
    Display *display = XOpenDisplay(nullptr);
    ASSERT_NE(display, nullptr);
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", True);
    EXPECT_NE(check, 0u) << "openbox announced itself";
    XCloseDisplay(display);
}

TEST(XServer, SecondServerGetsItsOwnDisplayAndGoesAway)
{
    if (!XServerEnvironment::running())
        GTEST_SKIP() << XServerEnvironment::skipReason();
    std::string name;
    {
        XServer bare;
        ASSERT_TRUE(bare.running()) << bare.skipReason();
        name = bare.display();
        EXPECT_NE(name, XServerEnvironment::display());
        Display *display = XOpenDisplay(name.c_str());
        ASSERT_NE(display, nullptr);
        EXPECT_EQ(DisplayWidth(display, 0), 640);
        XCloseDisplay(display);
    }
    EXPECT_EQ(XOpenDisplay(name.c_str()), nullptr) << "stopped with its owner";
}

TEST(XServer, MissingBinaryGivesAClearSkipReason)
{
    const std::string path = std::getenv("PATH") ? std::getenv("PATH") : "";
    ::setenv("PATH", "/nonexistent", 1);
    XServer server;
    ::setenv("PATH", path.c_str(), 1);
    EXPECT_FALSE(server.running());
    EXPECT_EQ(server.skipReason(), "Xvfb is not installed (scripts/install-deps.sh installs it)");
}

class SessionBusTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!bus.running())
            GTEST_SKIP() << bus.error();
    }
    SessionBus bus;
};

TEST_F(SessionBusTest, IsPrivateAndAnswers)
{
    EXPECT_EQ(bus.address().rfind("unix:", 0), 0u) << bus.address();
    const char *user = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    if (user) {
        EXPECT_NE(bus.address(), user);
    }
    ServiceProcess ask("dbus-send", {"--bus=" + bus.address(), "--print-reply", "--dest=org.freedesktop.DBus",
                                     "/org/freedesktop/DBus", "org.freedesktop.DBus.ListNames"});
    ASSERT_TRUE(ask.start());
    ASSERT_TRUE(ask.waitForExit(10s));
    EXPECT_NE(ask.output().find("org.freedesktop.DBus"), std::string::npos) << ask.output();
}

TEST_F(SessionBusTest, ServiceReadyWhenItOwnsItsName)
{
    // The bus owns its own name from the start; nobody owns the other one.
    ServiceProcess idle("sleep", {"60"});
    ASSERT_TRUE(idle.start(Probe::dbusName(bus.address(), "org.freedesktop.DBus"), 20s));
    ServiceProcess waiting("sleep", {"60"});
    const auto started = waiting.start(Probe::dbusName(bus.address(), "org.example.Nobody"), 500ms);
    ASSERT_FALSE(started);
    EXPECT_NE(std::string(started.message()).find("D-Bus name org.example.Nobody is owned"), std::string::npos);
}

TEST_F(SessionBusTest, ExportedAddressIsRestored)
{
    const char *before = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = before ? before : "";
    {
        SessionBus other;
        ASSERT_TRUE(other.running()) << other.error();
        other.exportAddress();
        EXPECT_EQ(std::getenv("DBUS_SESSION_BUS_ADDRESS"), other.address());
        EXPECT_TRUE(std::filesystem::exists(other.configFile()));
    }
    const char *after = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    EXPECT_EQ(after ? std::string(after) : std::string(), saved);
    EXPECT_EQ(after != nullptr, before != nullptr);
}

} // namespace
