// The host on a private session bus: its interface against the documented XML, each method,
// property and signal, pixkeyctl on top of it, two hosts on two emulated keypads, and clients
// whose host ends while they wait.
#include "AppCore.h"
#include "DesktopReport.h"
#include "DeviceLink.h"
#include "HostBus.h"
#include "HostBusName.h"
#include "ModifierRow.h"
#include "RuntimeFixture.h"
#include "Settings.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QEvent>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QXmlStreamReader>

#include <csignal>

namespace pixkey::test {
namespace {

using namespace std::chrono_literals;

// Everything a connection receives from the host, in order.
class SignalLog : public QObject {
    Q_OBJECT
public:
    QList<QDBusMessage> messages;
    bool has(const QString &member, const QVariantList &arguments) const
    {
        for (const QDBusMessage &m : messages)
            if (m.member() == member && m.arguments() == arguments)
                return true;
        return false;
    }
    int count(const QString &member) const
    {
        int n = 0;
        for (const QDBusMessage &m : messages)
            n += m.member() == member;
        return n;
    }
public Q_SLOTS:
    void message(const QDBusMessage &message) { messages << message; }
};

// The members of the host's interface in an introspection document, one line each.
QString members(const QString &xml)
{
    QStringList found;
    QXmlStreamReader reader(xml);
    bool inside = false;
    bool inSignal = false;
    QString current;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString name = reader.name().toString();
        const auto attr = [&](const char *a) { return reader.attributes().value(QLatin1String(a)).toString(); };
        if (reader.isStartElement() && name == QLatin1String("interface"))
            inside = attr("name") == HostBusName::kInterface;
        else if (reader.isEndElement() && name == QLatin1String("interface"))
            inside = false;
        if (!inside)
            continue;
        if (reader.isStartElement() && (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            current = name + QLatin1Char(' ') + attr("name") + QLatin1Char('(');
            inSignal = name == QLatin1String("signal");
        } else if (reader.isStartElement() && name == QLatin1String("arg")) {
            current += attr("name") + QLatin1Char(':') + attr("type") + QLatin1Char(':') +
                       (inSignal ? QString() : attr("direction").isEmpty() ? QStringLiteral("in") : attr("direction")) +
                       QLatin1Char(' ');
        } else if (reader.isEndElement() && (name == QLatin1String("method") || name == QLatin1String("signal"))) {
            found << current + QLatin1Char(')');
        } else if (reader.isStartElement() && name == QLatin1String("property")) {
            found << QStringLiteral("property %1 %2 %3").arg(attr("name"), attr("type"), attr("access"));
        }
    }
    found.sort();
    return found.join(QLatin1Char('\n'));
}

class HostBusTest : public RuntimeFixture {
public:
    static void SetUpTestSuite()
    {
        s_bus = new SessionBus;
        if (s_bus->running())
            s_bus->exportAddress(); // pixkeyctl started by the tests finds it
    }
    static void TearDownTestSuite()
    {
        delete s_bus;
        s_bus = nullptr;
    }

protected:
    void SetUp() override
    {
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
        RuntimeFixture::SetUp();
        m_client = QDBusConnection::connectToBus(QString::fromStdString(s_bus->address()), QStringLiteral("test-client"));
        ASSERT_TRUE(m_client.isConnected());
    }
    void TearDown() override
    {
        runtimes.clear();
        m_client = QDBusConnection(QString());
        QDBusConnection::disconnectFromBus(QStringLiteral("test-client"));
        RuntimeFixture::TearDown();
    }

