// PixkeyMiniConfigurator as a program: started with the virtual keypad and the demonstration,
// ended by SIGTERM like the Exit command; a second copy without a keypad of its own ends at once.
// Off-screen, without a display, with its settings and peers in a temporary folder.
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <functional>

namespace {

bool waitFor(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        QThread::msleep(50);
    }
    return true;
}

class ProgramTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        QFile::setPermissions(dir.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
    void TearDown() override
    {
        for (QProcess *process : {&first, &second})
            if (process->state() != QProcess::NotRunning) {
                process->kill();
                process->waitForFinished(5000);
            }
    }
    void start(QProcess &process, const QStringList &arguments, const QString &port = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        env.remove(QStringLiteral("PIXKEY_PORT"));
        if (!port.isEmpty())
            env.insert(QStringLiteral("PIXKEY_PORT"), port);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), dir.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.path());
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + dir.path() + QStringLiteral("/no-bus"));
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(QStringLiteral(PROGRAM_PATH), arguments);
        ASSERT_TRUE(process.waitForStarted(10000));
    }
    QString settings() const
    {
        QFile file(dir.path() + QStringLiteral("/config/Vostrel/PixkeyMini.ini"));
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }

    QTemporaryDir dir;
    QProcess first;
    QProcess second;
};

TEST_F(ProgramTest, DemonstrationOnTheVirtualKeypadEndsInOrderOnSigterm)
{
    start(first, {QStringLiteral("--virtual-keypad"), QStringLiteral("--seed-demo"), QStringLiteral("MINIMIZED")});
    // The demonstration is saved once the reels are on "Global".
    ASSERT_TRUE(waitFor([&] { return settings().count(QStringLiteral("bsp.vegas.mfc5")) >= 3; }, std::chrono::seconds(30)))
        << settings().toStdString();

    // A second copy without a keypad of its own shows the first and ends.
    start(second, {}, dir.path() + QStringLiteral("/no-keypad-here"));
    ASSERT_TRUE(second.waitForFinished(20000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);

    ::kill(pid_t(first.processId()), SIGTERM);
    ASSERT_TRUE(first.waitForFinished(20000));
    EXPECT_EQ(first.exitStatus(), QProcess::NormalExit); // ended by its own Exit, not by the signal
    EXPECT_EQ(first.exitCode(), 0);
    EXPECT_TRUE(settings().contains(QStringLiteral("SizeX=")));
}

} // namespace
