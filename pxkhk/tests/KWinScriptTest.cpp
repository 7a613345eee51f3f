// The KWin script back end against a real kwin_wayland started headless on a private session bus:
// the script it loads reports activation of two test clients with their process and app id, other
// callers are refused, the script goes when the back end does, and scripts left by crashed copies
// are unloaded. Without KWin on the bus the back end says so and stops. KWin's idle time comes
// through the Wayland back end's ext-idle-notify-v1. A KWin started again gets the script again.
#include "BackendDriver.h"
#include "KWinScript.h"
#include "WaylandProtocols.h"

#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/test/SessionBus.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using pixkey::KWinScript;
using pixkey::test::BackendDriver;
using pixkey::test::HeadlessCompositor;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
using pixkey::test::SessionBus;
using pixkey::test::TestBusClient;

namespace {

bool exists(const std::string &path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

void writeFile(const std::string &path, const std::string &text)
{
    std::ofstream(path) << text;
}

class KWinSession : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_bus = new SessionBus;
        HeadlessCompositor::Options kwin;
        kwin.kind = HeadlessCompositor::Kind::KWin;
        kwin.busAddress = s_bus->running() ? s_bus->address() : std::string();
        s_kwin = new HeadlessCompositor(kwin);
    }
    static void TearDownTestSuite()
    {
        delete s_kwin;
        delete s_bus;
        s_kwin = nullptr;
        s_bus = nullptr;
    }
    void SetUp() override
    {
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
        if (!s_kwin->running())
            GTEST_SKIP() << s_kwin->skipReason();
        m_folder = s_kwin->runtimeFolder() + "/pixkey";
        m_client = std::make_unique<TestBusClient>(s_bus->address());
    }

    KWinScript::Options options() const { return {.busAddress = s_bus->address(), .runtimeFolder = m_folder}; }

    bool loaded(const std::string &plugin)
    {
        std::string error;
        auto reply = m_client->call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "isScriptLoaded", error,
                                    "s", plugin.c_str());
        int yes = 0;
        return reply && sd_bus_message_read(reply.get(), "b", &yes) >= 0 && yes;
    }

    // Loads and runs a script in KWin the way an outside tool would (KWin 5: /ID, KWin 6:
    // /Scripting/ScriptID).
    void runScript(const std::string &path, const std::string &plugin)
    {
        std::string error;
        auto reply = m_client->call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "loadScript", error, "ss",
                                    path.c_str(), plugin.c_str());
        ASSERT_TRUE(reply) << error;
        int id = -1;
        ASSERT_GE(sd_bus_message_read(reply.get(), "i", &id), 0);
        ASSERT_GE(id, 0);
        if (!m_client->call("org.kde.KWin", ("/" + std::to_string(id)).c_str(), "org.kde.kwin.Script", "run", error)) {
            ASSERT_TRUE(m_client->call("org.kde.KWin", ("/Scripting/Script" + std::to_string(id)).c_str(),
                                       "org.kde.kwin.Script", "run", error)) << error;
        }
    }

    // Activates the window whose resource class is `appId` through a KWin script.
    void activate(const std::string &appId)
    {
        const std::string path = m_folder + "/activate-" + appId + ".js";
        writeFile(path, "var list = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
                        "for (var i = 0; i < list.length; ++i) {\n"
                        "    if (String(list[i].resourceClass) !== '" + appId + "') continue;\n"
                        "    if (workspace.activeWindow !== undefined) workspace.activeWindow = list[i];\n"
                        "    else workspace.activeClient = list[i];\n"
                        "}\n");
        runScript(path, "pixkey-test-activate");
        std::string error;
        m_client->call("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting", "unloadScript", error, "s",
                       "pixkey-test-activate");
    }

    static SessionBus *s_bus;
    static HeadlessCompositor *s_kwin;
    std::string m_folder;
    std::unique_ptr<TestBusClient> m_client;
};

SessionBus *KWinSession::s_bus = nullptr;
HeadlessCompositor *KWinSession::s_kwin = nullptr;