    // A host exported on the private bus; its store is where pixkeyctl looks with
    // XDG_CONFIG_HOME=config(name). Presses are a second apart for the debouncing.
    Runtime &startHost(const QString &name, KeypadEmulator &keypad)
    {
        qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
        Runtime::Options options;
        options.arguments = {QStringLiteral("minimized")};
        options.storeFolder = config(name) + QStringLiteral("/Vostrel");
        options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user-") + name};
        options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
        options.hook.useDisplay = false;
        options.watchSession = false;
        options.watchDevices = false;
        options.window = [](AppCore &core) { return std::make_unique<RecordingWindow>(core); };
        options.onExit = [](int) {};
        options.clock = [n = std::int64_t(0)]() mutable { return n += 1000; };
        options.exportOnBus = true;
        options.busAddress = QString::fromStdString(s_bus->address());
        options.capabilities = capabilities;
        runtimes.push_back(std::make_unique<Runtime>(std::move(options)));
        Runtime &runtime = *runtimes.back();
        EXPECT_TRUE(runtime.start());
        EXPECT_NE(runtime.bus(), nullptr);
        EXPECT_TRUE(pumpUntil([&] { return runtime.bus() && runtime.bus()->connected(); }));
        return runtime;
    }
    QString config(const QString &name) const { return dir.path() + QStringLiteral("/config-") + name; }
    static QString busName(Runtime &runtime) { return runtime.bus()->keypadName(); }

    // A call to a host in this process: made asynchronously while this thread serves the host.
    QDBusMessage call(const QString &service, const QString &method, const QVariantList &arguments = {},
                      const QString &interface = HostBusName::kInterface)
    {
        QDBusMessage message = QDBusMessage::createMethodCall(service, HostBusName::kPath, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = m_client.asyncCall(message);
        EXPECT_TRUE(pumpUntil([&] { return pending.isFinished(); }));
        return pending.reply();
    }
    QVariant property(const QString &service, const QString &name)
    {
        const QDBusMessage reply = call(service, QStringLiteral("Get"), {HostBusName::kInterface, name},
                                        QStringLiteral("org.freedesktop.DBus.Properties"));
        return reply.arguments().isEmpty() ? QVariant() : reply.arguments().constFirst().value<QDBusVariant>().variant();
    }
    void listen(const QString &service, SignalLog &log)
    {
        for (const char *member : {"KeyPressed", "LayoutChanged", "ConnectionChanged"})
            ASSERT_TRUE(m_client.connect(service, HostBusName::kPath, HostBusName::kInterface, QLatin1String(member), &log,
                                         SLOT(message(QDBusMessage))));
        ASSERT_TRUE(m_client.connect(service, HostBusName::kPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                     QStringLiteral("PropertiesChanged"), &log, SLOT(message(QDBusMessage))));
        property(service, QStringLiteral("Port")); // a round trip: the subscriptions are in place
    }

    // pixkeyctl in a child process, served by this thread meanwhile.
    struct Ctl {
        int code = -1;
        QString out, err;
    };
    std::unique_ptr<QProcess> startCtl(const QStringList &arguments, const QString &configName, const QString &port)
    {
        auto process = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config(configName));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        if (port.isEmpty())
            env.remove(QStringLiteral("PIXKEY_PORT"));
        else
            env.insert(QStringLiteral("PIXKEY_PORT"), port);
        process->setProcessEnvironment(env);
        process->start(QStringLiteral(PIXKEYCTL_PATH), arguments);
        EXPECT_TRUE(process->waitForStarted(10000));
        return process;
    }
    Ctl ctl(const QStringList &arguments, const QString &configName, const QString &port)
    {
        auto process = startCtl(arguments, configName, port);
        EXPECT_TRUE(pumpUntil([&] { return process->state() == QProcess::NotRunning; }, 60s)) << qPrintable(arguments.join(QLatin1Char(' ')));
        return {process->exitStatus() == QProcess::NormalExit ? process->exitCode() : -1,
                QString::fromUtf8(process->readAllStandardOutput()), QString::fromUtf8(process->readAllStandardError())};
    }
    static QString port(KeypadEmulator &keypad) { return QString::fromStdString(keypad.linkPath()); }

