// Three Volume keys painting on their own threads, as the host runs them, while the sound server
// is killed and started again: the bars empty, presses do nothing, and everything comes back
// with the server. Also a server that is not there at all.
#include "PulseVolumeControl.h"
#include "SoundServer.h"
#include "VolumePlugin.h"
#include "VolumeScale.h"
#include "VolumeTestSupport.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace volume {
namespace {

using test::barOf;
using test::eventually;
using test::Face;
using test::SoundServer;
using namespace std::chrono_literals;

// One key and its paint thread: activation, a paint every 20 ms and presses on request, then
// deactivation, all on that thread as the host does it.
class PaintingKey {
public:
    PaintingKey(int kind, const std::string &server)
        : m_plugin(kind, std::make_unique<PulseVolumeControl>(server)), m_thread([this] { run(); })
    {
    }
    ~PaintingKey()
    {
        m_stop = true;
        m_thread.join();
    }

    void press() { ++m_pressesWanted; }
    std::string bar()
    {
        std::lock_guard guard(m_lock);
        return m_bar;
    }
    bool shows(const std::string &expected, std::chrono::milliseconds deadline = 15s)
    {
        return eventually([&] { return bar() == expected; }, deadline);
    }

private:
    void run()
    {
        m_plugin.OnEvent(PKX_EVENT_ACTIVATE);
        int pressesDone = 0;
        while (!m_stop) {
            while (pressesDone < m_pressesWanted) {
                m_plugin.OnKeyDown();
                ++pressesDone;
            }
            if (m_plugin.Paint(m_face.surface)) {
                std::lock_guard guard(m_lock);
                m_bar = barOf(m_face);
            }
            std::this_thread::sleep_for(20ms);
        }
        m_plugin.OnEvent(PKX_EVENT_DEACTIVATE);
    }

    VolumePlugin m_plugin;
    Face m_face;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_pressesWanted{0};
    std::mutex m_lock;
    std::string m_bar; // guarded by m_lock
    std::thread m_thread;
};

TEST(VolumeServerRestart, KeysEmptyWhileTheServerIsGoneAndComeBackWithIt)
{
    SoundServer server;
    ASSERT_TRUE(server.start());
    server.setSinkVolume({pulseFromLevel(30000), pulseFromLevel(30000)});

    PaintingKey up(VolumePlugin::Up, server.address());
    PaintingKey down(VolumePlugin::Down, server.address());
    PaintingKey mute(VolumePlugin::Mute, server.address());
    for (PaintingKey *key : {&up, &down, &mute})
        ASSERT_TRUE(key->shows("####......")) << key->bar();

    server.kill();
    for (PaintingKey *key : {&up, &down, &mute})
        EXPECT_TRUE(key->shows("..........")) << key->bar();
    // Without a server the keys do nothing, and nothing waits for one.
    up.press();
    mute.press();
    std::this_thread::sleep_for(100ms);
    EXPECT_EQ(up.bar(), "..........");
    EXPECT_EQ(mute.bar(), "..........");

    // The new server starts its sink at 100 %; the keys reconnect and show it, and work again.
    ASSERT_TRUE(server.start());
    for (PaintingKey *key : {&up, &down, &mute})
        EXPECT_TRUE(key->shows("##########")) << key->bar();
    down.press();
    EXPECT_TRUE(eventually([&] {
        return server.sinkVolume() == std::vector<unsigned>{pulseFromLevel(58982), pulseFromLevel(58982)};
    }));
    for (PaintingKey *key : {&up, &down, &mute})
        EXPECT_TRUE(key->shows("#########.")) << key->bar();
}

TEST(VolumeServerRestart, NoServerAtAll)
{
    SoundServer folder; // never started: its address leads nowhere
    PulseVolumeControl control(folder.deadAddress());
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(control.Open(), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 2s);
    EXPECT_EQ(control.GetVolume(), 0u);
    EXPECT_EQ(control.GetMute(), 0);
    control.SetMute(1);
    control.SetVolume(40000);
    EXPECT_EQ(control.GetVolume(), 0u);
    EXPECT_EQ(control.GetMute(), 0);
    control.Close();
    control.Close();
    EXPECT_FALSE(PulseVolumeControl::ServerAnswers(folder.deadAddress(), 300ms));
}

} // namespace
} // namespace volume
