#include "RuntimeFixture.h"

#include "SwitcherFakes.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

namespace pixkey::test {

void RuntimeFixture::SetUp()
{
    testApplication();
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/program/Plugins")));
    ASSERT_TRUE(QDir().mkpath(dir.path() + QStringLiteral("/peers")));
    QFile::setPermissions(dir.path() + QStringLiteral("/peers"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::copy(QStringLiteral(VEGAS_PLUGIN_PATH), dir.path() + QStringLiteral("/program/Plugins/Vegas.pkx")));
}

void RuntimeFixture::TearDown()
{
    keypads.clear();
    QCoreApplication::processEvents();
}

QString RuntimeFixture::storeFolder(const QString &name) const
{
    return dir.path() + QStringLiteral("/store-") + name;
}

std::unique_ptr<Runtime> RuntimeFixture::makeRuntime(const QString &name, const QString &port, QStringList arguments)
{
    qputenv("PIXKEY_PORT", port.toLocal8Bit());
    Runtime::Options options;
    options.arguments = std::move(arguments);
    options.storeFolder = storeFolder(name);
    options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user-") + name};
    options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
    options.hook.useDisplay = false;
    options.watchSession = false;
    options.watchDevices = false;
    options.window = [](AppCore &core) { return std::make_unique<RecordingWindow>(core); };
    options.onExit = [this](int code) { exitCodes.push_back(code); };
    return std::make_unique<Runtime>(std::move(options));
}

KeypadEmulator &RuntimeFixture::startKeypad(const QString &name)
{
    keypads.push_back(std::make_unique<EmulatedKeypad>(name.toStdString(), dir.path().toStdString()));
    EXPECT_TRUE(keypads.back()->start());
    return keypads.back()->emulator();
}

bool RuntimeFixture::pumpUntil(const std::function<bool()> &done, std::chrono::milliseconds timeout)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeout.count())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace pixkey::test
