// Which player the keys drive when several are present, and what happens when players or the bus
// misbehave: a player that leaves while playing, one that never answers, a bus that goes away.
#include "PlayersTestSupport.h"

#include "PlayerDirectory.h"
#include "PlayersPlugin.h"

#include <pixkey/test/SessionBus.h>
#include <pixkey/test/XServer.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <gtest/gtest.h>

using namespace players;
using namespace players_test;
using namespace std::chrono_literals;

namespace {

class PlayersSelection : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_bus = std::make_unique<pixkey::test::SessionBus>(); }
    static void TearDownTestSuite() { s_bus.reset(); }

    void SetUp() override
    {
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
    }

    std::shared_ptr<PlayerDirectory> makeDirectory(std::function<int()> focus = [] { return 0; })
    {
        PlayerDirectory::Options options;
        options.busAddress = QString::fromStdString(s_bus->address());
        options.focusedProcess = std::move(focus);
        options.refreshPeriod = 300ms;
        options.focusPeriod = 100ms;
        return std::make_shared<PlayerDirectory>(options);
    }

    std::unique_ptr<FakePlayer> startPlayer(PlayerDirectory &directory, const std::string &name,
                                            std::vector<std::string> options, std::string wrapper = {})
    {
        auto player = std::make_unique<FakePlayer>(s_bus->address(), name, std::move(options), std::move(wrapper));
        EXPECT_TRUE(player->start());
        const QString service = player->service();
        EXPECT_TRUE(directory.waitUntil([&](const PlayerSnapshot &s) { return s.find(service) != nullptr; }, 10s));
        return player;
    }

    static inline std::unique_ptr<pixkey::test::SessionBus> s_bus;
};

// A window on the test's X server that names a process and is made the active one, as a window
// manager would announce it.
class ActiveWindow {
public:
    explicit ActiveWindow(const std::string &display) : m_display(XOpenDisplay(display.c_str()))
    {
        if (!m_display)
            return;
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 50, 50, 0, 0, 0);
        XMapWindow(m_display, m_window);
    }
    ~ActiveWindow()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool usable() const { return m_display; }
    void activateAs(pid_t pid)
    {
        const unsigned long value = static_cast<unsigned long>(pid);
        XChangeProperty(m_display, m_window, XInternAtom(m_display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                        PropModeReplace, reinterpret_cast<const unsigned char *>(&value), 1);
        const unsigned long window = m_window;
        XChangeProperty(m_display, DefaultRootWindow(m_display), XInternAtom(m_display, "_NET_ACTIVE_WINDOW", False),
                        XA_WINDOW, 32, PropModeReplace, reinterpret_cast<const unsigned char *>(&window), 1);
        XSync(m_display, False);
    }

private:
    Display *m_display = nullptr;
    Window m_window = 0;
};

} // namespace

TEST_F(PlayersSelection, WithoutAWindowInFrontAPlayingPlayerGoesFirstThenTheName)
{
    auto directory = makeDirectory();
    auto beta = startPlayer(*directory, "beta", {"--status", "Paused"});
    auto alpha = startPlayer(*directory, "alpha", {"--status", "Paused"});
    PlayersPlugin next(PlayersPlugin::NextKey, directory);
    next.OnEvent(PKX_EVENT_ACTIVATE);

    next.OnKeyDown();
    EXPECT_EQ(alpha->commands(), QStringList{QStringLiteral("Next")}) << "both paused: by name";
    EXPECT_TRUE(beta->commands().isEmpty());

    ASSERT_TRUE(beta->set(QStringLiteral("status"), QStringLiteral("Playing")));
    ASSERT_TRUE(directory->waitUntil(
        [&](const PlayerSnapshot &s) { return s.find(beta->service())->playing; }, 10s));
    next.OnKeyDown();
    EXPECT_EQ(beta->commands(), QStringList{QStringLiteral("Next")}) << "the playing one first";
}

TEST_F(PlayersSelection, ThePlayerOwningTheWindowInFrontWins)
{
    pixkey::test::XServer x;
    if (!x.running())
        GTEST_SKIP() << x.skipReason();
    x.exportDisplay();
    ActiveWindow window(x.display());
    ASSERT_TRUE(window.usable());

    // The directory asks the real display, through the Utility's FocusedWindowProcess.
    auto directory = makeDirectory(nullptr);
    auto alpha = startPlayer(*directory, "alpha", {"--status", "Playing"});
    // beta runs as the child of a shell; the shell's window counts as beta's.
    auto beta = startPlayer(*directory, "beta", {"--status", "Paused"}, "sh");
    PlayersPlugin next(PlayersPlugin::NextKey, directory);
    next.OnEvent(PKX_EVENT_ACTIVATE);

    window.activateAs(beta->pid());
    ASSERT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.focusedProcess == beta->pid(); }, 10s));
    next.OnKeyDown();
    EXPECT_EQ(beta->commands(), QStringList{QStringLiteral("Next")}) << "in front, though paused and named later";
    EXPECT_TRUE(alpha->commands().isEmpty());

    ASSERT_TRUE(beta->set(QStringLiteral("status"), QStringLiteral("Playing")));
    window.activateAs(alpha->pid());
    ASSERT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.focusedProcess == alpha->pid(); }, 10s));
    next.OnKeyDown();
    EXPECT_EQ(alpha->commands(), QStringList{QStringLiteral("Next")});

    // A window of some other program: the stable order again (both play: by name).
    window.activateAs(1);
    ASSERT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.focusedProcess == 1; }, 10s));
    next.OnKeyDown();
    EXPECT_EQ(alpha->commands().size(), 2);
    EXPECT_EQ(beta->commands().size(), 1);
}

