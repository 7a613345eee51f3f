// Automatic switching with the configurator window shown and hidden, on a private X server with a
// window manager: the host runs in this process with its real window, a program with a layout of
// its own and a program without one run beside it. Every activation is asked for once (a lost
// foreground change is never papered over by asking again) and waited for with a generous
// deadline on the core's state and on the window manager's active window.
#include "AppCore.h"
#include "ConfiguratorWindow.h"
#include "ConfiguratorWindowAdapter.h"
#include "DeviceLink.h"
#include "Runtime.h"
#include "SettingsStore.h"
#include "TrayIcon.h"

#include <pixkey/test/EmulatedKeypad.h>
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/XServer.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <gtest/gtest.h>

#include <filesystem>

namespace pixkey::test {
namespace {

constexpr int kRepetitions = 20;
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

ServiceProcess::Options programWindow(const std::string &which, const std::string &display)
{
    ServiceProcess::Options options;
    options.program = testsFolder() + "/pxkhk_test_window_" + which;
    options.arguments = {"program " + which};
    options.environment = {"DISPLAY=" + display};
    options.pipeInput = true;
    return options;
}

class AutoSwitchX11Test : public ::testing::TestWithParam<bool> {
protected:
    static void SetUpTestSuite()
    {
        s_server = std::make_unique<XServer>(XServer::Options{.windowManager = true});
        if (!s_server->running())
            return;
        s_server->exportDisplay();
        qputenv("QT_QPA_PLATFORM", "xcb");
        static int argc = 1;
        static char name[] = "app_autoswitch_x11_test";
        static char *argv[] = {name, nullptr};
        s_application = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
    }
    static void TearDownTestSuite()
    {
        s_application.reset();
        s_server.reset();
    }

