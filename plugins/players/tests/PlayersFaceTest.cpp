// The play/pause key's face and the three keys' commands against scripted players on a private
// session bus: the title ticker, the time bar, the pause overlay, and players that send odd
// values or none.
#include "PlayersTestSupport.h"

#include "PlayerDirectory.h"
#include "PlayersPlugin.h"
#include "PlayersResources.h"

#include <pixkey/test/SessionBus.h>
#include <pixkey/utility/CLocalizableTextRenderer.h>

#include <gtest/gtest.h>

using namespace players;
using namespace players_test;
using namespace std::chrono_literals;

namespace {

constexpr std::uint32_t kElapsed = 0x2f9be8;
constexpr std::uint32_t kRemain = 0x616161;

class PlayersFace : public ::testing::Test {
protected:
    static void SetUpTestSuite() { s_bus = std::make_unique<pixkey::test::SessionBus>(); }
    static void TearDownTestSuite() { s_bus.reset(); }

    void SetUp() override
    {
        if (!s_bus->running())
            GTEST_SKIP() << s_bus->error();
        PlayerDirectory::Options options;
        options.busAddress = QString::fromStdString(s_bus->address());
        options.focusedProcess = [] { return 0; };
        options.refreshPeriod = 300ms;
        directory = std::make_shared<PlayerDirectory>(options);
        ASSERT_TRUE(directory->running());
    }

    std::unique_ptr<FakePlayer> startPlayer(const std::string &name, std::vector<std::string> options)
    {
        auto player = std::make_unique<FakePlayer>(s_bus->address(), name, std::move(options));
        EXPECT_TRUE(player->start());
        const QString service = player->service();
        EXPECT_TRUE(directory->waitUntil([&](const PlayerSnapshot &s) { return s.find(service) != nullptr; }, 10s));
        return player;
    }

    // An active key of `kind` on the test's directory.
    std::unique_ptr<PlayersPlugin> key(int kind)
    {
        auto plugin = std::make_unique<PlayersPlugin>(kind, directory);
        plugin->OnEvent(PKX_EVENT_ACTIVATE);
        return plugin;
    }

    static inline std::unique_ptr<pixkey::test::SessionBus> s_bus;
    std::shared_ptr<PlayerDirectory> directory;
};

// A text whose width in the title font is exactly `width` pixels.
std::string titleOfWidth(int width)
{
    pixkey::CLocalizableTextRenderer renderer;
    if (!renderer.LoadFont("VELMORA_12PX"))
        return {};
    const std::string letters = "ijlt.,:;!'|frI1 acemnoswxyzABWM";
    for (int n = 0; n < 20; ++n) {
        const std::string base = "Track " + std::string(std::size_t(n), 'a');
        for (char first : letters) {
            for (char second : letters) {
                const std::string text = base + first + second;
                if (renderer.PrintText(nullptr, text.c_str(), 0, 0) == width)
                    return text;
            }
        }
    }
    return {};
}

// The strip as it should look: the face's own bottom rows, grey from `greyFrom`, and the two times.
std::string expectedStrip(int greyFrom, const char *elapsed, const char *remaining)
{
    QImage face = bitmap(8012);
    Face expected;
    for (int y = 0; y < 96; ++y)
        std::memcpy(expected.bytes.data() + y * PKX_FACE_STRIDE, face.constScanLine(y), PKX_FACE_STRIDE);
    for (int y = 86; y < 96; ++y)
        for (int x = greyFrom; x < 96; ++x) {
            std::uint8_t *p = expected.bytes.data() + y * PKX_FACE_STRIDE + x * 3;
            p[0] = p[1] = p[2] = 0x61;
        }
    pixkey::CLocalizableTextRenderer text;
    text.LoadFont("TIMELINE");
    text.PrintText(expected.surface(), elapsed, 7, 85);
    text.alignment = 2;
    text.PrintText(expected.surface(), remaining, 89, 85);
    return expected.rows(85, 95);
}

} // namespace