TEST_F(PlayersSelection, APlayerThatLeavesWhilePlayingLeavesTheKeysBlank)
{
    auto directory = makeDirectory();
    auto player = startPlayer(*directory, "leaving",
                              {"--status", "Playing", "--title", "Gone soon", "--position", "1000", "--length", "9000000"});
    PlayersPlugin playPause(PlayersPlugin::PlayPauseKey, directory);
    playPause.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    playPause.Paint(*face.surface());
    EXPECT_TRUE(face.rowsHoldOtherThan(86, 95, 0)) << "the bar shows while it plays";

    ASSERT_TRUE(player->leave());
    ASSERT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.players.empty(); }, 10s));
    EXPECT_EQ(playPause.Paint(*face.surface()), 1);
    EXPECT_FALSE(face.rowsHoldOtherThan(66, 95, 0)) << "no title, black strip";
    playPause.OnKeyDown();
    EXPECT_TRUE(player->commands().isEmpty()) << "nothing goes to a player that left: " << player->commands().join(QLatin1Char(',')).toStdString();

    // Killed outright, without giving up its name first.
    auto crashing = startPlayer(*directory, "crashing", {"--status", "Playing", "--title", "Crash"});
    playPause.Paint(*face.surface());
    crashing->process().kill();
    ASSERT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.players.empty(); }, 10s));
    playPause.Paint(*face.surface());
    EXPECT_FALSE(face.rowsHoldOtherThan(66, 95, 0));
}

TEST_F(PlayersSelection, APlayerThatNeverAnswersHoldsNothingUp)
{
    auto directory = makeDirectory();
    // One that answers nothing at all is never taken for a player.
    FakePlayer silent(s_bus->address(), "silent", {"--mute", "all", "--status", "Playing"});
    ASSERT_TRUE(silent.start());
    PlayersPlugin playPause(PlayersPlugin::PlayPauseKey, directory);
    playPause.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i)
        playPause.Paint(*face.surface());
    playPause.OnKeyDown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "nothing waits on the silent player";
    EXPECT_TRUE(directory->snapshot()->players.empty());

    // One that tells its state but never answers a command: the key waits a bounded time.
    auto mute = startPlayer(*directory, "mute", {"--mute", "commands", "--title", "Mute"});
    PlayersPlugin next(PlayersPlugin::NextKey, directory);
    next.OnEvent(PKX_EVENT_ACTIVATE);
    start = std::chrono::steady_clock::now();
    next.OnKeyDown();
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 500ms);
    EXPECT_LT(waited, 3s) << "a command times out after a second";
    EXPECT_EQ(mute->commands(), QStringList{QStringLiteral("Next")});
    start = std::chrono::steady_clock::now();
    playPause.Paint(*face.surface());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
}

TEST_F(PlayersSelection, ABusThatGoesAwayIsFoundAgain)
{
    auto first = std::make_unique<pixkey::test::SessionBus>();
    ASSERT_TRUE(first->running()) << first->error();
    first->exportAddress();
    PlayerDirectory::Options options;
    options.focusedProcess = [] { return 0; };
    options.refreshPeriod = 200ms;
    auto directory = std::make_shared<PlayerDirectory>(options); // the session bus of the environment
    auto player = std::make_unique<FakePlayer>(first->address(), "first", std::vector<std::string>{"--title", "One"});
    ASSERT_TRUE(player->start());
    ASSERT_TRUE(directory->waitUntil([](const PlayerSnapshot &s) { return s.players.size() == 1; }, 10s));

    PlayersPlugin playPause(PlayersPlugin::PlayPauseKey, directory);
    playPause.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    playPause.Paint(*face.surface());
    first.reset(); // the daemon ends; the player loses its bus
    player.reset();
    ASSERT_TRUE(directory->waitUntil([](const PlayerSnapshot &s) { return s.players.empty(); }, 10s));
    const auto start = std::chrono::steady_clock::now();
    playPause.Paint(*face.surface());
    playPause.OnKeyDown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1500ms);

    pixkey::test::SessionBus second;
    ASSERT_TRUE(second.running()) << second.error();
    second.exportAddress();
    FakePlayer again(second.address(), "second", {"--title", "Two"});
    ASSERT_TRUE(again.start());
    EXPECT_TRUE(directory->waitUntil(
        [&](const PlayerSnapshot &s) { return s.find(again.service()) != nullptr; }, 10s));
}
