// The GNOME Shell extension back end against a stand-in of the extension's D-Bus interface
// (python-dbusmock with the template in gnome/), since GNOME Shell is too large for the CI machine:
// the step it names before the extension runs, focus and rows while it runs and after it stops,
// signals from anyone but the extension ignored, and messages of the wrong shape survived.
#include "BackendDriver.h"
#include "GnomeShellExtension.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace std::chrono_literals;
using pixkey::CapabilityState;
using pixkey::DesktopCapability;
using pixkey::GnomeShellExtension;
using pixkey::test::BackendDriver;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
using pixkey::test::SessionBus;

namespace {

constexpr const char *kPython = "/usr/bin/python3";

bool haveDbusmock()
{
    ServiceProcess check(kPython, {"-c", "import dbusmock"});
    if (!check.start())
        return false;
    const auto status = check.waitForExit(20s);
    return status && *status == 0;
}

class GnomeExtensionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!m_bus.running())
            GTEST_SKIP() << m_bus.error();
        if (!haveDbusmock())
            GTEST_SKIP() << "python3-dbusmock is not installed";
        char folder[] = "/tmp/pixkey-gnome-test-XXXXXX";
        ASSERT_TRUE(::mkdtemp(folder));
        m_data = folder;
    }
    void TearDown() override
    {
        if (!m_data.empty())
            std::filesystem::remove_all(m_data);
    }

    // The stand-in with the template (or, without one, a bare object with nothing on it).
    std::unique_ptr<ServiceProcess> extension(const std::string &parameters, bool withTemplate = true)
    {
        ServiceProcess::Options options;
        options.program = kPython;
        if (withTemplate)
            options.arguments = {"-m", "dbusmock", "--template", PXKHK_GNOME_TEMPLATE, "--parameters", parameters};
        else
            options.arguments = {"-m", "dbusmock", GnomeShellExtension::kBusName, GnomeShellExtension::kObject,
                                 GnomeShellExtension::kInterface};
        options.environment = {m_bus.environmentEntry()};
        options.name = "extension stand-in";
        return std::make_unique<ServiceProcess>(options);
    }

    // dbus-send to the stand-in's test interface, run beside the back end (which must keep
    // dispatching meanwhile).
    void mock(GnomeShellExtension &backend, BackendDriver &driver, std::vector<std::string> call)
    {
        std::vector<std::string> arguments = {"--bus=" + m_bus.address(), "--print-reply",
                                              std::string("--dest=") + GnomeShellExtension::kBusName,
                                              GnomeShellExtension::kObject};
        arguments.insert(arguments.end(), call.begin(), call.end());
        ServiceProcess send("dbus-send", arguments);
        ASSERT_TRUE(send.start());
        ASSERT_TRUE(driver.runUntil(backend, [&] { return !send.running(); }));
        ASSERT_EQ(send.exitStatus().value_or(-1), 0) << send.output();
    }

    GnomeShellExtension::Options options() const { return {.busAddress = m_bus.address(), .dataFolders = {m_data}}; }

    SessionBus m_bus;
    std::string m_data;
};