    static SessionBus *s_bus;
    // What the hosts started next report of the desktop (empty: their hook's report).
    std::function<CapabilityReports()> capabilities;
    QDBusConnection m_client{QString()};
    std::vector<std::unique_ptr<Runtime>> runtimes;
};

SessionBus *HostBusTest::s_bus = nullptr;

TEST(HostBusNameTest, EveryPortGetsAValidDistinctName)
{
    EXPECT_EQ(HostBusName::forPort(QStringLiteral("ttyUSB0")), QStringLiteral("com.vostrel.PixkeyMini.Keypad.ttyUSB0"));
    // A leading digit, separators and the escape character itself are written out.
    EXPECT_EQ(HostBusName::forPort(QStringLiteral("0")), QStringLiteral("com.vostrel.PixkeyMini.Keypad._30"));
    EXPECT_EQ(HostBusName::forPort(QStringLiteral("a_b.c-d")), QStringLiteral("com.vostrel.PixkeyMini.Keypad.a_5fb_2ec_2dd"));
    EXPECT_NE(HostBusName::forPort(QStringLiteral("a-b")), HostBusName::forPort(QStringLiteral("a_2db")));
    EXPECT_EQ(HostBusName::forPort(QStringLiteral("ä")), QStringLiteral("com.vostrel.PixkeyMini.Keypad._c3_a4"));
    EXPECT_TRUE(HostBusName::forPort(QString()).isEmpty());
    EXPECT_TRUE(HostBusName::forPort(QString(300, QLatin1Char('x'))).isEmpty()); // past the bus's limit
}

TEST_F(HostBusTest, ExportsTheDocumentedInterfaceUnderItsNames)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    Runtime &host = startHost(QStringLiteral("a"), keypad);
    const QString name = busName(host);
    EXPECT_EQ(name, HostBusName::forPort(QStringLiteral("keypad-a")));
    const QDBusMessage introspection = call(name, QStringLiteral("Introspect"), {},
                                            QStringLiteral("org.freedesktop.DBus.Introspectable"));
    ASSERT_EQ(introspection.type(), QDBusMessage::ReplyMessage) << qPrintable(introspection.errorMessage());
    QFile documented(QStringLiteral(HOST_BUS_XML));
    ASSERT_TRUE(documented.open(QIODevice::ReadOnly));
    const QString expected = members(QString::fromUtf8(documented.readAll()));
    EXPECT_EQ(expected.count(QLatin1Char('\n')), 18); // 7 properties, 9 methods, 3 signals
    EXPECT_EQ(members(introspection.arguments().value(0).toString()).toStdString(), expected.toStdString());
    // The first copy also answers to the program's plain name.
    EXPECT_EQ(property(HostBusName::kFirstHost, QStringLiteral("Port")).toString(), QStringLiteral("keypad-a"));
}

TEST_F(HostBusTest, PropertiesLayoutsAndBadNames)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    Runtime &host = startHost(QStringLiteral("a"), keypad);
    const QString name = busName(host);
    SignalLog log;
    listen(name, log);
    EXPECT_TRUE(property(name, QStringLiteral("Connected")).toBool());
    EXPECT_EQ(property(name, QStringLiteral("ActiveLayout")).toString(), QStringLiteral("Global"));
    EXPECT_EQ(property(name, QStringLiteral("ActiveRow")).toInt(), 0);
    EXPECT_EQ(property(name, QStringLiteral("Profile")).toString(), QString());
    EXPECT_EQ(property(name, QStringLiteral("Layouts")).toStringList(), (QStringList{QStringLiteral("Global"), QStringLiteral("Idle")}));

