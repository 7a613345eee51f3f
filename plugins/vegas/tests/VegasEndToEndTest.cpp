// Three Vegas reels on the emulated keypad, painted by `pixkeyctl run`: one press on one key spins
// all three, and about two seconds later every key shows a result symbol.
#include "KeypadEmulator.h"

#include <QImage>
#include <QString>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

namespace vegas {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kKeys = pixkey::KeypadEmulator::kKeys;
constexpr int kSize = pixkey::KeypadEmulator::kFaceSize;

// A 96x96 picture as red, green, blue planes of doubles, for comparing shapes and colours.
struct Planes {
    std::array<std::vector<double>, 3> channel;
};

Planes planesOfRgb(const std::vector<std::uint8_t> &rgb)
{
    Planes planes;
    for (int c = 0; c < 3; ++c) {
        planes.channel[std::size_t(c)].assign(kSize * kSize, 0.0);
        if (rgb.size() < std::size_t(kSize * kSize * 3))
            continue;
        for (int i = 0; i < kSize * kSize; ++i)
            planes.channel[std::size_t(c)][std::size_t(i)] = rgb[std::size_t(i * 3 + c)];
    }
    return planes;
}

// The cells of a picture the build drew, as planes.
std::vector<Planes> artCells(const char *file)
{
    const QImage strip = QImage(QString::fromUtf8(VEGAS_ART_DIR "/") + QString::fromUtf8(file))
                             .convertToFormat(QImage::Format_RGB888);
    std::vector<Planes> cells;
    for (int top = 0; top + kSize <= strip.height(); top += kSize) {
        std::vector<std::uint8_t> rgb(kSize * kSize * 3);
        for (int y = 0; y < kSize; ++y)
            std::memcpy(rgb.data() + y * kSize * 3, strip.constScanLine(top + y), kSize * 3);
        cells.push_back(planesOfRgb(rgb));
    }
    return cells;
}

double correlation(const std::vector<double> &a, const std::vector<double> &b)
{
    double meanA = 0, meanB = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        meanA += a[i];
        meanB += b[i];
    }
    meanA /= double(a.size());
    meanB /= double(b.size());
    double ab = 0, aa = 0, bb = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        ab += (a[i] - meanA) * (b[i] - meanB);
        aa += (a[i] - meanA) * (a[i] - meanA);
        bb += (b[i] - meanB) * (b[i] - meanB);
    }
    return aa > 0 && bb > 0 ? ab / std::sqrt(aa * bb) : 0;
}

// Likeness of two pictures that survives the keypad's colour depth, gamma and white balance: the
// mean correlation of their colour planes.
double likeness(const Planes &a, const Planes &b)
{
    double sum = 0;
    for (int c = 0; c < 3; ++c)
        sum += correlation(a.channel[std::size_t(c)], b.channel[std::size_t(c)]);
    return sum / 3;
}

// Which of `cells` the shown picture is, or -1 when it is none of them.
int recognise(const std::vector<Planes> &cells, const Planes &shown)
{
    constexpr double kSure = 0.9;
    int best = -1;
    double bestLikeness = kSure;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        const double l = likeness(cells[i], shown);
        if (l > bestLikeness) {
            best = int(i);
            bestLikeness = l;
        }
    }
    return best;
}

