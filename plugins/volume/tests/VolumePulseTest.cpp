// The Volume keys against a real PulseAudio server that the test program starts: the keys' rules
// with the sound-server back end, faces following changes made by other programs, and Volume.pkx
// as the host loads it.
#include "PulseVolumeControl.h"
#include "SoundServer.h"
#include "VolumePlugin.h"
#include "VolumeScale.h"
#include "VolumeTestSupport.h"

#include <cstdlib>

namespace volume {
namespace {

using test::barOf;
using test::eventually;
using test::Face;
using test::Key;
using test::Library;
using test::SoundServer;
using namespace std::chrono_literals;

// One server for the whole program, named to every client through PULSE_SERVER.
class SoundServerEnvironment : public ::testing::Environment {
public:
    static SoundServer *server;

    void SetUp() override
    {
        server = new SoundServer();
        const auto started = server->start();
        ASSERT_TRUE(started);
        setenv("PULSE_SERVER", server->address().c_str(), 1);
    }
    void TearDown() override
    {
        delete server;
        server = nullptr;
    }
};
SoundServer *SoundServerEnvironment::server = nullptr;
const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new SoundServerEnvironment);

// A key of `kind` driving the server's default sink, with the back end in reach of the test.
struct PulseKey {
    explicit PulseKey(int kind)
    {
        auto owned = std::make_unique<PulseVolumeControl>(SoundServerEnvironment::server->address());
        control = owned.get();
        plugin = std::make_unique<VolumePlugin>(kind, std::move(owned));
        plugin->OnEvent(PKX_EVENT_ACTIVATE);
    }
    ~PulseKey() { plugin->OnEvent(PKX_EVENT_DEACTIVATE); }

    std::string paintedBar()
    {
        plugin->Paint(face.surface);
        return barOf(face);
    }
    // Waits until the back end has seen the level and mute state another program set.
    bool sees(unsigned level, bool muted)
    {
        return eventually([&] { return control->GetVolume() == level && (control->GetMute() != 0) == muted; });
    }

    PulseVolumeControl *control;
    std::unique_ptr<VolumePlugin> plugin;
    Face face;
};

class VolumePulse : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_NE(SoundServerEnvironment::server, nullptr);
        server().setSinkMuted(false);
        server().setSinkVolume({pulseFromLevel(30000), pulseFromLevel(30000)});
    }
    static SoundServer &server() { return *SoundServerEnvironment::server; }
    static std::vector<unsigned> both(unsigned level) { return {pulseFromLevel(level), pulseFromLevel(level)}; }
};

TEST_F(VolumePulse, BarFollowsLevelAndMuteSetByAnotherProgram)
{
    PulseKey key(VolumePlugin::Up);
    ASSERT_TRUE(key.control->attached()); // Open waited for the first answer
    EXPECT_EQ(key.plugin->Paint(key.face.surface), 1);
    EXPECT_EQ(barOf(key.face), "####......");
    EXPECT_EQ(key.plugin->Paint(key.face.surface), 0) << "unchanged level and mute draw nothing";

    struct Case {
        unsigned level;
        bool muted;
        const char *bar;
    };
    for (const Case &c : {Case{65535, false, "##########"}, Case{6553, false, "#........."},
                          Case{6552, false, ".........."}, Case{65535, true, "oooooooooo"},
                          Case{6553, true, "o........."}, Case{6552, true, ".........."}}) {
        server().setSinkVolume(both(c.level));
        server().setSinkMuted(c.muted);
        ASSERT_TRUE(key.sees(c.level, c.muted)) << c.level;
        EXPECT_EQ(key.plugin->Paint(key.face.surface), 1) << c.level;
        EXPECT_EQ(barOf(key.face), c.bar) << c.level << (c.muted ? " muted" : "");
        EXPECT_EQ(key.plugin->Paint(key.face.surface), 0);
    }
}