TEST_F(KWinSession, ScriptReportsActivationWithProcessAndAppIdAndGoesWithTheBackend)
{
    BackendDriver driver;
    std::string plugin, scriptPath;
    {
        KWinScript script(options());
        std::string error;
        ASSERT_TRUE(script.open(error)) << error;
        plugin = script.pluginName();
        scriptPath = script.scriptPath();
        ASSERT_TRUE(driver.runUntil(script, [&] { return script.running() || !script.usable(); })) << "never ran";
        ASSERT_TRUE(script.usable()) << script.failure();
        EXPECT_TRUE(loaded(plugin));
        EXPECT_TRUE(exists(scriptPath));
        ASSERT_EQ(script.capabilities().size(), 1u);
        EXPECT_EQ(script.capabilities()[0].state, pixkey::CapabilityState::Working);

        ServiceProcess editor(s_kwin->clientOptions("editor"));
        ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
        ASSERT_TRUE(driver.runUntil(script, [&] {
            return script.applicationIdOfWindow(script.activeWindow()) == "editor";
        })) << "the editor's activation was not reported";
        const unsigned long editorWindow = script.activeWindow();
        EXPECT_EQ(driver.lastActive(), editorWindow);
        EXPECT_EQ(script.processIdOfWindow(editorWindow), editor.pid());

        ServiceProcess viewer(s_kwin->clientOptions("viewer"));
        ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));
        ASSERT_TRUE(driver.runUntil(script, [&] {
            return script.applicationIdOfWindow(script.activeWindow()) == "viewer";
        })) << "the viewer's activation was not reported";
        const unsigned long viewerWindow = script.activeWindow();
        EXPECT_NE(viewerWindow, editorWindow);
        EXPECT_EQ(script.processIdOfWindow(viewerWindow), viewer.pid());
        EXPECT_TRUE(driver.reported(editorWindow, 0));
        EXPECT_EQ(driver.lastActive(), viewerWindow);

        // Back to the editor: the same window id as before.
        driver.foreground.clear();
        activate("editor");
        ASSERT_TRUE(driver.runUntil(script, [&] { return script.activeWindow() == editorWindow; }));
        EXPECT_TRUE(driver.reported(viewerWindow, 0));
        EXPECT_EQ(driver.lastActive(), editorWindow);

        // Only KWin may report windows: a call from anyone else is refused and changes nothing.
        ServiceProcess forger("dbus-send", {"--bus=" + s_bus->address(), "--print-reply", "--dest=" + script.serviceName(),
                                            "/com/vostrel/PixkeyMini/KWinFocus",
                                            "com.vostrel.PixkeyMini.KWinFocus.Activated", "string:{forged}",
                                            "string:1", "string:forged", "string:forged"});
        ASSERT_TRUE(forger.start());
        ASSERT_TRUE(driver.runUntil(script, [&] { return !forger.running(); }));
        EXPECT_TRUE(forger.waitForOutput("AccessDenied", 10s)) << forger.output();
        driver.runFor(script, 200ms);
        EXPECT_EQ(script.activeWindow(), editorWindow);

        // A closed window is forgotten.
        viewer.stop();
        ASSERT_TRUE(driver.runUntil(script, [&] { return script.processIdOfWindow(viewerWindow) == 0; }));
        EXPECT_EQ(script.applicationIdOfWindow(viewerWindow), "");
        EXPECT_EQ(script.activeWindow(), editorWindow);
    }
    // The back end is gone: so are its script in KWin and its file.
    for (int i = 0; i < 100 && loaded(plugin); ++i)
        ::usleep(20000);
    EXPECT_FALSE(loaded(plugin));
    EXPECT_FALSE(exists(scriptPath));
}

TEST_F(KWinSession, ScriptsOfCrashedCopiesAreUnloaded)
{
    // A process id nobody has any more, and the script such a copy would have left behind.
    const pid_t dead = ::fork();
    if (dead == 0)
        ::_exit(0);
    ::waitpid(dead, nullptr, 0);
    ::mkdir(m_folder.c_str(), 0700); // as the hook makes it
    const std::string stalePlugin = "pixkey-focus-" + std::to_string(dead) + "-0";
    const std::string staleFile = m_folder + "/kwin-focus-" + std::to_string(dead) + "-0.js";
    writeFile(staleFile, "print('left behind');\n");
    runScript(staleFile, stalePlugin);
    ASSERT_TRUE(loaded(stalePlugin));
    // One of a copy that still runs (the test's parent) is left alone.
    const std::string liveFile = m_folder + "/kwin-focus-" + std::to_string(::getppid()) + "-0.js";
    writeFile(liveFile, "print('still running');\n");

    KWinScript script(options());
    std::string error;
    ASSERT_TRUE(script.open(error)) << error;
    BackendDriver driver;
    ASSERT_TRUE(driver.runUntil(script, [&] { return script.running() || !script.usable(); }));
    EXPECT_TRUE(script.usable()) << script.failure();
    EXPECT_FALSE(loaded(stalePlugin));
    EXPECT_FALSE(exists(staleFile));
    EXPECT_TRUE(exists(liveFile));
    EXPECT_TRUE(loaded(script.pluginName()));
    ::unlink(liveFile.c_str());
}