    // A row from the modifier keys is announced.
    host.core().setCurrentRow(2);
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("LayoutChanged"), {QStringLiteral("Global"), 2}); }));

    // Any case; the signal and the property change follow.
    EXPECT_EQ(call(name, QStringLiteral("ActivateLayout"), {QStringLiteral("iDLE")}).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(host.core().activeLayout->name(), QStringLiteral("Idle"));
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("LayoutChanged"), {QStringLiteral("Idle"), 0}); }));
    EXPECT_TRUE(pumpUntil([&] { return log.count(QStringLiteral("PropertiesChanged")) > 0; }));

    for (const QString &bad : {QString(), QStringLiteral("   "), QStringLiteral("Nowhere")}) {
        const QDBusMessage reply = call(name, QStringLiteral("ActivateLayout"), {bad});
        EXPECT_EQ(reply.errorName(), QStringLiteral("com.vostrel.PixkeyMini.Error.NoSuchLayout")) << qPrintable(bad);
        EXPECT_TRUE(reply.errorMessage().contains(QStringLiteral("Global, Idle")));
    }
    // A wrong argument type is the bus's own error; nothing changes.
    EXPECT_EQ(call(name, QStringLiteral("ActivateLayout"), {42}).type(), QDBusMessage::ErrorMessage);
    EXPECT_EQ(host.core().activeLayout->name(), QStringLiteral("Idle"));

    // While the keypad is idle the layout stays, and the caller is told so.
    host.core().idleActive = true;
    const QDBusMessage refused = call(name, QStringLiteral("ActivateLayout"), {QStringLiteral("Global")});
    EXPECT_EQ(refused.errorName(), QStringLiteral("com.vostrel.PixkeyMini.Error.Refused"));
    EXPECT_EQ(host.core().activeLayout->name(), QStringLiteral("Idle"));
    host.core().idleActive = false;

    // Automatic switching: the property, the stored value and the change signal.
    EXPECT_EQ(call(name, QStringLiteral("SetAutoSwitch"), {false}).type(), QDBusMessage::ReplyMessage);
    EXPECT_FALSE(property(name, QStringLiteral("AutoSwitch")).toBool());
    host.core().settings.setValue(Settings::AutoSwitch, 1);
    host.core().loadSettings();
    EXPECT_EQ(host.core().settings.value(Settings::AutoSwitch), 0);

    // The configurator is shown on request.
    const int shown = windowOf(host).showCount();
    EXPECT_EQ(call(name, QStringLiteral("ShowConfigurator")).type(), QDBusMessage::ReplyMessage);
    EXPECT_EQ(windowOf(host).showCount(), shown + 1);
}

TEST_F(HostBusTest, PressesConnectionAndScreenshot)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    Runtime &host = startHost(QStringLiteral("a"), keypad);
    ASSERT_TRUE(host.seedDemo()); // three Vegas reels on "Global"
    const QString name = busName(host);
    SignalLog log;
    listen(name, log);

    // Scripted and real presses alike, numbered as the user sees the keys, whatever the
    // orientation.
    host.core().settings.setValue(Settings::Orientation, 1);
    EXPECT_EQ(call(name, QStringLiteral("Press"), {1}).type(), QDBusMessage::ReplyMessage);
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("KeyPressed"), {1}); }));
    keypad.press(1); // device key 1 is the right-hand key when turned over
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("KeyPressed"), {3}); }));
    host.core().settings.setValue(Settings::Orientation, 0);
    for (int bad : {0, 4, -1}) {
        const QDBusMessage reply = call(name, QStringLiteral("Press"), {bad});
        EXPECT_EQ(reply.errorName(), QStringLiteral("com.vostrel.PixkeyMini.Error.InvalidKey"));
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(log.count(QStringLiteral("KeyPressed")), 2);

    // The picture: the reels on all three keys, black when the keypad is dark.
    auto keysLit = [&](bool wantLit) {
        const QDBusMessage reply = call(name, QStringLiteral("Screenshot"));
        const QImage picture = QImage::fromData(reply.arguments().value(0).toByteArray(), "PNG");
        if (picture.size() != QSize(288, 96))
            return false;
        for (int key = 0; key < 3; ++key) {
            bool lit = false;
            for (int y = 0; y < 96 && !lit; y += 4)
                for (int x = 0; x < 96 && !lit; x += 4)
                    lit = (picture.pixel(key * 96 + x, y) & 0xFFFFFF) != 0;
            if (lit != wantLit)
                return false;
        }
        return true;
    };
    EXPECT_TRUE(pumpUntil([&] { return keysLit(true); }, 20s));
    host.core().illuminationOff = true;
    EXPECT_TRUE(keysLit(false));
    host.core().illuminationOff = false;

    // The keypad goes and comes back.
    keypad.unplug();
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("ConnectionChanged"), {false}); }));
    EXPECT_FALSE(property(name, QStringLiteral("Connected")).toBool());
    ASSERT_TRUE(keypad.replug());
    host.link().Connect();
    EXPECT_TRUE(pumpUntil([&] { return log.has(QStringLiteral("ConnectionChanged"), {true}); }, 20s));
    EXPECT_TRUE(property(name, QStringLiteral("Connected")).toBool());
}

