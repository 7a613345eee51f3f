// Starting with the desktop: the user's autostart entry as Autostart and `pixkeyctl autostart`
// write, read and remove it, in a temporary configuration folder.

#include "Autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace {

using pixkey::Autostart;

QString readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

QString execLine(const QString &entry)
{
    for (const QString &line : entry.split(QLatin1Char('\n')))
        if (line.startsWith(QStringLiteral("Exec=")))
            return line.mid(5);
    return QString();
}

TEST(Autostart, OnWritesAnEntryThatStartsTheConfiguratorMinimizedAndOffRemovesIt)
{
    QTemporaryDir config;
    const Autostart autostart(config.path(), QStringLiteral(CONFIGURATOR_PATH));
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_TRUE(autostart.disable()); // nothing to remove is no failure

    QString error;
    ASSERT_TRUE(autostart.enable(&error)) << qPrintable(error);
    EXPECT_EQ(autostart.entryPath(), config.path() + QStringLiteral("/autostart/com.vostrel.PixkeyMini.desktop"));
    EXPECT_TRUE(autostart.isEnabled());
    const QString entry = readAll(autostart.entryPath());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n"))) << qPrintable(entry);
    EXPECT_TRUE(entry.contains(QStringLiteral("\nType=Application\n"))) << qPrintable(entry);
    EXPECT_TRUE(execLine(entry).endsWith(QStringLiteral(" minimized"))) << qPrintable(entry);

    // Turning it on again replaces the entry rather than failing or adding a second one.
    ASSERT_TRUE(autostart.enable(&error)) << qPrintable(error);
    EXPECT_EQ(QDir(config.path() + QStringLiteral("/autostart")).entryList(QDir::Files).size(), 1);

    ASSERT_TRUE(autostart.disable(&error)) << qPrintable(error);
    EXPECT_FALSE(QFile::exists(autostart.entryPath()));
    EXPECT_FALSE(autostart.isEnabled());
}

