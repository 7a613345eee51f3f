// pixkeyctl status, press, watch, screenshot, switch-layout, row, desktop: the running host program
// for the keypad, over the session bus. Without a running program they say so and end with code 3.

#include "CtlCommand.h"
#include "DesktopReport.h"
#include "HostBusName.h"
#include "HostClient.h"
#include "ModifierRow.h"

#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusServiceWatcher>
#include <QEventLoop>
#include <QSaveFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace pixkey::ctl {
namespace {

const char kPressUsage[] = "press KEY";
const char kScreenshotUsage[] = "screenshot FILE.png";
const char kRowUsage[] = "row NAME";

std::unique_ptr<HostClient> requireHost(const CtlOptions &options, int &code)
{
    std::unique_ptr<HostClient> host = HostClient::find(options);
    if (!host) {
        const std::string port = !options.port.empty() ? options.port : std::getenv("PIXKEY_PORT") ? std::getenv("PIXKEY_PORT") : "";
        code = fail(ExitNoHost, port.empty() ? "the program (PixkeyMiniConfigurator) is not running"
                                             : "the program (PixkeyMiniConfigurator) is not running for the keypad at " + port);
    }
    return host;
}

const char *yesNo(bool value) { return value ? "yes" : "no"; }

// --- pixkeyctl status --------------------------------------------------------------------------------

int runStatus(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("status takes no arguments", "status");
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    const QVariantMap state = host->properties();
    if (state.isEmpty())
        return fail(ExitFailed, "the running program ended before it answered");
    const int row = state.value(QStringLiteral("ActiveRow")).toInt();
    const QString profile = state.value(QStringLiteral("Profile")).toString();
    std::printf("connected: %s\nport: %s\nlayout: %s\nrow: %d (%s)\nauto switch: %s\nprofile: %s\nlayouts: %s\n",
                yesNo(state.value(QStringLiteral("Connected")).toBool()),
                qPrintable(state.value(QStringLiteral("Port")).toString()),
                qPrintable(state.value(QStringLiteral("ActiveLayout")).toString()), row,
                qPrintable(ModifierRow::displayName(row)),
                state.value(QStringLiteral("AutoSwitch")).toBool() ? "on" : "off",
                profile.isEmpty() ? "shared" : qPrintable(profile),
                qPrintable(state.value(QStringLiteral("Layouts")).toStringList().join(QStringLiteral(", "))));
    return ExitOk;
}

// --- pixkeyctl press ---------------------------------------------------------------------------------

int runPress(const std::vector<std::string> &args, const CtlOptions &options)
{
    long key = 0;
    if (args.size() != 1 || !parseInt(args[0], 1, 3, key))
        return usageError("press needs a key 1, 2 or 3", kPressUsage);
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    return host->call(QStringLiteral("Press"), {int(key)});
}

// --- pixkeyctl watch ---------------------------------------------------------------------------------

// Prints the host's signals as lines.
class WatchPrinter : public QObject {
    Q_OBJECT
public Q_SLOTS:
    void keyPressed(int key)
    {
        std::printf("key %d\n", key);
        std::fflush(stdout);
    }
    void layoutChanged(const QString &name, int row)
    {
        std::printf("layout %s row %d\n", qPrintable(name), row);
        std::fflush(stdout);
    }
    void connectionChanged(bool connected)
    {
        std::printf("%s\n", connected ? "connected" : "disconnected");
        std::fflush(stdout);
    }
};

int runWatch(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("watch takes no arguments", "watch");
    // SIGINT and SIGTERM are taken with sigtimedwait on this thread; blocked before QtDBus starts
    // its thread, so that it inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    WatchPrinter printer;
    bool ended = false;
    QDBusServiceWatcher watcher(host->owner(), host->connection(), QDBusServiceWatcher::WatchForUnregistration);
    QObject::connect(&watcher, &QDBusServiceWatcher::serviceUnregistered, [&ended] { ended = true; });
    const QString &owner = host->owner();
    QDBusConnection &bus = host->connection();
    const bool subscribed =
        bus.connect(owner, HostBusName::kPath, HostBusName::kInterface, QStringLiteral("KeyPressed"), &printer,
                    SLOT(keyPressed(int))) &&
        bus.connect(owner, HostBusName::kPath, HostBusName::kInterface, QStringLiteral("LayoutChanged"), &printer,
                    SLOT(layoutChanged(QString, int))) &&
        bus.connect(owner, HostBusName::kPath, HostBusName::kInterface, QStringLiteral("ConnectionChanged"), &printer,
                    SLOT(connectionChanged(bool)));
    if (!subscribed)
        return fail(ExitFailed, "cannot listen to the running program: " + bus.lastError().message().toStdString());
    // One round trip after the subscriptions: from here on nothing the program sends is missed.
    const QString what = host->description();
    if (!host->property(QStringLiteral("Connected")).isValid())
        return fail(ExitFailed, "the running program ended before it answered");
    std::fprintf(stderr, "pixkeyctl: watching %s; Ctrl+C ends\n", qPrintable(what));

    QEventLoop loop;
    QTimer tick;
    tick.setInterval(100);
    QObject::connect(&tick, &QTimer::timeout, &loop, &QEventLoop::quit);
    tick.start();
    for (;;) {
        loop.exec();
        const timespec now{0, 0};
        const int sig = sigtimedwait(&stopSignals, nullptr, &now);
        if (sig == SIGINT || sig == SIGTERM)
            return ExitOk;
        if (ended || !bus.isConnected())
            return fail(ExitFailed, "the running program ended");
    }
}

// --- pixkeyctl screenshot ----------------------------------------------------------------------------

int runScreenshot(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (args.size() != 1 || args[0].empty())
        return usageError("screenshot needs a file name", kScreenshotUsage);
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    QDBusMessage reply;
    if (const int r = host->call(QStringLiteral("Screenshot"), {}, &reply); r != ExitOk)
        return r;
    const QByteArray png = reply.arguments().value(0).toByteArray();
    if (png.isEmpty())
        return fail(ExitFailed, "the running program sent no picture");
    QSaveFile file(QString::fromStdString(args[0]));
    if (!file.open(QIODevice::WriteOnly) || file.write(png) != png.size() || !file.commit())
        return fail(ExitFailed, "cannot write " + args[0] + ": " + file.errorString().toStdString());
    return ExitOk;
}

// --- pixkeyctl switch-layout, row, desktop ----------------------------------------------------------

int runSwitchLayout(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("switch-layout takes no arguments", "switch-layout");
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    return host->call(QStringLiteral("SwitchLayout"));
}

int runRow(const std::vector<std::string> &args, const CtlOptions &options)
{
    const int row = args.size() == 1 ? ModifierRow::fromName(QString::fromStdString(args[0])) : -1;
    if (row < 0) {
        QStringList names;
        for (int r = 0; r < ModifierRow::kCount; ++r)
            names << ModifierRow::displayName(r);
        const std::string known = names.join(QStringLiteral(", ")).toStdString();
        return usageError(args.size() == 1 ? "no row named '" + args[0] + "' (rows: " + known + ")"
                                           : "row needs a row name: " + known,
                          kRowUsage);
    }
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    return host->call(QStringLiteral("SelectRow"), {row});
}

int runDesktop(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("desktop takes no arguments", "desktop");
    int code = ExitOk;
    auto host = requireHost(options, code);
    if (!host)
        return code;
    DesktopReport::registerDesktopItemType();
    QDBusMessage reply;
    if (const int r = host->call(QStringLiteral("DesktopCapabilities"), {}, &reply); r != ExitOk)
        return r;
    const QVariant value = reply.arguments().value(0);
    if (reply.signature() != QStringLiteral("a(ssss)") || !value.canConvert<QDBusArgument>())
        return fail(ExitFailed, "the running program answered with something else than a list of capabilities");
    const DesktopItems items = qdbus_cast<DesktopItems>(value.value<QDBusArgument>());
    if (items.isEmpty())
        return fail(ExitFailed, "the running program could not tell what this desktop offers");
    std::fputs(DesktopReport::text(items).toUtf8().constData(), stdout);
    return ExitOk;
}

const CtlCommandRegistrar statusRegistrar({"status", "status",
                                           "show the running program's keypad: connected, port, layout, row", runStatus});
const CtlCommandRegistrar pressRegistrar({"press", kPressUsage, "press a key in the running program, as the keypad would",
                                          runPress});
const CtlCommandRegistrar watchRegistrar({"watch", "watch",
                                          "print the running program's key presses (\"key N\"), layout changes (\"layout "
                                          "NAME row R\") and connection changes until interrupted",
                                          runWatch});
const CtlCommandRegistrar screenshotRegistrar({"screenshot", kScreenshotUsage,
                                               "save the three keys as the running program shows them (288x96 PNG)",
                                               runScreenshot});
const CtlCommandRegistrar switchRegistrar({"switch-layout", "switch-layout",
                                           "select the next manual layout in the running program, as the switch hotkey "
                                           "does (bind it to a key where the desktop lets no program take one)",
                                           runSwitchLayout});
const CtlCommandRegistrar rowRegistrar({"row", kRowUsage,
                                        "show a modifier row in the running program until the layout or the held "
                                        "modifiers change: Default, Ctrl, Shift, Alt, Alt+Shift, Ctrl+Shift (any case)",
                                        runRow});
const CtlCommandRegistrar desktopRegistrar({"desktop", "desktop",
                                            "list what works on this desktop (active window, switch hotkey, modifier "
                                            "rows, idle time, sending keys, notification area) and what to do where "
                                            "something does not",
                                            runDesktop});

} // namespace
} // namespace pixkey::ctl

#include "HostCommands.moc"
