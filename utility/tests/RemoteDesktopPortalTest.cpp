// Sending shortcuts through the remote desktop portal, against a portal from python-dbusmock
// (portals/remote_desktop.py) on a private session bus: the first use, the restore token kept and
// reused, the user declining, a portal that never answers, a session the desktop ends, no portal.
#include "RemoteDesktopPortal.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <thread>

using namespace pixkey;
using namespace std::chrono_literals;
using State = RemoteDesktopPortal::State;

namespace {

constexpr std::uint32_t kControlL = 0xffe3, kS = 0x73;

class RemoteDesktopPortalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        bus = std::make_unique<test::SessionBus>();
        if (!bus->running())
            return;
        dbusmock = std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") == 0;
        if (!dbusmock)
            return;
        test::ServiceProcess::Options options;
        options.program = "/usr/bin/python3";
        options.arguments = {"-m", "dbusmock", "--template", UTILITY_PORTAL_TEMPLATES "/remote_desktop.py"};
        options.environment = {bus->environmentEntry()};
        options.name = "remote desktop portal";
        portal = std::make_unique<test::ServiceProcess>(options);
        started = portal->start(test::Probe::dbusName(bus->address(), "org.freedesktop.portal.Desktop"), 20s);
    }
    static void TearDownTestSuite()
    {
        QDBusConnection::disconnectFromBus(QStringLiteral("test-control"));
        portal.reset();
        bus.reset();
    }

    void SetUp() override
    {
        if (!bus->running())
            GTEST_SKIP() << "no private session bus: " << bus->error();
        if (!dbusmock)
            GTEST_SKIP() << "python3-dbusmock is not installed: the portal tests are skipped";
        ASSERT_TRUE(started) << "python3-dbusmock could not start the portal: " << portal->error();
        ASSERT_TRUE(folder.isValid());
        mock(QStringLiteral("Reset"));
    }

    QStringList mock(const QString &method, const QVariantList &arguments = {})
    {
        QDBusConnection control =
            QDBusConnection::connectToBus(QString::fromStdString(bus->address()), QStringLiteral("test-control"));
        QDBusMessage call = QDBusMessage::createMethodCall(QStringLiteral("org.freedesktop.portal.Desktop"),
                                                           QStringLiteral("/org/freedesktop/portal/desktop"),
                                                           QStringLiteral("org.freedesktop.DBus.Mock"), method);
        call.setArguments(arguments);
        const QDBusMessage reply = control.call(call, QDBus::Block, 5000);
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << qPrintable(method) << ": " << qPrintable(reply.errorMessage());
        return reply.arguments().isEmpty() ? QStringList() : reply.arguments().first().toStringList();
    }

    RemoteDesktopPortal::Options options(std::chrono::milliseconds timeout = 5s) const
    {
        RemoteDesktopPortal::Options result;
        result.busAddress = QString::fromStdString(bus->address());
        result.settingsPath = settingsPath();
        result.responseTimeout = timeout;
        result.dialogTimeout = timeout;
        return result;
    }
    QString settingsPath() const { return folder.filePath(QStringLiteral("KeySending.ini")); }
    QString storedToken() const
    {
        return QSettings(settingsPath(), QSettings::IniFormat).value(QStringLiteral("RemoteDesktop/RestoreToken")).toString();
    }
    static bool sentWithin(const RemoteDesktopPortal &portal, int count, std::chrono::milliseconds deadline = 10s)
    {
        const auto end = std::chrono::steady_clock::now() + deadline;
        while (portal.sentCount() < count) {
            if (std::chrono::steady_clock::now() > end)
                return false;
            std::this_thread::sleep_for(10ms);
        }
        return true;
    }

    QTemporaryDir folder;
    static inline std::unique_ptr<test::SessionBus> bus;
    static inline std::unique_ptr<test::ServiceProcess> portal;
    static inline bool started = false;
    static inline bool dbusmock = false;
};

} // namespace