TEST_F(HostBusTest, PixkeyctlDrivesTheRunningHost)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    Runtime &host = startHost(QStringLiteral("a"), keypad);
    const QString a = QStringLiteral("a");

    Ctl status = ctl({QStringLiteral("status")}, a, port(keypad));
    EXPECT_EQ(status.code, 0) << qPrintable(status.err);
    EXPECT_TRUE(status.out.contains(QStringLiteral("connected: yes\nport: keypad-a\nlayout: Global\nrow: 0 (Default)\n")))
        << qPrintable(status.out);

    // activate switches the host instead of failing on the busy port.
    Ctl activate = ctl({QStringLiteral("activate"), QStringLiteral("Idle")}, a, port(keypad));
    EXPECT_EQ(activate.code, 0) << qPrintable(activate.err);
    EXPECT_EQ(host.core().activeLayout->name(), QStringLiteral("Idle"));
    Ctl unknown = ctl({QStringLiteral("activate"), QStringLiteral("Nowhere")}, a, port(keypad));
    EXPECT_EQ(unknown.code, 1);
    EXPECT_TRUE(unknown.err.contains(QStringLiteral("no layout named \"Nowhere\""))) << qPrintable(unknown.err);

    // A stored edit is loaded by the host (which has read and written the store before); what it
    // shows stays.
    ASSERT_TRUE(host.core().saveSettings());
    Ctl add = ctl({QStringLiteral("add-layout"), QStringLiteral("Games")}, a, port(keypad));
    EXPECT_EQ(add.code, 0) << qPrintable(add.err);
    EXPECT_TRUE(host.bus()->layouts().contains(QStringLiteral("Games")));
    EXPECT_EQ(host.core().activeLayout->name(), QStringLiteral("Idle"));
    // Unsaved changes in the configurator are not thrown away: the edit is stored, the host says no.
    host.core().modified = true;
    Ctl refused = ctl({QStringLiteral("add-layout"), QStringLiteral("Work")}, a, port(keypad));
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.contains(QStringLiteral("not saved"))) << qPrintable(refused.err);
    EXPECT_FALSE(host.bus()->layouts().contains(QStringLiteral("Work")));
    host.core().modified = false;

    Ctl badKey = ctl({QStringLiteral("press"), QStringLiteral("4")}, a, port(keypad));
    EXPECT_EQ(badKey.code, 64);

    const QString file = dir.path() + QStringLiteral("/keys.png");
    Ctl shot = ctl({QStringLiteral("screenshot"), file}, a, port(keypad));
    EXPECT_EQ(shot.code, 0) << qPrintable(shot.err);
    EXPECT_EQ(QImage(file).size(), QSize(288, 96));

    // Without a host for the keypad the new commands say so.
    Ctl none = ctl({QStringLiteral("status")}, a, dir.path() + QStringLiteral("/other-keypad"));
    EXPECT_EQ(none.code, 3);
    EXPECT_TRUE(none.err.contains(QStringLiteral("not running"))) << qPrintable(none.err);
}

TEST_F(HostBusTest, WatchPrintsPressesAndLayoutsAndEndsWithTheHost)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    Runtime &host = startHost(QStringLiteral("a"), keypad);
    auto watch = startCtl({QStringLiteral("watch")}, QStringLiteral("a"), port(keypad));
    QString out, err;
    auto read = [&] {
        out += QString::fromUtf8(watch->readAllStandardOutput());
        err += QString::fromUtf8(watch->readAllStandardError());
    };
    ASSERT_TRUE(pumpUntil([&] { read(); return err.contains(QStringLiteral("watching")); }, 30s)) << qPrintable(err);
    keypad.press(2);
    EXPECT_TRUE(pumpUntil([&] { read(); return out.contains(QStringLiteral("key 2\n")); }));
    host.core().select(-2);
    EXPECT_TRUE(pumpUntil([&] { read(); return out.contains(QStringLiteral("layout Idle row 0\n")); }));
    keypad.unplug();
    EXPECT_TRUE(pumpUntil([&] { read(); return out.contains(QStringLiteral("disconnected\n")); }));

    runtimes.clear(); // the host ends while watch waits
    EXPECT_TRUE(pumpUntil([&] { return watch->state() == QProcess::NotRunning; }, 30s));
    read();
    EXPECT_EQ(watch->exitCode(), 1);
    EXPECT_TRUE(err.contains(QStringLiteral("the running program ended"))) << qPrintable(err);
}