TEST_F(KWinSession, IdleTimeFromTheStandardIdleNotification)
{
    pixkey::WaylandProtocols backend({s_kwin->waylandDisplay(), s_kwin->runtimeFolder()});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(backend.hasIdle());
    bool standard = false;
    for (const auto &report : backend.capabilities())
        if (report.capability == pixkey::DesktopCapability::IdleTime && report.state == pixkey::CapabilityState::Working)
            standard = report.how.find("ext-idle-notify-v1") != std::string::npos;
    EXPECT_TRUE(standard) << "KWin 5.27 and later offer ext-idle-notify-v1";
    // Nobody types into a headless KWin: the notification fires after its timeout and the idle
    // time keeps growing from there.
    BackendDriver driver;
    ASSERT_TRUE(driver.runUntil(backend, [&] {
        return backend.idleTime().value_or(0) >= pixkey::WaylandProtocols::kIdleStepMs;
    }));
    const std::uint32_t first = *backend.idleTime();
    driver.runFor(backend, 250ms);
    EXPECT_GE(*backend.idleTime(), first + 200);
}

// Plasma starts KWin again after a crash: the back end loads its script into the new KWin and goes
// on reporting, with the old KWin's windows forgotten.
TEST(KWinRestart, TheScriptIsLoadedIntoTheNewKWin)
{
    SessionBus bus;
    if (!bus.running())
        GTEST_SKIP() << bus.error();
    HeadlessCompositor::Options options;
    options.kind = HeadlessCompositor::Kind::KWin;
    options.busAddress = bus.address();
    auto first = std::make_unique<HeadlessCompositor>(options);
    if (!first->running())
        GTEST_SKIP() << first->skipReason();
    char folder[] = "/tmp/pixkey-kwin-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));

    KWinScript script({.busAddress = bus.address(), .runtimeFolder = std::string(folder) + "/pixkey"});
    std::string error;
    ASSERT_TRUE(script.open(error)) << error;
    BackendDriver driver;
    ASSERT_TRUE(driver.runUntil(script, [&] { return script.running() || !script.usable(); }));
    ASSERT_TRUE(script.usable()) << script.failure();
    {
        ServiceProcess editor(first->clientOptions("editor"));
        ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
        ASSERT_TRUE(driver.runUntil(script, [&] { return script.applicationIdOfWindow(script.activeWindow()) == "editor"; }));
        const unsigned long editorWindow = script.activeWindow();

        first->stop();
        ASSERT_TRUE(driver.runUntil(script, [&] { return script.activeWindow() == 0; }));
        EXPECT_TRUE(driver.reported(editorWindow, 0));
        EXPECT_EQ(script.processIdOfWindow(editorWindow), 0);
        EXPECT_TRUE(script.usable());
        EXPECT_FALSE(script.running());
    }

    HeadlessCompositor second(options);
    ASSERT_TRUE(second.running()) << second.skipReason();
    ASSERT_TRUE(driver.runUntil(script, [&] { return script.running() || !script.usable(); }));
    ASSERT_TRUE(script.usable()) << script.failure();
    ServiceProcess viewer(second.clientOptions("viewer"));
    ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));
    ASSERT_TRUE(driver.runUntil(script, [&] { return script.applicationIdOfWindow(script.activeWindow()) == "viewer"; }));
    EXPECT_EQ(script.processIdOfWindow(script.activeWindow()), viewer.pid());
    std::filesystem::remove_all(folder);
}

TEST(KWinScriptWithoutKWin, SaysSoAndStops)
{
    SessionBus bus;
    if (!bus.running())
        GTEST_SKIP() << bus.error();
    char folder[] = "/tmp/pixkey-kwin-test-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    std::string scriptPath;
    {
        KWinScript script({.busAddress = bus.address(), .runtimeFolder = std::string(folder) + "/pixkey"});
        std::string error;
        ASSERT_TRUE(script.open(error)) << error;
        scriptPath = script.scriptPath();
        BackendDriver driver;
        ASSERT_TRUE(driver.runUntil(script, [&] { return !script.usable(); }));
        const auto reports = script.capabilities();
        ASSERT_EQ(reports.size(), 1u);
        EXPECT_EQ(reports[0].capability, pixkey::DesktopCapability::ActiveWindow);
        EXPECT_EQ(reports[0].state, pixkey::CapabilityState::Unavailable);
        EXPECT_NE(reports[0].how.find("KWin is not on the session bus"), std::string::npos) << reports[0].how;
        EXPECT_EQ(script.activeWindow(), 0u);
    }
    EXPECT_FALSE(exists(scriptPath));
    std::filesystem::remove_all(folder);

    // No bus at all: open fails with a reason.
    KWinScript nowhere({.busAddress = "unix:path=/nonexistent/pixkey-bus", .runtimeFolder = std::string(folder)});
    std::string error;
    EXPECT_FALSE(nowhere.open(error));
    EXPECT_FALSE(error.empty());
    std::filesystem::remove_all(folder);
}

} // namespace
