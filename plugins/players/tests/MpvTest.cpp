// Players.pkx loaded as the host loads it, driving a real mpv (with its MPRIS script) that plays
// two generated three-minute sound files on a private session bus.
#include "PlayersTestSupport.h"

#include "PlayersResources.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusArgument>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <unistd.h>

using namespace players_test;
using namespace std::chrono_literals;

namespace {

std::string mprisScript()
{
    for (const char *path : {"/usr/lib/mpv-mpris/mpris.so", "/etc/mpv/scripts/mpris.so"})
        if (access(path, R_OK) == 0)
            return path;
    return {};
}

// One property of mpv's org.mpris.MediaPlayer2.Player.
QVariant mpvProperty(QDBusConnection &bus, const char *name)
{
    QDBusMessage message = QDBusMessage::createMethodCall(
        QStringLiteral("org.mpris.MediaPlayer2.mpv"), QStringLiteral("/org/mpris/MediaPlayer2"),
        QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    message << QStringLiteral("org.mpris.MediaPlayer2.Player") << QLatin1String(name);
    const QDBusMessage reply = bus.call(message, QDBus::Block, 5000);
    return reply.arguments().value(0).value<QDBusVariant>().variant();
}

QString mpvTitle(QDBusConnection &bus)
{
    const QVariantMap metadata = qdbus_cast<QVariantMap>(mpvProperty(bus, "Metadata"));
    return metadata.value(QStringLiteral("xesam:title")).toString();
}

std::string topRows(const QImage &image)
{
    return std::string(reinterpret_cast<const char *>(image.constBits()), 64 * PKX_FACE_STRIDE);
}

struct Library {
    explicit Library(const char *path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL))
    {
        if (handle) {
            create = reinterpret_cast<PkxCreateFn>(dlsym(handle, "Create"));
            destroy = reinterpret_cast<PkxDeleteFn>(dlsym(handle, "Delete"));
            module = PkxModule{path, handle};
        }
    }
    ~Library()
    {
        if (handle)
            dlclose(handle);
    }
    void *handle;
    PkxCreateFn create = nullptr;
    PkxDeleteFn destroy = nullptr;
    PkxModule module{};
};

} // namespace

TEST(PlayersWithMpv, KeysDriveMpvAndTheFaceFollows)
{
    if (pixkey::test::ServiceProcess::find("mpv").empty() || pixkey::test::ServiceProcess::find("sox").empty()
        || mprisScript().empty())
        GTEST_SKIP() << "mpv, its MPRIS script or sox is not installed";
    pixkey::test::SessionBus bus;
    if (!bus.running())
        GTEST_SKIP() << bus.error();

    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::string first = folder.filePath(QStringLiteral("first-tone.wav")).toStdString();
    const std::string second = folder.filePath(QStringLiteral("second-tone.wav")).toStdString();
    for (const auto &[file, pitch] : {std::pair{first, "440"}, std::pair{second, "660"}}) {
        pixkey::test::ServiceProcess sox("sox", {"-n", "-r", "8000", "-c", "1", file, "synth", "180", "sine", pitch});
        ASSERT_TRUE(sox.start());
        ASSERT_TRUE(sox.waitForExit(30s).has_value());
    }

    pixkey::test::ServiceProcess::Options o;
    o.program = "mpv";
    o.arguments = {"--no-config", "--ao=null", "--no-video", "--no-terminal", "--script=" + mprisScript(), first, second};
    o.environment = {bus.environmentEntry()};
    o.unset = {"DISPLAY"};
    pixkey::test::ServiceProcess mpv(o);
    ASSERT_TRUE(mpv.start(pixkey::test::Probe::dbusName(bus.address(), "org.mpris.MediaPlayer2.mpv")));
    QDBusConnection control = QDBusConnection::connectToBus(QString::fromStdString(bus.address()),
                                                            QStringLiteral("players-mpv-control"));
    ASSERT_TRUE(control.isConnected());
    ASSERT_TRUE(eventually([&] { return mpvTitle(control) == QStringLiteral("first-tone.wav"); }));

    // The plug-in finds the session bus through the environment, as in the host.
    bus.exportAddress();
    Library library(PLAYERS_PKX);
    ASSERT_NE(library.create, nullptr) << dlerror();
    ASSERT_NE(library.destroy, nullptr);
    PkxPlugin *keys[3];
    for (int i = 0; i < 3; ++i) {
        keys[i] = library.create(&library.module, i + 1);
        ASSERT_NE(keys[i], nullptr);
        keys[i]->ops->OnEvent(keys[i], PKX_EVENT_ACTIVATE);
    }
    PkxPlugin *previous = keys[0], *playPause = keys[1], *next = keys[2];

    const QImage playFace = players::bitmap(8012), pauseFace = players::bitmap(8019);
    Face face;
    auto paint = [&] { return playPause->ops->Paint(playPause, face.surface()); };
    ASSERT_TRUE(eventually([&] {
        paint();
        return topRows(pauseFace) == face.rows(0, 63) && face.rowsHoldOtherThan(70, 81, 0)
               && face.holdsWhiteIn(86, 95);
    })) << "playing: pause face, the title and the times";
    face.save(folder.filePath(QStringLiteral("playing.png")).toStdString());
    const std::string strip = face.rows(85, 95);
    EXPECT_TRUE(eventually([&] {
        paint();
        return face.rows(85, 95) != strip;
    })) << "the time bar moves";

    playPause->ops->OnKeyDown(playPause);
    EXPECT_TRUE(eventually([&] { return mpvProperty(control, "PlaybackStatus").toString() == QStringLiteral("Paused"); }));
    EXPECT_TRUE(eventually([&] {
        paint();
        return topRows(playFace) == face.rows(0, 63);
    })) << "paused: the pause overlay is gone";

    const std::string firstTitle = face.rows(70, 81);
    next->ops->OnKeyDown(next);
    EXPECT_TRUE(eventually([&] { return mpvTitle(control) == QStringLiteral("second-tone.wav"); }));
    EXPECT_TRUE(eventually([&] {
        paint();
        return face.rows(70, 81) != firstTitle;
    })) << "the title follows the track";

    previous->ops->OnKeyDown(previous);
    EXPECT_TRUE(eventually([&] { return mpvTitle(control) == QStringLiteral("first-tone.wav"); }));

    for (PkxPlugin *key : keys) {
        key->ops->OnEvent(key, PKX_EVENT_DEACTIVATE);
        library.destroy(key);
    }
}