// The program itself in a process of its own, stopped while pixkeyctl waits for its answer and
// then killed: the client ends with a clear message instead of waiting for ever.
TEST_F(HostBusTest, ClientWaitingForAProgramThatEnds)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-p"));
    const std::string folder = dir.path().toStdString();
    ServiceProcess::Options o;
    o.program = PROGRAM_PATH;
    o.arguments = {"minimized"};
    o.environment = {"PIXKEY_PORT=" + keypad.linkPath(), "QT_QPA_PLATFORM=offscreen", "XDG_CONFIG_HOME=" + folder + "/config-p",
                     "XDG_DATA_HOME=" + folder + "/data", "XDG_RUNTIME_DIR=" + folder,
                     "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + folder + "/no-bus", s_bus->environmentEntry()};
    o.unset = {"DISPLAY", "WAYLAND_DISPLAY"};
    ServiceProcess program(o);
    ASSERT_TRUE(program.start(Probe::dbusName(s_bus->address(), HostBusName::forPort(QStringLiteral("keypad-p")).toStdString()), 60s));
    // The bus shows when the call has gone to the program.
    ServiceProcess monitor("dbus-monitor", {"--address", s_bus->address(), "type='method_call',member='Press'"});
    ASSERT_TRUE(monitor.start(Probe::outputContains("member=NameLost")));

    ::kill(program.pid(), SIGSTOP);
    auto press = startCtl({QStringLiteral("press"), QStringLiteral("1")}, QStringLiteral("p"), port(keypad));
    EXPECT_TRUE(monitor.waitForOutput("member=Press", 30s));
    program.kill();
    EXPECT_TRUE(press->waitForFinished(30000));
    EXPECT_EQ(press->exitCode(), 1);
    const QString err = QString::fromUtf8(press->readAllStandardError());
    EXPECT_TRUE(err.contains(QStringLiteral("ended before it answered"))) << qPrintable(err);
}

TEST_F(HostBusTest, TwoHostsOnTwoKeypadsAreAddressedApart)
{
    KeypadEmulator &keypadA = startKeypad(QStringLiteral("keypad-a"));
    KeypadEmulator &keypadB = startKeypad(QStringLiteral("keypad-b"));
    Runtime &a = startHost(QStringLiteral("a"), keypadA);
    Runtime &b = startHost(QStringLiteral("b"), keypadB);
    EXPECT_NE(busName(a), busName(b));

    Ctl activate = ctl({QStringLiteral("--port"), port(keypadB), QStringLiteral("activate"), QStringLiteral("Idle")},
                       QStringLiteral("b"), QString());
    EXPECT_EQ(activate.code, 0) << qPrintable(activate.err);
    EXPECT_EQ(b.core().activeLayout->name(), QStringLiteral("Idle"));
    EXPECT_EQ(a.core().activeLayout->name(), QStringLiteral("Global"));

    // Without a port the first copy answers; when it ends, the next one takes over.
    Ctl first = ctl({QStringLiteral("status")}, QStringLiteral("a"), QString());
    EXPECT_TRUE(first.out.contains(QStringLiteral("port: keypad-a\n"))) << qPrintable(first.out + first.err);
    runtimes.front().reset();
    Ctl next = ctl({QStringLiteral("status")}, QStringLiteral("b"), QString());
    EXPECT_TRUE(next.out.contains(QStringLiteral("port: keypad-b\nlayout: Idle\n"))) << qPrintable(next.out + next.err);
}

