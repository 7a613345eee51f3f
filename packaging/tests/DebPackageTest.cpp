// The Debian package as a user gets it, checked without installing it: what it holds, its control
// data and dependencies, lintian, the desktop and AppStream validators, and the unpacked tree run
// as it is (dpkg -x into a temporary folder): its programs find their libraries and plug-ins in
// the package's own layout, and the configurator drives an emulated keypad.
//
// The package is built once per test run by the CTest fixture packaging_build_deb into DEB_DIR.

#include <pixkey/test/ServiceProcess.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

using namespace std::chrono_literals;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;

const QString kPrivate = QStringLiteral("/usr/lib/pixkey-mini");
const QStringList kPrograms = {QStringLiteral("PixkeyMiniConfigurator"), QStringLiteral("pixkeyctl"),
                               QStringLiteral("pixkey-emulator")};

struct Result {
    int code = -1;
    QString output; // stdout and stderr
};

Result run(const QString &program, const QStringList &arguments, const QProcessEnvironment &env = {},
           int timeoutMs = 240000)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (!env.isEmpty())
        process.setProcessEnvironment(env);
    process.start(program, arguments);
    Result result;
    if (!process.waitForStarted(30000)) {
        result.output = program + QStringLiteral(" does not start: ") + process.errorString();
        return result;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        result.output = program + QStringLiteral(" did not finish: ") + QString::fromLocal8Bit(process.readAll());
        return result;
    }
    result.code = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.output = QString::fromLocal8Bit(process.readAll());
    return result;
}

QString debFile()
{
    const QStringList found = QDir(QStringLiteral(DEB_DIR)).entryList({QStringLiteral("pixkey-mini_*.deb")}, QDir::Files);
    return found.size() == 1 ? QStringLiteral(DEB_DIR "/") + found.first() : QString();
}

// The file names the build put into its Plugins folder: what the package must carry.
QStringList builtPluginFolder()
{
    return QDir(QStringLiteral(BUILD_PLUGIN_DIR)).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

bool isElf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(4) == QByteArray("\x7f" "ELF", 4);
}

class Deb : public ::testing::Test {
protected:
    void SetUp() override
    {
        deb = debFile();
        ASSERT_FALSE(deb.isEmpty()) << "exactly one pixkey-mini_*.deb expected in " DEB_DIR
                                       " (made by the test packaging_build_deb)";
        ASSERT_TRUE(tree.isValid());
        const Result unpacked = run(QStringLiteral("dpkg"), {QStringLiteral("-x"), deb, tree.path()});
        ASSERT_EQ(unpacked.code, 0) << qPrintable(unpacked.output);
        root = tree.path();
    }

    // A clean environment for the unpacked programs: no display, no user folders, no bus, no
    // library path, and nothing of the build folder.
    QProcessEnvironment userEnvironment(const QString &home) const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "PIXKEY_PORT", "LD_LIBRARY_PATH", "QT_PLUGIN_PATH"})
            env.remove(QLatin1String(name));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/config"));
        env.insert(QStringLiteral("XDG_DATA_HOME"), home + QStringLiteral("/data"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + home + QStringLiteral("/no-bus"));
        env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), QStringLiteral("unix:path=") + home + QStringLiteral("/no-bus"));
        return env;
    }

    static std::vector<std::string> unsetNames(bool keepPort)
    {
        std::vector<std::string> names{"DISPLAY", "WAYLAND_DISPLAY", "LD_LIBRARY_PATH", "QT_PLUGIN_PATH"};
        if (!keepPort)
            names.push_back("PIXKEY_PORT");
        return names;
    }

    static std::vector<std::string> toEnv(const QProcessEnvironment &env)
    {
        std::vector<std::string> entries;
        for (const QString &entry : env.toStringList())
            entries.push_back(entry.toStdString());
        return entries;
    }

    QString deb;
    QTemporaryDir tree;
    QString root;
};