TEST_F(GnomeExtensionTest, NamesTheStepThenFollowsFocusAndRowsWhileTheExtensionRuns)
{
    GnomeShellExtension backend(options());
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    BackendDriver driver;
    driver.runFor(backend, 200ms);

    // Not installed: how to install it. Installed but not running: how to enable it.
    auto reports = backend.capabilities();
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[0].capability, DesktopCapability::ActiveWindow);
    EXPECT_EQ(reports[1].capability, DesktopCapability::ModifierRows);
    for (const auto &report : reports) {
        EXPECT_EQ(report.state, CapabilityState::NeedsStep);
        EXPECT_NE(report.step.find("install"), std::string::npos) << report.step;
    }
    const std::string folder = m_data + "/gnome-shell/extensions/" + GnomeShellExtension::kUuid;
    std::filesystem::create_directories(folder);
    std::ofstream(folder + "/metadata.json") << "{}\n";
    EXPECT_EQ(backend.installedFolder(), folder);
    reports = backend.capabilities();
    EXPECT_EQ(reports[0].state, CapabilityState::NeedsStep);
    EXPECT_EQ(reports[0].step.rfind("enable the extension", 0), 0u) << reports[0].step;
    EXPECT_NE(reports[0].step.find("gnome-extensions enable pixkey-mini@vostrel.com"), std::string::npos);
    EXPECT_TRUE(driver.foreground.empty());

    // The user enables it: the focused window and the held Ctrl arrive at once.
    auto shell = extension(R"({"focus": [7, "org.gnome.TextEditor.desktop", "gnome-text-editor", 4242], "mask": 4})");
    ASSERT_TRUE(shell->start(Probe::dbusName(m_bus.address(), GnomeShellExtension::kBusName)));
    ASSERT_TRUE(driver.runUntil(backend, [&] { return driver.reported(7, 1) && !driver.rows.empty(); }));
    EXPECT_EQ(backend.activeWindow(), 7u);
    EXPECT_EQ(backend.applicationIdOfWindow(7), "org.gnome.TextEditor");
    EXPECT_EQ(backend.processIdOfWindow(7), 4242);
    EXPECT_EQ(driver.rows, std::vector<int>{1});
    for (const auto &report : backend.capabilities())
        EXPECT_EQ(report.state, CapabilityState::Working) << report.how;

    // A window without a desktop file goes by its WM class; the process may be unknown.
    mock(backend, driver, {"org.freedesktop.DBus.Mock.SetFocus", "uint32:9", "string:", "string:xterm", "uint32:0"});
    ASSERT_TRUE(driver.runUntil(backend, [&] { return backend.activeWindow() == 9; }));
    EXPECT_TRUE(driver.reported(7, 0));
    EXPECT_EQ(backend.applicationIdOfWindow(9), "xterm");
    EXPECT_EQ(backend.processIdOfWindow(9), 0);
    EXPECT_EQ(backend.applicationIdOfWindow(7), "org.gnome.TextEditor"); // still known

    // Rows: Alt+Shift 4, Ctrl+Alt 0 (the desktop's own), Super alone 0, Ctrl+Shift 5.
    for (const auto &[mask, row] : std::vector<std::pair<int, int>>{{8 | 1, 4}, {4 | 8, 0}, {4 | 1, 5}, {64, 0}}) {
        mock(backend, driver, {"org.freedesktop.DBus.Mock.SetModifiers", "uint32:" + std::to_string(mask)});
        ASSERT_TRUE(driver.runUntil(backend, [&, row = row] { return !driver.rows.empty() && driver.rows.back() == row; }))
            << "mask " << mask;
    }
    EXPECT_EQ(driver.rows, (std::vector<int>{1, 4, 0, 5, 0}));

    // Anyone else sending the extension's signal is not listened to.
    ServiceProcess forger("dbus-send", {"--bus=" + m_bus.address(), "--type=signal", GnomeShellExtension::kObject,
                                        std::string(GnomeShellExtension::kInterface) + ".FocusChanged", "uint32:66",
                                        "string:forged.desktop", "string:forged", "uint32:1"});
    ASSERT_TRUE(forger.start());
    ASSERT_TRUE(driver.runUntil(backend, [&] { return !forger.running(); }));
    mock(backend, driver, {"org.freedesktop.DBus.Mock.SetModifiers", "uint32:1"});
    ASSERT_TRUE(driver.runUntil(backend, [&] { return driver.rows.back() == 2; }));
    EXPECT_FALSE(driver.reported(66, 1));
    EXPECT_EQ(backend.activeWindow(), 9u);

    // The user disables it: no window in front, no row held, and the step again.
    shell->stop();
    ASSERT_TRUE(driver.runUntil(backend, [&] { return backend.activeWindow() == 0 && driver.rows.back() == 0; }));
    EXPECT_TRUE(driver.reported(9, 0));
    EXPECT_EQ(backend.capabilities()[0].state, CapabilityState::NeedsStep);
    EXPECT_TRUE(backend.usable());
}

TEST_F(GnomeExtensionTest, SurvivesAnExtensionThatTalksNonsense)
{
    GnomeShellExtension backend(options());
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    BackendDriver driver;

    // Owns the name, but has no methods: the state questions fail.
    auto shell = extension({}, false);
    ASSERT_TRUE(shell->start(Probe::dbusName(m_bus.address(), GnomeShellExtension::kBusName)));
    ASSERT_TRUE(driver.runUntil(backend, [&] { return backend.extensionRunning(); }));
    driver.runFor(backend, 300ms);
    EXPECT_TRUE(driver.foreground.empty());

    // Signals of the wrong shape are dropped; a right one after them still counts.
    const std::string iface = GnomeShellExtension::kInterface;
    mock(backend, driver, {"org.freedesktop.DBus.Mock.EmitSignal", "string:" + iface, "string:FocusChanged",
                           "string:s", "array:string:nonsense"});
    mock(backend, driver, {"org.freedesktop.DBus.Mock.EmitSignal", "string:" + iface, "string:ModifiersChanged",
                           "string:s", "array:string:4"});
    driver.runFor(backend, 200ms);
    EXPECT_TRUE(driver.foreground.empty());
    EXPECT_TRUE(driver.rows.empty());
    EXPECT_TRUE(backend.usable());
}

} // namespace
