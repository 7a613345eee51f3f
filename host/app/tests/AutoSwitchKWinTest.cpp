// Automatic switching in a KWin Wayland session: a headless kwin_wayland on a private session bus,
// the host's runtime in this process with the session's environment (KDE, Wayland, no X), and two
// Wayland test clients, one of them a copy named "editor" that a layout is made for. The hook finds
// the focused window through the script it loads into KWin; activating the editor switches to its
// layout, activating the other client switches back.
#include "AppCore.h"
#include "Runtime.h"
#include "SettingsStore.h"

#include <pixkey/test/EmulatedKeypad.h>
#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>

namespace pixkey::test {
namespace {

constexpr auto kDeadline = std::chrono::seconds(20);

std::string testsFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

bool pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout = kDeadline)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

class AutoSwitchKWinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_bus = std::make_unique<SessionBus>();
        if (!s_bus->running())
            return;
        HeadlessCompositor::Options kwin;
        kwin.kind = HeadlessCompositor::Kind::KWin;
        kwin.busAddress = s_bus->address();
        s_kwin = std::make_unique<HeadlessCompositor>(kwin);
        if (!s_kwin->running())
            return;
        // The session as a Plasma Wayland login leaves it; the hook reads it from here.
        s_kwin->exportEnvironment();
        qputenv("XDG_SESSION_TYPE", "wayland");
        qputenv("XDG_CURRENT_DESKTOP", "KDE");
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "wayland_autoswitch_kwin_test";
        static char *argv[] = {name, nullptr};
        s_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    static void TearDownTestSuite()
    {
        s_application.reset();
        s_kwin.reset();
        s_bus.reset();
    }

    void SetUp() override
    {
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
        if (!s_kwin->running())
            GTEST_SKIP() << s_kwin->skipReason();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/peers")));
        QFile::setPermissions(dir.path() + QStringLiteral("/peers"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        ASSERT_TRUE(keypad.start());
    }
    void TearDown() override { runtime.reset(); }

    // Loads a script into KWin that activates the window of `appId`, runs it and unloads it, as
    // a click on the window would.
    void activate(const std::string &appId)
    {
        const std::string path = dir.path().toStdString() + "/activate.js";
        std::ofstream(path) << "var list = workspace.windowList ? workspace.windowList() : workspace.clientList();\n"
                               "for (var i = 0; i < list.length; ++i) {\n"
                               "    if (String(list[i].resourceClass) !== '" << appId << "') continue;\n"
                               "    if (workspace.activeWindow !== undefined) workspace.activeWindow = list[i];\n"
                               "    else workspace.activeClient = list[i];\n"
                               "}\n";
        const std::string loaded = send({"/Scripting", "org.kde.kwin.Scripting.loadScript", "string:" + path,
                                         "string:pixkey-test-activate"});
        std::smatch id;
        ASSERT_TRUE(std::regex_search(loaded, id, std::regex("int32 (\\d+)"))) << loaded;
        if (send({"/" + id[1].str(), "org.kde.kwin.Script.run"}).find("Error") != std::string::npos)
            send({"/Scripting/Script" + id[1].str(), "org.kde.kwin.Script.run"});
        send({"/Scripting", "org.kde.kwin.Scripting.unloadScript", "string:pixkey-test-activate"});
    }

    // dbus-send to KWin on the test bus, while the host's events keep being handled.
    std::string send(std::vector<std::string> call)
    {
        std::vector<std::string> arguments = {"--bus=" + s_bus->address(), "--print-reply", "--dest=org.kde.KWin"};
        arguments.insert(arguments.end(), call.begin(), call.end());
        ServiceProcess process("dbus-send", arguments);
        if (!process.start())
            return "Error: dbus-send did not start";
        pumpUntil([&] { return !process.running(); });
        while (process.readLine(std::chrono::seconds(5))) {
        } // to the end of its output, which the reader may still be taking in
        return process.output();
    }

    QString layoutName() const
    {
        return runtime && runtime->core().activeLayout ? runtime->core().activeLayout->name() : QString();
    }

    static inline std::unique_ptr<SessionBus> s_bus;
    static inline std::unique_ptr<HeadlessCompositor> s_kwin;
    static inline std::unique_ptr<QApplication> s_application;
    QTemporaryDir dir;
    EmulatedKeypad keypad{"keypad-autoswitch-kwin"};
    std::unique_ptr<Runtime> runtime;
};

TEST_F(AutoSwitchKWinTest, FocusReportedByTheKWinScriptSwitchesToTheEditorsLayoutAndBack)
{
    // "editor" is its own program file, so that its process names it.
    const std::string editorProgram = dir.path().toStdString() + "/editor";
    std::filesystem::copy_file(testsFolder() + "/pixkey_wayland_test_client", editorProgram);
    std::filesystem::permissions(editorProgram, std::filesystem::perms::owner_all);

    const QString storeFolder = dir.path() + QStringLiteral("/store");
    {
        SettingsStore store(storeFolder);
        const KeyPath other = SettingsStore::settingsKey() + QStringList{QStringLiteral("Config"), QStringLiteral("Other")};
        ASSERT_TRUE(store.writeString(other, QStringLiteral("File"), QString::fromStdString(editorProgram)));
        ASSERT_TRUE(store.sync());
    }
    qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
    Runtime::Options options;
    options.arguments = {QStringLiteral("minimized")};
    options.storeFolder = storeFolder;
    options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user")};
    options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
    options.watchSession = false;
    options.watchDevices = false;
    options.onExit = [](int) {};
    runtime = std::make_unique<Runtime>(std::move(options));
    ASSERT_TRUE(runtime->start());
    ASSERT_TRUE(runtime->hook().desktopAvailable());

    bool throughScript = false;
    for (const CapabilityReport &report : runtime->hook().capabilities())
        if (report.capability == DesktopCapability::ActiveWindow && report.state == CapabilityState::Working)
            throughScript = report.how.find("KWin script") != std::string::npos;
    EXPECT_TRUE(throughScript) << "the active window does not come from the KWin script";

    ServiceProcess viewer(s_kwin->clientOptions("viewer"));
    ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));
    ServiceProcess::Options editorOptions = s_kwin->clientOptions("editor");
    editorOptions.program = editorProgram;
    ServiceProcess editor(editorOptions);
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));

    // KWin gives a new window the focus: the editor's layout.
    ASSERT_TRUE(pumpUntil([&] { return layoutName() == QStringLiteral("Other"); })) << layoutName().toStdString();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        activate("viewer");
        ASSERT_TRUE(pumpUntil([&] { return layoutName() == QStringLiteral("Global"); })) << layoutName().toStdString();
        activate("editor");
        ASSERT_TRUE(pumpUntil([&] { return layoutName() == QStringLiteral("Other"); })) << layoutName().toStdString();
    }
}

} // namespace
} // namespace pixkey::test