TEST_F(Deb, HoldsTheProgramsPluginsAndDesktopFiles)
{
    const Result listing = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-c"), deb});
    ASSERT_EQ(listing.code, 0) << qPrintable(listing.output);
    QStringList paths;
    for (const QString &line : listing.output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        // "-rwxr-xr-x root/root 12345 2026-12-08 12:00 ./usr/bin/x -> target"
        const qsizetype at = line.indexOf(QStringLiteral(" ./"));
        ASSERT_GT(at, 0) << qPrintable(line);
        EXPECT_TRUE(line.contains(QStringLiteral(" root/root "))) << qPrintable(line);
        paths << line.mid(at + 2);
    }
    const auto holds = [&](const QString &path) { return paths.contains(path); };

    for (const QString &program : kPrograms) {
        EXPECT_TRUE(holds(QStringLiteral("/usr/bin/") + program + QStringLiteral(" -> ../lib/pixkey-mini/") + program))
            << qPrintable(program) << " is not linked into /usr/bin";
        EXPECT_TRUE(holds(kPrivate + QLatin1Char('/') + program)) << qPrintable(program);
        EXPECT_TRUE(holds(QStringLiteral("/usr/share/man/man1/") + program + QStringLiteral(".1.gz"))) << qPrintable(program);
    }
    EXPECT_TRUE(holds(kPrivate + QStringLiteral("/libUtility.so")));
    // Whatever a plug-in keeps beside itself in the build goes with it: the plug-ins, their data
    // (the clock's city table) and their helpers.
    const QStringList plugins = builtPluginFolder();
    EXPECT_TRUE(plugins.contains(QStringLiteral("Clock.pkx")) && plugins.contains(QStringLiteral("ClockTimezones.txt")))
        << "the build's Plugins folder lacks the clock: " << qPrintable(plugins.join(QLatin1Char(' ')));
    for (const QString &file : plugins)
        EXPECT_TRUE(holds(kPrivate + QStringLiteral("/Plugins/") + file)) << qPrintable(file) << " is not in the package";

    for (const char *path : {"/usr/share/applications/com.vostrel.PixkeyMini.desktop",
                             "/usr/share/metainfo/com.vostrel.PixkeyMini.metainfo.xml",
                             "/usr/share/icons/hicolor/scalable/apps/pixkey-mini.svg",
                             "/usr/lib/udev/rules.d/70-pixkey-mini.rules",
                             "/usr/share/bash-completion/completions/pixkeyctl",
                             "/usr/share/doc/pixkey-mini/copyright", "/usr/share/doc/pixkey-mini/changelog.gz",
                             "/usr/share/doc/pixkey-mini/60-pixkey-mini-uinput.rules",
                             "/usr/share/gnome-shell/extensions/pixkey-mini@vostrel.com/extension.js",
                             "/usr/share/gnome-shell/extensions/pixkey-mini@vostrel.com/metadata.json"})
        EXPECT_TRUE(holds(QLatin1String(path))) << path;
    for (int size : {16, 32, 48, 64, 128, 256}) {
        const QString icon = QStringLiteral("/usr/share/icons/hicolor/%1x%1/apps/pixkey-mini.png").arg(size);
        ASSERT_TRUE(holds(icon)) << qPrintable(icon);
        const QImage image(root + icon);
        EXPECT_EQ(image.size(), QSize(size, size)) << qPrintable(icon);
        // Drawn, not empty: the middle of the icon is opaque.
        EXPECT_EQ(qAlpha(image.pixel(size / 2, size / 2)), 255) << qPrintable(icon);
    }
    for (const QString &path : paths)
        EXPECT_FALSE(path.contains(QStringLiteral(BUILD_DIR))) << qPrintable(path);
}

TEST_F(Deb, ControlNamesTheLibrariesItNeeds)
{
    const Result fields = run(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), deb, QStringLiteral("Package"),
                                                          QStringLiteral("Version"), QStringLiteral("Architecture"),
                                                          QStringLiteral("Depends"), QStringLiteral("Maintainer")});
    ASSERT_EQ(fields.code, 0) << qPrintable(fields.output);
    const QString &f = fields.output;
    EXPECT_TRUE(f.contains(QStringLiteral("Package: pixkey-mini\n"))) << qPrintable(f);
    EXPECT_TRUE(f.contains(QStringLiteral("Version: " PACKAGE_VERSION "\n"))) << qPrintable(f);
    const Result arch = run(QStringLiteral("dpkg"), {QStringLiteral("--print-architecture")});
    EXPECT_TRUE(f.contains(QStringLiteral("Architecture: ") + arch.output.trimmed())) << qPrintable(f);
    // Computed from the programs' and plug-ins' libraries, with versions.
    for (const char *library : {"libc6 (>=", "libqt6core6", "libqt6widgets6", "libqt6svg6", "libcurl4"})
        EXPECT_TRUE(f.contains(QLatin1String(library))) << library << " missing in " << qPrintable(f);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("Maintainer: .+ <[^@ ]+@[^@ ]+>")).match(f).hasMatch()) << qPrintable(f);
}