TEST_F(PlayersFace, TimeBarOfAMinuteAndAHalfIntoAThreeMinuteTrack)
{
    auto player = startPlayer("timed", {"--title", "Song", "--position", "61500000", "--length", "180000000"});
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    Face face;
    EXPECT_EQ(playPause->Paint(*face.surface()), 1);
    EXPECT_EQ(face.rgb(31, 95), kElapsed);
    EXPECT_EQ(face.rgb(32, 95), kRemain);
    EXPECT_EQ(face.rows(85, 95), expectedStrip(32, "1:01", "-1:58")) << "1:01 on the left, -1:58 on the right";

    // A seek announced by the player moves the bar at once.
    ASSERT_TRUE(player->seek(90000000));
    ASSERT_TRUE(directory->waitUntil(
        [&](const PlayerSnapshot &s) { return s.find(player->service())->positionUs == 90000000; }, 10s));
    playPause->Paint(*face.surface());
    EXPECT_EQ(face.rows(85, 95), expectedStrip(48, "1:30", "-1:30"));
}

TEST_F(PlayersFace, StripIsBlackWithoutTimesWhenAValueIsMissingOrAbsurd)
{
    auto player = startPlayer("odd", {"--title", "Odd", "--position", "none", "--length", "180000000"});
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    const QString service = player->service();
    const qlonglong huge = std::numeric_limits<qlonglong>::max();
    // Each step changes one value, waits until the directory holds what it should make of it,
    // and looks at the strip; the sensible steps in between show that the strip can light up.
    const struct {
        const char *what;
        const char *property;
        qlonglong value;
        std::int64_t positionUs, lengthUs;
        bool black;
    } steps[] = {
        {"no position", "title", 0, -1, 180000000, true},
        {"a position", "position", 60000000, 60000000, 180000000, false},
        {"a position past the end", "position", 181000000, 181000000, 180000000, true},
        {"a negative position", "position", -5, -1, 180000000, true},
        {"a position again", "position", 60000000, 60000000, 180000000, false},
        {"an absurd position", "position", huge, -1, 180000000, true},
        {"a position again", "position", 60000000, 60000000, 180000000, false},
        {"a length of zero", "length", 0, 60000000, -1, true},
        {"a length again", "length", 180000000, 60000000, 180000000, false},
        {"an absurd length", "length", huge, 60000000, -1, true},
        {"no length", "length", -1, 60000000, -1, true},
    };
    for (const auto &step : steps) {
        if (std::strcmp(step.property, "title") != 0) {
            ASSERT_TRUE(player->set(QLatin1String(step.property), step.value)) << step.what;
        }
        ASSERT_TRUE(directory->waitUntil(
            [&](const PlayerSnapshot &s) {
                const PlayerState *state = s.find(service);
                return state && state->positionUs == step.positionUs && state->lengthUs == step.lengthUs;
            },
            10s))
            << step.what;
        Face face;
        playPause->Paint(*face.surface());
        EXPECT_EQ(face.rowsHoldOtherThan(85, 95, 0x000000), !step.black) << step.what;
    }
}

TEST_F(PlayersFace, TitleThatFitsStaysCentredLongerOneScrollsAndWraps)
{
    const std::string fits = titleOfWidth(96);
    const std::string longer = titleOfWidth(97);
    ASSERT_FALSE(fits.empty());
    ASSERT_FALSE(longer.empty());

    auto player = startPlayer("ticker", {"--title", fits});
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    Face first, second;
    playPause->Paint(*first.surface());
    EXPECT_EQ(playPause->tickerX(), 43);
    playPause->Paint(*second.surface());
    EXPECT_EQ(first.rows(70, 81), second.rows(70, 81)) << "a title that fits does not move";
    EXPECT_TRUE(first.rowsHoldOtherThan(70, 81, 0));

    // A fresh key with the 97-pixel title: it starts just beyond the right edge.
    ASSERT_TRUE(player->set(QStringLiteral("title"), QString::fromStdString(longer)));
    ASSERT_TRUE(directory->waitUntil(
        [&](const PlayerSnapshot &s) { return s.find(player->service())->title == longer; }, 10s));
    auto scrolling = key(PlayersPlugin::PlayPauseKey);
    Face face;
    scrolling->Paint(*face.surface());
    EXPECT_LT(face.brightestIn(70, 81), 0x20u) << "drawn at x = 96: at most its smoothed edge shows";
    EXPECT_EQ(scrolling->tickerX(), 91);
    scrolling->Paint(*face.surface());
    EXPECT_TRUE(face.rowsHoldOtherThan(70, 81, 0));
    for (int i = 2; i < 42; ++i)
        scrolling->Paint(*face.surface());
    EXPECT_EQ(scrolling->tickerX(), -114);
    scrolling->Paint(*face.surface()); // drawn at -114, then -119 < -97 - 20
    EXPECT_EQ(scrolling->tickerX(), 96);
}