TEST(Autostart, AnEntryTheDesktopSwitchedOffOrCannotReadCountsAsOff)
{
    QTemporaryDir config;
    const Autostart autostart(config.path(), QStringLiteral(CONFIGURATOR_PATH));
    const QByteArray head = "[Desktop Entry]\nType=Application\nExec=PixkeyMiniConfigurator minimized\n";
    writeFile(autostart.entryPath(), head + "Hidden=true\n");
    EXPECT_FALSE(autostart.isEnabled());
    writeFile(autostart.entryPath(), head + "X-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(autostart.isEnabled());
    // Keys of other groups do not count.
    writeFile(autostart.entryPath(), head + "[Desktop Action x]\nHidden=true\n");
    EXPECT_TRUE(autostart.isEnabled());
    writeFile(autostart.entryPath(), QByteArray("\x00\xff garbage without a group", 26));
    EXPECT_FALSE(autostart.isEnabled());
    // On again: the switched-off entry is replaced by a working one.
    writeFile(autostart.entryPath(), head + "Hidden=true\n");
    ASSERT_TRUE(autostart.enable());
    EXPECT_TRUE(autostart.isEnabled());
}

TEST(Autostart, FailuresSayWhyAndLeaveNoEntry)
{
    QTemporaryDir config;
    QString error;
    const Autostart missing(config.path(), config.path() + QStringLiteral("/no/PixkeyMiniConfigurator"));
    EXPECT_FALSE(missing.enable(&error));
    EXPECT_TRUE(error.contains(QStringLiteral("missing"))) << qPrintable(error);
    EXPECT_FALSE(QFile::exists(missing.entryPath()));

    // A configuration "folder" that is a file cannot hold the entry (this holds for root too).
    writeFile(config.path() + QStringLiteral("/file"), "x");
    const Autostart blocked(config.path() + QStringLiteral("/file"), QStringLiteral(CONFIGURATOR_PATH));
    error.clear();
    EXPECT_FALSE(blocked.enable(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(blocked.isEnabled());
}

TEST(Autostart, ExecNamesTheProgramOnPathOrItsQuotedPath)
{
    // Desktop entry quoting: reserved characters put the path in double quotes, where ", `, $ and
    // \ take a backslash; then a string value doubles every backslash and '%' is doubled.
    EXPECT_EQ(Autostart::quoteExecArgument(QStringLiteral("/opt/pixkey/PixkeyMiniConfigurator")),
              QStringLiteral("/opt/pixkey/PixkeyMiniConfigurator"));
    EXPECT_EQ(Autostart::quoteExecArgument(QStringLiteral("/home/a b/$x/\"q\"/c\\d/100%/P")),
              QStringLiteral("\"/home/a b/\\\\$x/\\\\\"q\\\\\"/c\\\\\\\\d/100%%/P\""));

    QTemporaryDir dir;
    const QString copy = dir.path() + QStringLiteral("/my apps/PixkeyMiniConfigurator");
    QDir().mkpath(dir.path() + QStringLiteral("/my apps"));
    ASSERT_TRUE(QFile::link(QStringLiteral(CONFIGURATOR_PATH), copy));
    const QByteArray oldPath = qgetenv("PATH");
    qputenv("PATH", "/usr/bin:/bin");
    const Autostart notOnPath(dir.path(), copy);
    EXPECT_EQ(notOnPath.execCommand(), QStringLiteral("\"") + copy + QStringLiteral("\""));

    // Installed: the name on PATH leads to this very program, so the entry names it bare and
    // survives the program moving inside its package.
    const QString bin = dir.path() + QStringLiteral("/bin");
    QDir().mkpath(bin);
    ASSERT_TRUE(QFile::link(copy, bin + QStringLiteral("/PixkeyMiniConfigurator")));
    qputenv("PATH", (bin + QStringLiteral(":/usr/bin:/bin")).toLocal8Bit());
    EXPECT_EQ(notOnPath.execCommand(), QStringLiteral("PixkeyMiniConfigurator"));
    // Another program of that name on PATH is not this one.
    const Autostart other(dir.path(), QStringLiteral("/usr/bin/true"));
    EXPECT_EQ(other.execCommand(), QStringLiteral("/usr/bin/true"));
    qputenv("PATH", oldPath);
}

TEST(Autostart, PixkeyctlTurnsItOnAndOffAndTellsWhich)
{
    QTemporaryDir config;
    const auto ctl = [&](const QStringList &args, QString *out = nullptr) {
        QProcess process;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), config.path());
        process.setProcessEnvironment(env);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(QStringLiteral(PIXKEYCTL_PATH), QStringList{QStringLiteral("autostart")} + args);
        if (!process.waitForFinished(60000))
            return -1;
        if (out)
            *out = QString::fromLocal8Bit(process.readAll());
        return process.exitCode();
    };
    QString out;
    EXPECT_EQ(ctl({QStringLiteral("status")}, &out), 0);
    EXPECT_EQ(out, QStringLiteral("off\n"));
    EXPECT_EQ(ctl({QStringLiteral("on")}, &out), 0) << qPrintable(out);
    EXPECT_TRUE(out.startsWith(QStringLiteral("on: "))) << qPrintable(out);
    const QString entry = readAll(config.path() + QStringLiteral("/autostart/com.vostrel.PixkeyMini.desktop"));
    // pixkeyctl names the configurator beside itself.
    EXPECT_TRUE(execLine(entry).contains(QStringLiteral("PixkeyMiniConfigurator"))) << qPrintable(entry);
    EXPECT_EQ(ctl({QStringLiteral("status")}, &out), 0);
    EXPECT_TRUE(out.startsWith(QStringLiteral("on: "))) << qPrintable(out);
    EXPECT_EQ(ctl({QStringLiteral("off")}, &out), 0);
    EXPECT_EQ(out, QStringLiteral("off\n"));
    EXPECT_EQ(ctl({QStringLiteral("maybe")}), 64);
    EXPECT_EQ(ctl({}), 64);
}

} // namespace