TEST_F(VolumePulse, UpAndDownMoveByATenthWithinTheRange)
{
    struct Case {
        int kind;
        unsigned before;
        unsigned after;
    };
    for (const Case &c : {Case{VolumePlugin::Up, 60000, 65535}, Case{VolumePlugin::Up, 30000, 36553},
                          Case{VolumePlugin::Down, 6553, 0}, Case{VolumePlugin::Down, 6554, 1},
                          Case{VolumePlugin::Down, 65535, 58982}}) {
        PulseKey key(c.kind);
        server().setSinkVolume(both(c.before));
        ASSERT_TRUE(key.sees(c.before, false)) << c.before;
        key.plugin->OnKeyDown();
        // The press shows on the paint that follows it, before the server has answered.
        EXPECT_EQ(key.control->GetVolume(), c.after);
        EXPECT_TRUE(eventually([&] { return server().sinkVolume() == both(c.after); }))
            << c.before << " -> " << c.after << ": " << server().pactl({"get-sink-volume", "@DEFAULT_SINK@"});
        EXPECT_EQ(key.control->GetVolume(), c.after);
    }
}

TEST_F(VolumePulse, VolumeKeysUnmuteAndMoveInOnePress)
{
    for (int kind : {VolumePlugin::Up, VolumePlugin::Down}) {
        PulseKey key(kind);
        server().setSinkVolume(both(30000));
        server().setSinkMuted(true);
        ASSERT_TRUE(key.sees(30000, true));
        key.plugin->OnKeyDown();
        const unsigned expected = kind == VolumePlugin::Up ? 36553 : 23447;
        EXPECT_EQ(key.paintedBar(), kind == VolumePlugin::Up ? "#####....." : "###.......");
        EXPECT_TRUE(eventually([&] { return !server().sinkMuted() && server().sinkVolume() == both(expected); }))
            << server().pactl({"list", "sinks"});
    }
}

TEST_F(VolumePulse, MuteTogglesAndLeavesTheLevel)
{
    PulseKey key(VolumePlugin::Mute);
    ASSERT_TRUE(key.sees(30000, false));
    key.plugin->OnKeyDown();
    EXPECT_EQ(key.paintedBar(), "oooo......");
    EXPECT_TRUE(eventually([&] { return server().sinkMuted(); }));
    key.plugin->OnKeyDown();
    EXPECT_EQ(key.paintedBar(), "####......");
    EXPECT_TRUE(eventually([&] { return !server().sinkMuted(); }));
    EXPECT_EQ(server().sinkVolume(), both(30000));
}

// A press keeps the balance between the channels, and Up never pulls a sink that another program
// amplified beyond 100 % (which shows as full) back down to 100 %.
TEST_F(VolumePulse, BalanceAndAmplificationSurvivePresses)
{
    PulseKey down(VolumePlugin::Down);
    server().setSinkVolume({20000, 40000});
    ASSERT_TRUE(down.sees(levelFromPulse(40000), false));
    down.plugin->OnKeyDown();
    std::vector<unsigned> channels;
    ASSERT_TRUE(eventually([&] {
        channels = server().sinkVolume();
        return channels.size() == 2 && channels[1] == pulseFromLevel(levelFromPulse(40000) - 6553);
    })) << server().pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    EXPECT_NEAR(double(channels[0]) / channels[1], 0.5, 0.001);

    PulseKey up(VolumePlugin::Up);
    server().setSinkVolume({98304, 98304}); // 150 %
    ASSERT_TRUE(up.sees(65535, false));
    EXPECT_EQ(up.paintedBar(), "##########");
    up.plugin->OnKeyDown();
    server().pactl({"get-sink-volume", "@DEFAULT_SINK@"}); // one round trip after the press
    EXPECT_EQ(server().sinkVolume(), (std::vector<unsigned>{98304, 98304}));
}

// Plugging in headphones makes another sink the default; the keys follow it.
TEST_F(VolumePulse, FollowsTheDefaultSink)
{
    PulseKey key(VolumePlugin::Down);
    ASSERT_TRUE(key.sees(30000, false));
    const std::string module = server().pactl({"load-module", "module-null-sink", "sink_name=pixkey_phones"});
    ASSERT_EQ(module.find("failed"), std::string::npos) << module;
    server().setSinkVolume(both(13106), "pixkey_phones");
    server().pactl({"set-default-sink", "pixkey_phones"});
    EXPECT_TRUE(key.sees(13106, false));
    EXPECT_EQ(key.paintedBar(), "##........");
    key.plugin->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return server().sinkVolume("pixkey_phones") == both(6553); }));
    EXPECT_EQ(server().sinkVolume("pixkey_null"), both(30000));

    // Unplugged: the default falls back to the first sink.
    server().pactl({"unload-module", module.substr(0, module.find_first_of("\r\n"))});
    EXPECT_TRUE(key.sees(30000, false));
    EXPECT_EQ(key.paintedBar(), "####......");
}