TEST(DesktopReportTest, FallbacksStepsAndWhatTheBusCarries)
{
    const CapabilityReports reports = {
        {DesktopCapability::ActiveWindow, CapabilityState::Working, "sway IPC focus events", "left over"},
        {DesktopCapability::SwitchHotkey, CapabilityState::Unavailable, "no GlobalShortcuts portal", ""},
        {DesktopCapability::ModifierRows, CapabilityState::Unavailable, "none", "Use the keypad's own row key."},
        {DesktopCapability::IdleTime, CapabilityState::NeedsStep, "GNOME Shell extension", " enable the extension "},
    };
    const DesktopItems items = DesktopReport::items(reports, TrayState::Unknown, QString());
    ASSERT_EQ(items.size(), 4); // no notification-area line while the tray has not decided
    EXPECT_TRUE(items[0].step.isEmpty()); // a working capability has nothing to do
    EXPECT_TRUE(items[1].step.contains(QStringLiteral("`pixkeyctl switch-layout`"))); // the fallback filled in
    EXPECT_EQ(items[2].step, QStringLiteral("Use the keypad's own row key.")); // a named one is kept
    EXPECT_EQ(DesktopReport::text(items).toStdString(),
              "Active window: working (sway IPC focus events)\n"
              "Switch hotkey: unavailable (no GlobalShortcuts portal)\n"
              "    Bind a key to `pixkeyctl switch-layout` in your desktop's keyboard settings.\n"
              "Modifier rows: unavailable (none)\n"
              "    Use the keypad's own row key.\n"
              "Idle time: needs a step (GNOME Shell extension)\n"
              "    Enable the extension.\n"); // a clause is shown as a sentence

    // Without a notification area the window is the way in; on GNOME the extension is the step.
    const DesktopItem plain = DesktopReport::items({}, TrayState::Missing, QStringLiteral("sway")).value(0);
    EXPECT_EQ(plain.id, QStringLiteral("NotificationArea"));
    EXPECT_EQ(plain.state, CapabilityState::Unavailable);
    EXPECT_TRUE(plain.step.contains(QStringLiteral("window is shown instead")));
    const DesktopItem gnome = DesktopReport::items({}, TrayState::Missing, QStringLiteral("ubuntu:GNOME")).value(0);
    EXPECT_EQ(gnome.state, CapabilityState::NeedsStep);
    EXPECT_TRUE(gnome.step.contains(QStringLiteral("AppIndicator")));
    EXPECT_EQ(DesktopReport::items({}, TrayState::Shown, QStringLiteral("GNOME")).value(0).state, CapabilityState::Working);

    // Row names as pixkeyctl takes them.
    EXPECT_EQ(ModifierRow::fromName(QStringLiteral("ctrl+SHIFT")), 5);
    EXPECT_EQ(ModifierRow::fromName(QStringLiteral(" default ")), 0);
    EXPECT_EQ(ModifierRow::fromName(QStringLiteral("AltShift")), 4);
    for (const char *bad : {"", "Hyper", "Ctrl+", "0", "Shift+Ctrl"})
        EXPECT_EQ(ModifierRow::fromName(QLatin1String(bad)), -1) << bad;
}