TEST_F(PlayersFace, PauseOverlayWhilePlayingAndTheKeysCommands)
{
    auto player = startPlayer("keys", {"--title", "Keys", "--status", "Paused"});
    auto previous = key(PlayersPlugin::PreviousKey);
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    auto next = key(PlayersPlugin::NextKey);
    const QImage playFace = bitmap(8012), pauseFace = bitmap(8019);
    auto showsTop = [&](const QImage &image) {
        Face face;
        playPause->Paint(*face.surface());
        return face.rows(0, 63)
               == std::string(reinterpret_cast<const char *>(image.constBits()), 64 * PKX_FACE_STRIDE);
    };
    EXPECT_TRUE(showsTop(playFace));

    playPause->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return showsTop(pauseFace); })) << "Play was sent; the pause face shows";
    playPause->OnKeyDown();
    EXPECT_TRUE(eventually([&] { return showsTop(playFace); }));
    previous->OnKeyDown();
    next->OnKeyDown();
    EXPECT_EQ(player->commands(), (QStringList{QStringLiteral("Play"), QStringLiteral("Pause"),
                                               QStringLiteral("Previous"), QStringLiteral("Next")}));

    // The other kinds' faces are their own pictures, whatever the player does.
    Face face;
    next->Paint(*face.surface());
    const QImage nextFace = bitmap(8018);
    EXPECT_EQ(face.rows(0, 95), std::string(reinterpret_cast<const char *>(nextFace.constBits()), 96 * 288));
}

TEST_F(PlayersFace, WithoutPlayersTheKeysDoNothingAndTheStripIsBlack)
{
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    auto next = key(PlayersPlugin::NextKey);
    Face face;
    EXPECT_EQ(playPause->Paint(*face.surface()), 1);
    EXPECT_FALSE(face.rowsHoldOtherThan(66, 95, 0)) << "no title, black strip";
    const auto start = std::chrono::steady_clock::now();
    next->OnKeyDown();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s) << "nothing is sent, nothing waited for";
}

TEST_F(PlayersFace, HugeMetadataIsCutAndStillScrolls)
{
    auto player = startPlayer("huge", {"--title", "short"});
    ASSERT_TRUE(player->set(QStringLiteral("title"), QString(1 << 20, QLatin1Char('w'))));
    ASSERT_TRUE(directory->waitUntil(
        [&](const PlayerSnapshot &s) { return s.find(player->service())->title.size() == kMaxTitleCharacters; },
        10s));
    auto playPause = key(PlayersPlugin::PlayPauseKey);
    Face face;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3; ++i)
        playPause->Paint(*face.surface());
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2s);
    EXPECT_EQ(playPause->tickerX(), 81);
}

TEST(PlayersInfo, KindsNamesPicturesAndNumbers)
{
    const struct {
        int function;
        const char *name;
    } kinds[] = {{-3, "Player"}, {0, "Player"}, {1, "Previous"}, {2, "Play\\Pause"}, {3, "Forward"}, {9, "Forward"}};
    for (const auto &k : kinds) {
        PlayersPlugin plugin(k.function);
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(PKX_INFO_NAME)), k.name);
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(PKX_INFO_IDENTIFIER)), "bsp.player.mfc5");
        EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(PKX_INFO_DESCRIPTION)),
                     "Winamp and Windows Media Player controls.");
        EXPECT_EQ(plugin.GetInfo(PKX_INFO_FUNCTION_COUNT), 3);
        EXPECT_EQ(plugin.GetInfo(PKX_INFO_DEFAULT_FUNCTION), 2);
        EXPECT_EQ(plugin.GetInfo(PKX_INFO_PAINT_PERIOD), 0);
        EXPECT_EQ(plugin.GetInfo(PKX_INFO_HAS_PROPERTIES), 0);
        for (auto [code, size] : {std::pair{PKX_INFO_SMALL_ICON, 16}, {PKX_INFO_LARGE_ICON, 32}, {PKX_INFO_PREVIEW, 96}}) {
            auto *image = reinterpret_cast<PkxImage *>(plugin.GetInfo(code));
            ASSERT_NE(image, nullptr) << k.name << " " << code;
            EXPECT_EQ(image->width, size);
            EXPECT_EQ(image->height, size);
            pkx_image_free(image);
        }
        char name[256] = {}, value[256] = {};
        EXPECT_EQ(plugin.GetProperty(256, name, value), 0);
        EXPECT_EQ(plugin.ShowProperties(nullptr), 0);
    }
}
