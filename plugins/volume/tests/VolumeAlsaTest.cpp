// The ALSA back end against the test's own PulseAudio server, reached through ALSA's "pulse"
// control device (libasound2-plugins): the "Master" element's level and switch, followed when
// another program changes them, and written back. Skipped where that device is missing.
#include "AlsaVolumeControl.h"
#include "SoundServer.h"
#include "VolumePlugin.h"
#include "VolumeScale.h"
#include "VolumeTestSupport.h"

#include <cstdlib>

namespace volume {
namespace {

using test::eventually;
using test::SoundServer;
using namespace std::chrono_literals;

class VolumeAlsa : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_server = new SoundServer();
        s_started = s_server->start();
        if (s_started)
            setenv("PULSE_SERVER", s_server->address().c_str(), 1);
    }
    static void TearDownTestSuite()
    {
        delete s_server;
        s_server = nullptr;
    }
    void SetUp() override
    {
        ASSERT_TRUE(s_started);
        if (!AlsaVolumeControl::Available("pulse"))
            GTEST_SKIP() << "ALSA has no \"pulse\" control device with a Master element here "
                            "(libasound2-plugins is not installed)";
        s_server->setSinkMuted(false);
        s_server->setSinkVolume({pulseFromLevel(30000), pulseFromLevel(30000)});
    }
    static std::vector<unsigned> both(unsigned level) { return {pulseFromLevel(level), pulseFromLevel(level)}; }

    static SoundServer *s_server;
    static ::testing::AssertionResult s_started;
};
SoundServer *VolumeAlsa::s_server = nullptr;
::testing::AssertionResult VolumeAlsa::s_started = ::testing::AssertionFailure();

TEST_F(VolumeAlsa, FollowsAndSetsTheMasterElement)
{
    AlsaVolumeControl control("pulse");
    ASSERT_EQ(control.Open(), 1);
    EXPECT_EQ(control.GetVolume(), 30000u);
    EXPECT_EQ(control.GetMute(), 0);

    s_server->setSinkVolume(both(6553));
    s_server->setSinkMuted(true);
    EXPECT_TRUE(eventually([&] { return control.GetVolume() == 6553 && control.GetMute() == 1; }))
        << control.GetVolume();

    control.SetMute(0);
    control.SetVolume(13106);
    EXPECT_EQ(control.GetVolume(), 13106u); // shown at once
    EXPECT_TRUE(eventually([&] { return !s_server->sinkMuted() && s_server->sinkVolume() == both(13106); }))
        << s_server->pactl({"get-sink-volume", "@DEFAULT_SINK@"});
    control.Close();
    EXPECT_EQ(control.GetVolume(), 0u);
}

// The plug-in's rules on this back end: Up while muted unmutes and raises in one press.
TEST_F(VolumeAlsa, KeysOnTheAlsaBackEnd)
{
    s_server->setSinkMuted(true);
    VolumePlugin up(VolumePlugin::Up, std::make_unique<AlsaVolumeControl>("pulse"));
    up.OnEvent(PKX_EVENT_ACTIVATE);
    test::Face face;
    EXPECT_EQ(up.Paint(face.surface), 1);
    EXPECT_EQ(test::barOf(face), "oooo......");
    up.OnKeyDown();
    EXPECT_EQ(up.Paint(face.surface), 1);
    EXPECT_EQ(test::barOf(face), "#####.....");
    EXPECT_TRUE(eventually([&] { return !s_server->sinkMuted() && s_server->sinkVolume() == both(36553); }))
        << s_server->pactl({"list", "sinks"});
    up.OnEvent(PKX_EVENT_DEACTIVATE);
}

TEST_F(VolumeAlsa, ServerGoneAndBack)
{
    AlsaVolumeControl control("pulse");
    ASSERT_EQ(control.Open(), 1);
    s_server->kill();
    EXPECT_TRUE(eventually([&] { return control.GetVolume() == 0 && !control.attached(); }, 15s));
    control.SetVolume(40000); // nothing to write to
    EXPECT_EQ(control.GetVolume(), 0u);
    ASSERT_TRUE(s_server->start());
    EXPECT_TRUE(eventually([&] { return control.GetVolume() == 65535; }, 20s)) << control.GetVolume();
}

TEST(VolumeAlsaDevice, MissingDeviceOrElement)
{
    AlsaVolumeControl missing("pixkey_no_such_device");
    EXPECT_EQ(missing.Open(), 0);
    EXPECT_EQ(missing.GetVolume(), 0u);
    missing.SetVolume(100);
    missing.SetMute(1);
    EXPECT_EQ(missing.GetMute(), 0);
    missing.Close();
    EXPECT_FALSE(AlsaVolumeControl::Available("pixkey_no_such_device"));
    EXPECT_FALSE(AlsaVolumeControl::Available("pulse", "Pixkey No Such Element"));
}

} // namespace
} // namespace volume