TEST_F(HostBusTest, SwitchLayoutRowAndDesktopFromPixkeyctl)
{
    capabilities = [] {
        return CapabilityReports{
            {DesktopCapability::ActiveWindow, CapabilityState::Working, "sway IPC focus events", ""},
            {DesktopCapability::SwitchHotkey, CapabilityState::NeedsStep, "the GlobalShortcuts portal", "Confirm the shortcut once."},
            {DesktopCapability::ModifierRows, CapabilityState::Unavailable, "sway reports no held modifiers", ""},
        };
    };
    KeypadEmulator &keypadA = startKeypad(QStringLiteral("keypad-a"));
    Runtime &a = startHost(QStringLiteral("a"), keypadA);
    capabilities = nullptr;
    KeypadEmulator &keypadB = startKeypad(QStringLiteral("keypad-b"));
    Runtime &b = startHost(QStringLiteral("b"), keypadB);
    const QString name = busName(a);
    const QString pa = port(keypadA), ca = QStringLiteral("a");

    // The hotkey's action, passed on to the other copy as the hotkey is.
    Ctl next = ctl({QStringLiteral("switch-layout")}, ca, pa);
    EXPECT_EQ(next.code, 0) << qPrintable(next.err);
    EXPECT_EQ(a.core().activeLayout->name(), QStringLiteral("Idle"));
    EXPECT_TRUE(pumpUntil([&] { return b.core().activeLayout->name() == QStringLiteral("Idle"); }));
    EXPECT_EQ(ctl({QStringLiteral("switch-layout")}, ca, pa).code, 0);
    EXPECT_EQ(a.core().activeLayout->name(), QStringLiteral("Global"));
    EXPECT_TRUE(pumpUntil([&] { return b.core().activeLayout->name() == QStringLiteral("Global"); }));
    a.core().idleActive = true;
    Ctl idle = ctl({QStringLiteral("switch-layout")}, ca, pa);
    EXPECT_EQ(idle.code, 1);
    EXPECT_TRUE(idle.err.contains(QStringLiteral("idle"))) << qPrintable(idle.err);
    a.core().idleActive = false;
    EXPECT_EQ(ctl({QStringLiteral("switch-layout"), QStringLiteral("extra")}, ca, pa).code, 64);

    // A row by name, in any case, also an empty one; only this copy's.
    Ctl row = ctl({QStringLiteral("row"), QStringLiteral("ctrl+shift")}, ca, pa);
    EXPECT_EQ(row.code, 0) << qPrintable(row.err);
    EXPECT_EQ(a.core().currentRow, 5);
    EXPECT_EQ(b.core().currentRow, 0);
    EXPECT_EQ(property(name, QStringLiteral("ActiveRow")).toInt(), 5);
    Ctl unknownRow = ctl({QStringLiteral("row"), QStringLiteral("Hyper")}, ca, pa);
    EXPECT_EQ(unknownRow.code, 64);
    EXPECT_TRUE(unknownRow.err.contains(QStringLiteral("no row named 'Hyper'"))) << qPrintable(unknownRow.err);
    EXPECT_EQ(call(name, QStringLiteral("SelectRow"), {6}).errorName(), QStringLiteral("com.vostrel.PixkeyMini.Error.InvalidRow"));
    EXPECT_EQ(a.core().currentRow, 5);
    ASSERT_EQ(call(name, QStringLiteral("ActivateLayout"), {QStringLiteral("Idle")}).type(), QDBusMessage::ReplyMessage);
    Ctl idleRow = ctl({QStringLiteral("row"), QStringLiteral("Alt")}, ca, pa);
    EXPECT_EQ(idleRow.code, 1);
    EXPECT_TRUE(idleRow.err.contains(QStringLiteral("only its default row"))) << qPrintable(idleRow.err);
    EXPECT_EQ(a.core().currentRow, 0);

    // What works here, as the Desktop page shows it.
    const QDBusMessage report = call(name, QStringLiteral("DesktopCapabilities"));
    EXPECT_EQ(report.signature(), QStringLiteral("a(ssss)"));
    Ctl desktop = ctl({QStringLiteral("desktop")}, ca, pa);
    EXPECT_EQ(desktop.code, 0) << qPrintable(desktop.err);
    EXPECT_EQ(desktop.out.toStdString(), DesktopReport::text(a.desktopReport()).toStdString());
    EXPECT_TRUE(desktop.out.startsWith(QStringLiteral("Active window: working (sway IPC focus events)\n"
                                                      "Switch hotkey: needs a step (the GlobalShortcuts portal)\n"
                                                      "    Confirm the shortcut once.\n"
                                                      "Modifier rows: unavailable (sway reports no held modifiers)\n"
                                                      "    Choose a row from the tray menu's Row submenu or with `pixkeyctl row NAME`")))
        << qPrintable(desktop.out);
    EXPECT_TRUE(a.capabilityUnavailable(DesktopCapability::ModifierRows));
    EXPECT_FALSE(a.capabilityUnavailable(DesktopCapability::SendKeys)); // not reported

    // Without a program for the keypad, each says so.
    for (const QStringList &command : {QStringList{QStringLiteral("switch-layout")},
                                       QStringList{QStringLiteral("row"), QStringLiteral("Shift")},
                                       QStringList{QStringLiteral("desktop")}}) {
        Ctl none = ctl(command, ca, dir.path() + QStringLiteral("/other-keypad"));
        EXPECT_EQ(none.code, 3) << qPrintable(command.join(QLatin1Char(' ')));
        EXPECT_TRUE(none.err.contains(QStringLiteral("not running"))) << qPrintable(none.err);
    }
}

} // namespace
} // namespace pixkey::test

#include "HostBusTest.moc"
