// PixkeyMiniConfigurator as a program on a private X display and session bus, started minimized,
// with and without a notification area: where there is one, its icon goes there and the window
// stays hidden; where there is none (GNOME without its AppIndicator extension offers neither a
// StatusNotifierItem host nor an X tray), the window is shown instead, and `pixkeyctl desktop`
// says which of the two it is.
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>
#include <pixkey/test/XServer.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

namespace pixkey::test {
namespace {

using namespace std::chrono_literals;

bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(100);
    }
    return true;
}

class TrayFallbackTest : public ::testing::Test {
public:
    static void SetUpTestSuite()
    {
        s_x = new XServer;
        s_bus = new SessionBus;
    }
    static void TearDownTestSuite()
    {
        delete s_bus;
        delete s_x;
        s_bus = nullptr;
        s_x = nullptr;
    }

protected:
    void SetUp() override
    {
        if (!s_x->running())
            GTEST_SKIP() << s_x->skipReason();
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
        ASSERT_TRUE(dir.isValid());
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // The program on the display, as the desktop session of `desktop` starts it; ready once it
    // answers on the bus.
    std::unique_ptr<ServiceProcess> startProgram(const std::string &desktop)
    {
        const std::string folder = dir.path().toStdString();
        ServiceProcess::Options o;
        o.program = PROGRAM_PATH;
        o.arguments = {"minimized"};
        o.environment = {s_x->environmentEntry(), s_bus->environmentEntry(), "QT_QPA_PLATFORM=xcb",
                         "XDG_CURRENT_DESKTOP=" + desktop, "PIXKEY_PORT=" + folder + "/no-keypad",
                         "XDG_CONFIG_HOME=" + folder + "/config", "XDG_DATA_HOME=" + folder + "/data",
                         "XDG_RUNTIME_DIR=" + folder, "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder + "/no-bus"};
        o.unset = {"WAYLAND_DISPLAY", "XDG_SESSION_TYPE", "SWAYSOCK", "HYPRLAND_INSTANCE_SIGNATURE"};
        auto program = std::make_unique<ServiceProcess>(o);
        EXPECT_TRUE(program->start(Probe::dbusName(s_bus->address(), "com.vostrel.PixkeyMini"), 60s));
        return program;
    }

    // Whether a window of the program is mapped on the display.
    static bool windowShown()
    {
        QProcess search;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), QString::fromStdString(s_x->display()));
        search.setProcessEnvironment(env);
        search.start(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                                 QStringLiteral("--name"), QStringLiteral("Pixkey mini Configurator")});
        return search.waitForFinished(10000) && search.exitCode() == 0 && !search.readAllStandardOutput().trimmed().isEmpty();
    }

    static QString desktopReport()
    {
        QProcess ctl;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QString::fromStdString(s_bus->address()));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("PIXKEY_PORT"));
        ctl.setProcessEnvironment(env);
        ctl.start(QStringLiteral(PIXKEYCTL_PATH), {QStringLiteral("desktop")});
        if (!ctl.waitForFinished(30000) || ctl.exitCode() != 0)
            return QStringLiteral("<pixkeyctl desktop failed: ") + QString::fromUtf8(ctl.readAllStandardError()) + QLatin1Char('>');
        return QString::fromUtf8(ctl.readAllStandardOutput());
    }

    static XServer *s_x;
    static SessionBus *s_bus;
    QTemporaryDir dir;
};

XServer *TrayFallbackTest::s_x = nullptr;
SessionBus *TrayFallbackTest::s_bus = nullptr;

TEST_F(TrayFallbackTest, WithoutANotificationAreaTheWindowIsShownAndTheReportSaysSo)
{
    if (ServiceProcess::find("xdotool").empty())
        GTEST_SKIP() << "xdotool is not installed";
    auto program = startProgram("GNOME");
    EXPECT_TRUE(waitFor(windowShown, 60s)) << program->output();
    const QString report = desktopReport();
    EXPECT_TRUE(report.contains(QStringLiteral("Notification area: needs a step"))) << qPrintable(report);
    EXPECT_TRUE(report.contains(QStringLiteral("AppIndicator extension"))) << qPrintable(report);
    EXPECT_TRUE(report.contains(QStringLiteral("window is shown instead"))) << qPrintable(report);
}

TEST_F(TrayFallbackTest, WithANotificationAreaTheIconGoesThereAndTheWindowStaysHidden)
{
    if (ServiceProcess::find("xdotool").empty())
        GTEST_SKIP() << "xdotool is not installed";
    ServiceProcess::Options w;
    w.program = TRAY_WATCHER_PATH;
    w.environment = {s_bus->environmentEntry()};
    ServiceProcess watcher(w);
    ASSERT_TRUE(watcher.start(Probe::dbusName(s_bus->address(), "org.kde.StatusNotifierWatcher")));
    auto program = startProgram("KDE");
    EXPECT_TRUE(watcher.waitForOutput("item ", 60s)) << program->output();
    EXPECT_TRUE(waitFor([] { return desktopReport().contains(QStringLiteral("Notification area: working")); }, 30s))
        << qPrintable(desktopReport());
    EXPECT_FALSE(windowShown());
}

} // namespace
} // namespace pixkey::test