std::string readFile(const std::filesystem::path &path)
{
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

class VegasEndToEndTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/vegas-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        m_folder = pattern;
        m_emulator = std::make_unique<pixkey::KeypadEmulator>((m_folder / "keypad").string());
        std::string error;
        ASSERT_TRUE(m_emulator->start(&error)) << error;

        m_results = artCells("DEF_IMAGE.png");
        m_spins = artCells("8006.png");
        ASSERT_EQ(m_results.size(), 3u);
        ASSERT_EQ(m_spins.size(), 2u);
    }

    void TearDown() override
    {
        stopControl();
        if (HasFailure())
            std::fprintf(stderr, "pixkeyctl said:\n%s\n", readFile(m_folder / "pixkeyctl.log").c_str());
        m_emulator.reset();
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    // Starts `pixkeyctl run` with the given plug-ins on the emulated keypad, its output in a log.
    void startControl(const std::vector<std::string> &plugins)
    {
        std::vector<std::string> args = {PIXKEYCTL_PATH, "run"};
        args.insert(args.end(), plugins.begin(), plugins.end());
        args.insert(args.end(), {"--port", m_emulator->linkPath()});
        std::vector<char *> argv;
        for (auto &arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);

        const std::string log = (m_folder / "pixkeyctl.log").string();
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        const int rc = posix_spawn(&m_control, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ASSERT_EQ(rc, 0) << "cannot start " << argv[0];
    }

    // Ends pixkeyctl: SIGTERM, a bounded wait, then SIGKILL.
    void stopControl()
    {
        if (m_control <= 0)
            return;
        kill(m_control, SIGTERM);
        const auto deadline = Clock::now() + 10s;
        int status = 0;
        while (waitpid(m_control, &status, WNOHANG) == 0) {
            if (Clock::now() > deadline) {
                kill(m_control, SIGKILL);
                waitpid(m_control, &status, 0);
                break;
            }
            std::this_thread::sleep_for(20ms);
        }
        m_control = 0;
    }

    bool controlRunning()
    {
        return m_control > 0 && waitpid(m_control, nullptr, WNOHANG) == 0;
    }

    // What each key shows: a spinning picture (0, 1), a symbol (10, 11, 12), or -1. Remembers the
    // last frame of each key, so an unchanged key is not compared again.
    std::array<int, kKeys> shown()
    {
        std::array<int, kKeys> kinds{};
        for (int key = 1; key <= kKeys; ++key) {
            const auto k = std::size_t(key - 1);
            std::vector<std::uint8_t> rgb = m_emulator->shownFrameRgb(key);
            if (rgb != m_lastFrame[k]) {
                const Planes face = planesOfRgb(rgb);
                const int result = recognise(m_results, face);
                m_lastKind[k] = result >= 0 ? 10 + result : recognise(m_spins, face);
                m_lastFrame[k] = std::move(rgb);
            }
            kinds[k] = m_lastKind[k];
        }
        return kinds;
    }

    std::filesystem::path m_folder;
    std::unique_ptr<pixkey::KeypadEmulator> m_emulator;
    pid_t m_control = 0;
    std::vector<Planes> m_results;
    std::vector<Planes> m_spins;
    std::array<std::vector<std::uint8_t>, kKeys> m_lastFrame;
    std::array<int, kKeys> m_lastKind{-1, -1, -1};
};

// A picture as the keypad might show it: 5-6-5 colour depth after a gamma curve and a tint.
Planes asOnTheKey(const Planes &picture, double gamma)
{
    const double tint[3] = {0.8, 1.0, 0.9};
    const int levels[3] = {31, 63, 31};
    Planes shown = picture;
    for (int c = 0; c < 3; ++c)
        for (double &v : shown.channel[std::size_t(c)]) {
            const double level = std::round(std::pow(v / 255, gamma) * tint[c] * levels[c]);
            v = level * 255 / levels[c];
        }
    return shown;
}

TEST_F(VegasEndToEndTest, ThePicturesAreToldApartEvenInTheKeypadsColours)
{
    std::vector<Planes> all = m_spins;
    all.insert(all.end(), m_results.begin(), m_results.end());
    for (std::size_t i = 0; i < all.size(); ++i) {
        for (double gamma : {1.0, 0.65, 1 / 0.65}) {
            const Planes shown = asOnTheKey(all[i], gamma);
            for (std::size_t j = 0; j < all.size(); ++j)
                EXPECT_EQ(recognise({all[j]}, shown) == 0, i == j)
                    << "picture " << i << " against " << j << ", gamma " << gamma << ": likeness "
                    << likeness(all[j], shown);
        }
    }
}

TEST_F(VegasEndToEndTest, OnePressSpinsAllThreeReelsToASymbol)
{
    startControl({VEGAS_PKX_PATH, VEGAS_PKX_PATH, VEGAS_PKX_PATH});

    // Warm-up leaves a spinning picture on every key.
    const bool warm = m_emulator->waitUntil(
        [&] {
            for (int kind : shown())
                if (kind < 0 || kind > 1)
                    return false;
            return true;
        },
        30s);
    ASSERT_TRUE(warm) << "the keys never showed the reels";
    ASSERT_TRUE(controlRunning());

    m_emulator->press(2);
    const auto pressed = Clock::now();

    std::array<Clock::time_point, kKeys> stopped{};
    std::array<int, kKeys> symbols{-1, -1, -1};
    const bool allStopped = m_emulator->waitUntil(
        [&] {
            const auto kinds = shown();
            bool all = true;
            for (int k = 0; k < kKeys; ++k) {
                if (kinds[std::size_t(k)] >= 10 && symbols[std::size_t(k)] < 0) {
                    symbols[std::size_t(k)] = kinds[std::size_t(k)] - 10;
                    stopped[std::size_t(k)] = Clock::now();
                }
                all = all && symbols[std::size_t(k)] >= 0;
            }
            return all;
        },
        60s);
    ASSERT_TRUE(allStopped) << "keys with a symbol: " << symbols[0] << " " << symbols[1] << " " << symbols[2];
    for (int k = 0; k < kKeys; ++k)
        EXPECT_GE(stopped[std::size_t(k)] - pressed, 1500ms) << "key " << k + 1 << " stopped without its wait";

    std::string error;
    EXPECT_TRUE(m_emulator->writePng(VEGAS_E2E_PNG, &error)) << error;
}

} // namespace
} // namespace vegas