// Volume.pkx as the host uses it, on the server named by PULSE_SERVER.
TEST_F(VolumePulse, LibraryKeysOnTheServer)
{
    Library library;
    ASSERT_TRUE(library.ok()) << dlerror();

    Key describing(library, 0);
    ASSERT_NE(describing.get(), nullptr);
    EXPECT_EQ(describing.text(PKX_INFO_IDENTIFIER), "prt.volume.mfc5");
    EXPECT_EQ(describing.text(PKX_INFO_NAME), "Volume");
    EXPECT_EQ(describing.info(PKX_INFO_DESCRIPTION), 0);
    EXPECT_EQ(describing.info(PKX_INFO_FUNCTION_COUNT), 3);
    EXPECT_EQ(describing.info(PKX_INFO_HAS_PROPERTIES), 0);
    EXPECT_NE(describing.text(PKX_INFO_AUTHOR), "<0>");
    for (int code : {PKX_INFO_SMALL_ICON, PKX_INFO_LARGE_ICON, PKX_INFO_PREVIEW}) {
        auto *image = reinterpret_cast<PkxImage *>(describing.info(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(image->width, code == PKX_INFO_SMALL_ICON ? 16 : code == PKX_INFO_LARGE_ICON ? 32 : 96);
        EXPECT_EQ(image->height, image->width);
        pkx_image_free(image);
    }

    Key up(library, 1), down(library, 2), mute(library, 7), minus(library, -1);
    EXPECT_EQ(up.text(PKX_INFO_NAME), "Up");
    EXPECT_EQ(down.text(PKX_INFO_NAME), "Down");
    EXPECT_EQ(mute.text(PKX_INFO_NAME), "Mute");
    EXPECT_EQ(minus.text(PKX_INFO_NAME), "Volume");
    EXPECT_EQ(up.info(PKX_INFO_PAINT_PERIOD), 500);

    // The faces differ by kind above the bar and are the same picture for Volume and Up.
    for (Key *key : {&up, &down, &mute, &minus}) {
        key->activate();
        EXPECT_EQ(key->paint(), 1);
        EXPECT_EQ(barOf(key->face), "####......");
    }
    EXPECT_EQ(std::memcmp(up.face.bits.data(), minus.face.bits.data(), 80 * PKX_FACE_STRIDE), 0);
    EXPECT_NE(std::memcmp(up.face.bits.data(), down.face.bits.data(), 80 * PKX_FACE_STRIDE), 0);
    EXPECT_NE(std::memcmp(down.face.bits.data(), mute.face.bits.data(), 80 * PKX_FACE_STRIDE), 0);

    // The describing kind does nothing when pressed.
    minus.press();
    server().pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    EXPECT_EQ(server().sinkVolume(), both(30000));

    // Key 1 raises by a tenth: the server agrees and every bar follows.
    up.press();
    EXPECT_EQ(up.paint(), 1);
    EXPECT_TRUE(eventually([&] { return server().sinkVolume() == both(36553); }));
    for (Key *key : {&up, &down, &minus})
        EXPECT_EQ(key->waitForBar("#####....."), "#####.....");

    // Index 7 is the mute key.
    mute.press();
    EXPECT_TRUE(eventually([&] { return server().sinkMuted(); }));
    EXPECT_EQ(up.waitForBar("ooooo....."), "ooooo.....");

    // A reactivated key draws again even though nothing changed.
    EXPECT_EQ(down.paint(), 1); // mute changed
    EXPECT_EQ(down.paint(), 0);
    down.deactivate();
    down.activate();
    EXPECT_EQ(down.paint(), 1);

    // Deleted while still active (as after a failed call): its back end stops with it, and the
    // library can be unloaded right after without a thread left running in it.
    for (Key *key : {&up, &down, &mute, &minus})
        key->release();
}

} // namespace
} // namespace volume