TEST_F(RemoteDesktopPortalTest, FirstUseAsksThenTypesAndKeepsTheRestoreToken)
{
    RemoteDesktopPortal portal(options());
    ASSERT_TRUE(portal.waitWhileProbing(5s));
    // Nothing granted yet: the report names the step, and no dialog is asked for by reporting.
    const CapabilityReport before = portal.report();
    EXPECT_EQ(before.state, CapabilityState::NeedsStep);
    EXPECT_FALSE(before.step.empty());
    EXPECT_TRUE(mock(QStringLiteral("RestoreTokens")).isEmpty());

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(portal.send({kControlL, kS}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms); // the press is never held for the dialog
    ASSERT_TRUE(sentWithin(portal, 1)) << qPrintable(portal.lastError());
    EXPECT_EQ(mock(QStringLiteral("Keys")),
              QStringList({QStringLiteral("65507 1"), QStringLiteral("115 1"), QStringLiteral("115 0"), QStringLiteral("65507 0")}));
    EXPECT_EQ(mock(QStringLiteral("RestoreTokens")), QStringList({QString()}));
    EXPECT_EQ(mock(QStringLiteral("RegisteredIds")), QStringList({QStringLiteral("com.vostrel.PixkeyMini")}));
    EXPECT_EQ(storedToken(), QStringLiteral("token-1"));
    EXPECT_EQ(portal.report().state, CapabilityState::Working);

    // Further presses use the running session.
    ASSERT_TRUE(portal.send({kS}));
    ASSERT_TRUE(sentWithin(portal, 2));
    EXPECT_EQ(mock(QStringLiteral("RestoreTokens")).size(), 1);
}

TEST_F(RemoteDesktopPortalTest, TheNextStartReusesTheStoredTokenAndStoresTheNewOne)
{
    {
        RemoteDesktopPortal first(options());
        ASSERT_TRUE(first.send({kS}));
        ASSERT_TRUE(sentWithin(first, 1)) << qPrintable(first.lastError());
    }
    ASSERT_EQ(storedToken(), QStringLiteral("token-1"));

    RemoteDesktopPortal second(options());
    ASSERT_TRUE(second.waitWhileProbing(5s));
    EXPECT_EQ(second.report().state, CapabilityState::Working) << second.report().how; // allowed earlier
    ASSERT_TRUE(second.send({kS}));
    ASSERT_TRUE(sentWithin(second, 1)) << qPrintable(second.lastError());
    EXPECT_EQ(mock(QStringLiteral("RestoreTokens")), QStringList({QString(), QStringLiteral("token-1")}));
    EXPECT_EQ(storedToken(), QStringLiteral("token-2")); // tokens are single-use
}

TEST_F(RemoteDesktopPortalTest, UserDecliningDropsThePressAndTheNextPressAsksAgain)
{
    mock(QStringLiteral("SetBehaviour"), {QVariant::fromValue(1u), QStringList()});
    RemoteDesktopPortal portal(options());
    ASSERT_TRUE(portal.send({kControlL, kS}));
    ASSERT_TRUE(portal.waitForState(State::Refused, 10s)) << qPrintable(portal.lastError());
    EXPECT_EQ(portal.report().state, CapabilityState::NeedsStep);
    EXPECT_TRUE(storedToken().isEmpty());

    mock(QStringLiteral("SetBehaviour"), {QVariant::fromValue(0u), QStringList()});
    ASSERT_TRUE(portal.send({kS}));
    ASSERT_TRUE(sentWithin(portal, 1)) << qPrintable(portal.lastError());
    // Only the press made after the user agreed was typed.
    EXPECT_EQ(mock(QStringLiteral("Keys")), QStringList({QStringLiteral("115 1"), QStringLiteral("115 0")}));
}

TEST_F(RemoteDesktopPortalTest, APortalThatNeverAnswersFailsWithAClearReport)
{
    for (const char *silent : {"CreateSession", "Start"}) {
        SCOPED_TRACE(silent);
        mock(QStringLiteral("SetBehaviour"), {QVariant::fromValue(0u), QStringList({QString::fromLatin1(silent)})});
        RemoteDesktopPortal portal(options(300ms));
        ASSERT_TRUE(portal.send({kS}));
        ASSERT_TRUE(portal.waitForState(State::Failed, 10s));
        EXPECT_TRUE(portal.lastError().contains(QStringLiteral("did not answer within 0.3 s"))) << qPrintable(portal.lastError());
        const CapabilityReport report = portal.report();
        EXPECT_EQ(report.state, CapabilityState::Unavailable);
        EXPECT_NE(report.how.find("did not answer"), std::string::npos) << report.how;
        EXPECT_EQ(portal.sentCount(), 0);
    }
    EXPECT_TRUE(mock(QStringLiteral("Keys")).isEmpty());
}

TEST_F(RemoteDesktopPortalTest, ASessionTheDesktopEndedIsMadeAgainAtTheNextPress)
{
    RemoteDesktopPortal portal(options());
    ASSERT_TRUE(portal.send({kS}));
    ASSERT_TRUE(sentWithin(portal, 1)) << qPrintable(portal.lastError());
    mock(QStringLiteral("CloseSessions"));
    ASSERT_TRUE(portal.waitForState(State::Idle, 10s));
    ASSERT_TRUE(portal.send({kS}));
    ASSERT_TRUE(sentWithin(portal, 2)) << qPrintable(portal.lastError());
    EXPECT_EQ(mock(QStringLiteral("RestoreTokens")), QStringList({QString(), QStringLiteral("token-1")}));
}

TEST_F(RemoteDesktopPortalTest, WithoutAPortalNothingIsQueued)
{
    test::SessionBus empty;
    ASSERT_TRUE(empty.running()) << empty.error();
    RemoteDesktopPortal::Options settings = options();
    settings.busAddress = QString::fromStdString(empty.address());
    RemoteDesktopPortal portal(settings);
    ASSERT_TRUE(portal.waitForState(State::Absent, 10s));
    EXPECT_FALSE(portal.send({kS}));
    const CapabilityReport report = portal.report();
    EXPECT_EQ(report.state, CapabilityState::Unavailable);
    EXPECT_NE(report.how.find("no remote desktop portal"), std::string::npos) << report.how;
}

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv); // QtDBus and the portal's worker need the application object
    return RUN_ALL_TESTS();
}