TEST_F(Deb, LintianReportsNoErrors)
{
    const Result lintian = run(QStringLiteral("lintian"), {QStringLiteral("--tag-display-limit"), QStringLiteral("0"), deb});
    ASSERT_NE(lintian.code, -1) << qPrintable(lintian.output);
    for (const QString &line : lintian.output.split(QLatin1Char('\n')))
        EXPECT_FALSE(line.startsWith(QStringLiteral("E: "))) << qPrintable(line);
}

TEST_F(Deb, DesktopEntryAndAppStreamDataValidate)
{
    const Result desktop = run(QStringLiteral("desktop-file-validate"),
                               {root + QStringLiteral("/usr/share/applications/com.vostrel.PixkeyMini.desktop")});
    EXPECT_EQ(desktop.code, 0) << qPrintable(desktop.output);
    EXPECT_FALSE(desktop.output.contains(QStringLiteral("error:")) || desktop.output.contains(QStringLiteral("warning:")))
        << qPrintable(desktop.output);
    const Result metainfo =
        run(QStringLiteral("appstreamcli"), {QStringLiteral("validate"), QStringLiteral("--no-net"),
                                             root + QStringLiteral("/usr/share/metainfo/com.vostrel.PixkeyMini.metainfo.xml")});
    EXPECT_EQ(metainfo.code, 0) << qPrintable(metainfo.output);
    QFile xml(root + QStringLiteral("/usr/share/metainfo/com.vostrel.PixkeyMini.metainfo.xml"));
    ASSERT_TRUE(xml.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(xml.readAll()).contains(QRegularExpression(QStringLiteral("<image>https://[^<]+\\.png</image>"))));
}

TEST_F(Deb, UdevRuleGivesTheSeatTheAdapterBeforeTheSeatRulesRun)
{
    QFile rules(root + QStringLiteral("/usr/lib/udev/rules.d/70-pixkey-mini.rules"));
    ASSERT_TRUE(rules.open(QIODevice::ReadOnly | QIODevice::Text));
    int matching = 0;
    for (const QString &raw : QString::fromUtf8(rules.readAll()).split(QLatin1Char('\n'))) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (!line.contains(QStringLiteral("ATTRS{idVendor}==\"067b\"")))
            continue;
        ++matching;
        EXPECT_TRUE(line.contains(QStringLiteral("SUBSYSTEM==\"tty\""))) << qPrintable(line);
        EXPECT_TRUE(line.contains(QStringLiteral("ATTRS{idProduct}==\"2303\""))) << qPrintable(line);
        EXPECT_TRUE(line.contains(QStringLiteral("TAG+=\"uaccess\""))) << qPrintable(line);
        EXPECT_TRUE(line.contains(QStringLiteral("ENV{ID_MM_DEVICE_IGNORE}=\"1\""))) << qPrintable(line);
    }
    EXPECT_EQ(matching, 1);
    // uaccess is turned into an ACL by 73-seat-late.rules; ModemManager looks at 80-mm-candidate.
    EXPECT_LT(QFileInfo(rules).fileName().left(2).toInt(), 73);
}

TEST_F(Deb, EveryProgramAndPluginFindsItsLibrariesInsideTheTree)
{
    QDirIterator it(root + kPrivate, QDir::Files, QDirIterator::Subdirectories);
    int checked = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        if (!isElf(file))
            continue;
        ++checked;
        const Result dynamic = run(QStringLiteral("readelf"), {QStringLiteral("-d"), file});
        for (const QString &line : dynamic.output.split(QLatin1Char('\n'))) {
            if (!line.contains(QStringLiteral("(RUNPATH)")) && !line.contains(QStringLiteral("(RPATH)")))
                continue;
            const QString value = line.section(QLatin1Char('['), 1).section(QLatin1Char(']'), 0, 0);
            // Relative to the file itself, or a system folder (a helper that loads an office
            // suite's own libraries); never the build or source tree.
            for (const QString &entry : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
                EXPECT_TRUE(entry.startsWith(QStringLiteral("$ORIGIN")) || entry.startsWith(QStringLiteral("/usr/lib/")))
                    << qPrintable(file) << ": " << qPrintable(line);
                EXPECT_FALSE(entry.contains(QStringLiteral(BUILD_DIR)) || entry.contains(QStringLiteral(SOURCE_DIR)))
                    << qPrintable(file) << ": " << qPrintable(line);
            }
        }
        const Result ldd = run(QStringLiteral("ldd"), {file}, userEnvironment(tree.path()));
        EXPECT_FALSE(ldd.output.contains(QStringLiteral("not found"))) << qPrintable(file) << "\n" << qPrintable(ldd.output);
        for (const QString &line : ldd.output.split(QLatin1Char('\n'))) {
            // "libUtility.so => /path/libUtility.so (0x...)"
            if (line.contains(QStringLiteral("libUtility.so =>"))) {
                const QString found = line.section(QStringLiteral("=> "), 1).section(QStringLiteral(" ("), 0, 0);
                EXPECT_EQ(QFileInfo(found).canonicalFilePath(),
                          QFileInfo(root + kPrivate + QStringLiteral("/libUtility.so")).canonicalFilePath())
                    << qPrintable(file) << ": " << qPrintable(line);
            }
        }
    }
    EXPECT_GE(checked, 3 + 1 + 3); // the programs, Utility and at least the three model plug-ins
}

