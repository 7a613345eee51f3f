// pixkeyctl's catalogue and layout commands, run as the user would: a plug-in installed from
// another folder, a layout built on the command line, listed back after the program ended, and
// shown on the emulated keypad.
#include <pixkey/test/EmulatedKeypad.h>

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <chrono>

namespace {

class PixkeyctlLayouts : public ::testing::Test {
protected:
    struct Result {
        int code = -1;
        QString out;
        QString err;
    };

    Result run(const QStringList &args)
    {
        QProcess process;
        process.setProcessEnvironment(environment());
        process.start(QStringLiteral(PIXKEYCTL_PATH), args);
        Result result;
        if (!process.waitForFinished(60000)) {
            process.kill();
            process.waitForFinished(5000);
            return result;
        }
        result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        result.out = QString::fromUtf8(process.readAllStandardOutput());
        result.err = QString::fromUtf8(process.readAllStandardError());
        return result;
    }

    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path() + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home.path() + QStringLiteral("/data"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("PIXKEY_PORT"));
        return env;
    }

    // A copy of a test plug-in in a folder of its own, as a user's download would be.
    QString downloaded(const char *name)
    {
        const QString target = elsewhere.path() + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".pkx");
        QFile::copy(QStringLiteral(CORE_TEST_PLUGIN_DIR "/") + QLatin1String(name) + QStringLiteral(".pkx"), target);
        return target;
    }

    QTemporaryDir home;
    QTemporaryDir elsewhere;
};

bool anyLit(const std::vector<uint8_t> &rgb)
{
    for (uint8_t byte : rgb)
        if (byte > 16)
            return true;
    return false;
}

TEST_F(PixkeyctlLayouts, BuildListAndShowALayout)
{
    ASSERT_EQ(run({QStringLiteral("install"), downloaded("core_test_three")}).code, 0);
    ASSERT_EQ(run({QStringLiteral("install"), downloaded("core_test_alpha")}).code, 0);
    ASSERT_EQ(run({QStringLiteral("assign"), QStringLiteral("Work"), QStringLiteral("Default"), QStringLiteral("1"),
                   QStringLiteral("core_test_three:2")}).code, 0);
    ASSERT_EQ(run({QStringLiteral("assign"), QStringLiteral("Work"), QStringLiteral("shift"), QStringLiteral("2"),
                   QStringLiteral("test.alpha@Colour=indigo")}).code, 0);
    EXPECT_EQ(run({QStringLiteral("assign"), QStringLiteral("Work"), QStringLiteral("9"), QStringLiteral("1"),
                   QStringLiteral("test.alpha")}).code, 64);
    EXPECT_EQ(run({QStringLiteral("assign"), QStringLiteral("Work"), QStringLiteral("0"), QStringLiteral("1"),
                   QStringLiteral("test.missing")}).code, 1);

    const Result layouts = run({QStringLiteral("layouts")});
    ASSERT_EQ(layouts.code, 0) << layouts.err.toStdString();
    EXPECT_TRUE(layouts.out.contains(QStringLiteral(
        "Work\n  Default\n    key 1: core_test_three [test.three] function 2 \"core_test_three function 2\"\n"
        "    key 2: -\n    key 3: -\n  Shift\n    key 1: -\n"
        "    key 2: core_test_alpha [test.alpha] function 1 \"core_test_alpha\" @Colour=indigo")))
        << layouts.out.toStdString();
    EXPECT_TRUE(layouts.out.startsWith(QStringLiteral("Global\nIdle\nWork\n"))) << layouts.out.toStdString();

    const Result plugins = run({QStringLiteral("plugins")});
    ASSERT_EQ(plugins.code, 0);
    EXPECT_TRUE(plugins.out.contains(QStringLiteral("core_test_three  [test.three]  Plugins\\core_test_three.pkx\n")))
        << plugins.out.toStdString();
    EXPECT_TRUE(plugins.out.contains(QStringLiteral("    function 3: core_test_three function 3\n")));

    // Emptied again, the Shift row is gone from the listing.
    ASSERT_EQ(run({QStringLiteral("clear"), QStringLiteral("Work"), QStringLiteral("Shift"), QStringLiteral("2")}).code, 0);
    EXPECT_FALSE(run({QStringLiteral("layouts")}).out.contains(QStringLiteral("Shift")));

    pixkey::test::EmulatedKeypad emulator("keypad", home.path().toStdString());
    ASSERT_TRUE(emulator.start());
    QProcess activate;
    activate.setProcessEnvironment(environment());
    activate.start(QStringLiteral(PIXKEYCTL_PATH),
                   {QStringLiteral("--port"), QString::fromStdString(emulator.linkPath()), QStringLiteral("activate"),
                    QStringLiteral("work"), QStringLiteral("60")});
    const bool shown = emulator->waitUntil([&] { return anyLit(emulator->shownFrameRgb(1)); }, std::chrono::seconds(20));
    activate.terminate();
    ASSERT_TRUE(activate.waitForFinished(20000));
    EXPECT_TRUE(shown) << QString::fromUtf8(activate.readAllStandardError()).toStdString();
    EXPECT_EQ(activate.exitCode(), 0);
    EXPECT_FALSE(anyLit(emulator->shownFrameRgb(2)));
    EXPECT_FALSE(anyLit(emulator->shownFrameRgb(3)));
}

} // namespace