    void SetUp() override
    {
        if (!s_server->running())
            GTEST_SKIP() << s_server->skipReason();
        ASSERT_TRUE(dir.isValid());
        ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/peers")));
        QFile::setPermissions(dir.path() + QStringLiteral("/peers"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        input = XOpenDisplay(s_server->display().c_str());
        ASSERT_NE(input, nullptr);
        ASSERT_TRUE(keypad.start());
    }
    void TearDown() override
    {
        runtime.reset();
        if (input)
            XCloseDisplay(input);
    }

    // A store whose "Other" layout belongs to program a, as `pixkeyctl add-layout` leaves it.
    QString writeStore(int run)
    {
        const QString folder = dir.path() + QStringLiteral("/store-%1").arg(run);
        SettingsStore store(folder);
        const KeyPath other = SettingsStore::settingsKey() + QStringList{QStringLiteral("Config"), QStringLiteral("Other")};
        EXPECT_TRUE(store.writeString(other, QStringLiteral("File"),
                                      QString::fromStdString(testsFolder() + "/pxkhk_test_window_a")));
        EXPECT_TRUE(store.sync());
        return folder;
    }

    void startRuntime(int run)
    {
        qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
        Runtime::Options options;
        options.arguments = {QStringLiteral("minimized")};
        options.storeFolder = writeStore(run);
        options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user")};
        options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
        options.hook.displayName = s_server->display();
        options.watchSession = false;
        options.watchDevices = false;
        options.window = [this](AppCore &core) { return std::make_unique<ConfiguratorWindowAdapter>(core, *runtime); };
        options.onExit = [](int) {};
        runtime = std::make_unique<Runtime>(std::move(options));
        ASSERT_TRUE(runtime->start());
        ASSERT_TRUE(runtime->hook().desktopAvailable());
    }

    ConfiguratorWindow &window() { return static_cast<ConfiguratorWindowAdapter &>(runtime->window()).window(); }

    // Asks the window manager once, as a click on the window would.
    void activate(unsigned long window)
    {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(input, "_NET_ACTIVE_WINDOW", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = 2;
        event.xclient.data.l[1] = CurrentTime;
        XSendEvent(input, DefaultRootWindow(input), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
        XSync(input, False);
    }

    unsigned long activeWindow()
    {
        Atom type = 0;
        int format = 0;
        unsigned long count = 0, remaining = 0;
        unsigned char *data = nullptr;
        unsigned long window = 0;
        if (XGetWindowProperty(input, DefaultRootWindow(input), XInternAtom(input, "_NET_ACTIVE_WINDOW", False), 0, 1,
                               False, XA_WINDOW, &type, &format, &count, &remaining, &data) == Success &&
            data && count == 1)
            window = *reinterpret_cast<unsigned long *>(data);
        if (data)
            XFree(data);
        return window;
    }

    // Activates `window` and waits until the window manager has it in front and the core shows
    // `layout`.
    ::testing::AssertionResult switchesTo(unsigned long window, const QString &layout)
    {
        activate(window);
        const bool done = pumpUntil([&] {
            return activeWindow() == window && runtime->core().activeLayout &&
                   runtime->core().activeLayout->name() == layout;
        });
        if (done)
            return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure()
               << "window 0x" << std::hex << window << " active: 0x" << activeWindow() << std::dec << ", layout "
               << (runtime->core().activeLayout ? runtime->core().activeLayout->name().toStdString() : "none")
               << " instead of " << layout.toStdString();
    }

    static inline std::unique_ptr<XServer> s_server;
    static inline std::unique_ptr<QApplication> s_application;
    QTemporaryDir dir;
    EmulatedKeypad keypad{"keypad-autoswitch"};
    std::unique_ptr<Runtime> runtime;
    Display *input = nullptr;
};

// With the window shown (no notification area) and hidden (one present), a fresh host started
// "minimized" follows the program's window every time: activated before the host hooks the
// desktop or after, then the configurator's window (or another program's) and back. The window
// that appears for want of a notification area never takes the focus by itself.
TEST_P(AutoSwitchX11Test, EveryForegroundChangeSwitchesWithTheWindowShownOrHidden)
{
    const bool shown = GetParam();
    ServiceProcess a(programWindow("a", s_server->display())), b(programWindow("b", s_server->display()));
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    const unsigned long windowA = std::stoul(a.readLine().value_or("0"), nullptr, 16);
    const unsigned long windowB = std::stoul(b.readLine().value_or("0"), nullptr, 16);
    ASSERT_TRUE(windowA && windowB);

    for (int run = 0; run < kRepetitions; ++run) {
        SCOPED_TRACE("run " + std::to_string(run) + (shown ? ", window shown" : ", window hidden"));
        // Setting the scene: a window just started may not be managed yet, and the window manager
        // ignores a request for a window it does not manage, so this one request is repeated.
        ASSERT_TRUE(pumpUntil([&] {
            if (activeWindow() == windowB)
                return true;
            activate(windowB);
            return pumpUntil([&] { return activeWindow() == windowB; }, std::chrono::milliseconds(500));
        }));
        // Every other run the program comes to the front while the host is starting.
        const bool early = run % 2 == 0;
        if (early)
            activate(windowA);
        startRuntime(run);
        TrayIcon &tray = window().tray();
        tray.setAvailabilityProbe([shown] { return !shown; });
        tray.setRetryInterval(10);
        if (!early)
            ASSERT_TRUE(switchesTo(windowA, QStringLiteral("Other")));
        else
            ASSERT_TRUE(pumpUntil([&] { return runtime->core().activeLayout &&
                                               runtime->core().activeLayout->name() == QStringLiteral("Other"); }))
                << "the program activated during start-up";

        unsigned long own = 0;
        if (shown) {
            ASSERT_TRUE(pumpUntil([&] { return window().isVisible() && window().windowHandle() &&
                                               window().windowHandle()->isExposed(); }));
            own = window().winId();
            // Shown for want of a notification area, it leaves the program in front.
            pumpUntil([&] { return activeWindow() != windowA; }, std::chrono::milliseconds(300));
            EXPECT_EQ(activeWindow(), windowA) << "the configurator took the focus by itself";
            ASSERT_TRUE(switchesTo(own, QStringLiteral("Global"))) << "the program's window is no longer in front";
        } else {
            EXPECT_FALSE(window().isVisible());
            ASSERT_TRUE(switchesTo(windowB, QStringLiteral("Global")));
        }
        ASSERT_TRUE(switchesTo(windowA, QStringLiteral("Other")));
        if (shown)
            ASSERT_TRUE(switchesTo(own, QStringLiteral("Global")));
        else
            ASSERT_TRUE(switchesTo(windowB, QStringLiteral("Global")));
        ASSERT_TRUE(switchesTo(windowA, QStringLiteral("Other")));
        runtime.reset();
    }
}

INSTANTIATE_TEST_SUITE_P(Window, AutoSwitchX11Test, ::testing::Values(true, false),
                         [](const ::testing::TestParamInfo<bool> &info) { return info.param ? "Shown" : "Hidden"; });

} // namespace
} // namespace pixkey::test

namespace pixkey::test {
namespace {

// The tray's tip tells why the keypad cannot be used only while it cannot: the host at rest with
// a connected keypad does not look for a problem, and looks again as soon as the keypad is lost.
// (After the switching test: that one wants the X server as a fresh host finds it.)
TEST_P(AutoSwitchX11Test, TheTipCarriesTheKeypadProblemOnlyWhileTheKeypadIsNotConnected)
{
    startRuntime(0);
    ASSERT_TRUE(pumpUntil([&] { return runtime->link().IsConnected(); }));
    const QString title = window().trayTip();
    EXPECT_FALSE(title.contains(QStringLiteral("does not exist")));

    keypad->unplug();
    ASSERT_TRUE(pumpUntil([&] { return window().trayTip().contains(QStringLiteral("does not exist")); }))
        << window().trayTip().toStdString();
    EXPECT_TRUE(window().trayTip().contains(QString::fromStdString(keypad.linkPath())));
}

} // namespace
} // namespace pixkey::test