TEST_F(Deb, PixkeyctlListsTheBundledPluginsFromThePackagesLayout)
{
    QTemporaryDir home;
    const Result plugins = run(root + QStringLiteral("/usr/bin/pixkeyctl"), {QStringLiteral("plugins")},
                               userEnvironment(home.path()), 120000);
    ASSERT_EQ(plugins.code, 0) << qPrintable(plugins.output);
    for (const QString &file : builtPluginFolder()) {
        if (!file.endsWith(QStringLiteral(".pkx")))
            continue;
        EXPECT_TRUE(plugins.output.contains(QStringLiteral("file: ") + root + kPrivate + QStringLiteral("/Plugins/") + file))
            << qPrintable(file) << " not loaded from the package:\n" << qPrintable(plugins.output);
    }
}

TEST_F(Deb, ConfiguratorStartsOffscreenAgainstTheEmulatorAndShowsFaces)
{
    QTemporaryDir home;
    const QString link = home.path() + QStringLiteral("/keypad");
    const QString png = home.path() + QStringLiteral("/keys.png");
    const QProcessEnvironment env = userEnvironment(home.path());

    ServiceProcess emulator(ServiceProcess::Options{
        (root + QStringLiteral("/usr/bin/pixkey-emulator")).toStdString(),
        {"--link", link.toStdString(), "--png", png.toStdString()}, toEnv(env), unsetNames(false), {}, "pixkey-emulator"});
    ASSERT_TRUE(emulator.start(Probe::file(link.toStdString())));

    QProcessEnvironment withPort = env;
    withPort.insert(QStringLiteral("PIXKEY_PORT"), link);
    ServiceProcess configurator(ServiceProcess::Options{
        (root + QStringLiteral("/usr/bin/PixkeyMiniConfigurator")).toStdString(),
        {"minimized", "--seed-demo"}, toEnv(withPort), unsetNames(true), {}, "PixkeyMiniConfigurator"});
    ASSERT_TRUE(configurator.start());

    // Three Vegas reels: every key shows a face that is not black.
    const auto keyLit = [](const QImage &image, int key) {
        const int x0 = 16 + key * (96 + 16), y0 = 16;
        int lit = 0;
        for (int y = y0; y < y0 + 96; y += 2)
            for (int x = x0; x < x0 + 96; x += 2)
                lit += std::max({qRed(image.pixel(x, y)), qGreen(image.pixel(x, y)), qBlue(image.pixel(x, y))}) > 50;
        return lit > 30; // a dark key has none; spinning reels have streaks of colour

    };
    bool shown = false;
    const auto deadline = std::chrono::steady_clock::now() + 90s;
    while (!shown && std::chrono::steady_clock::now() < deadline && configurator.running()) {
        const QImage image(png);
        shown = !image.isNull() && image.width() >= 16 * 2 + 3 * 96 && keyLit(image, 0) && keyLit(image, 1) &&
                keyLit(image, 2);
        if (!shown)
            std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(shown) << "the keys stay dark\n" << configurator.output();
    EXPECT_TRUE(configurator.running()) << configurator.output();
    // It found its plug-ins in the package, not anywhere else.
    EXPECT_EQ(configurator.output().find(BUILD_DIR), std::string::npos) << configurator.output();
}

} // namespace

int main(int argc, char **argv)
{
    // QImage needs a GUI application for nothing but its image readers; offscreen suffices.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
