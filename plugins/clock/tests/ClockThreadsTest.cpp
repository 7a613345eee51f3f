// The main thread changes an instance's settings while its paint thread paints and is activated
// and deactivated: run under ThreadSanitizer to check the instance's locking.
#include "ClockTestSupport.hpp"

#include "ClockDialog.hpp"

#include <QApplication>
#include <QRadioButton>
#include <QTimer>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace pixkey::clock;
using clocktest::Face;

// Qt and the font libraries under it are not built for ThreadSanitizer: their implicitly shared
// data, caches and image thread pool synchronise through atomics the sanitizer cannot see. The instance's own locking is what this
// test checks; races inside Qt's libraries are out of its reach.
extern "C" const char *__tsan_default_suppressions()
{
    return "race:libQt6Gui.so\n"
           "race:libQt6Core.so\n"
           "race:libQt6Widgets.so\n"
           "race:libharfbuzz.so\n"
           "race:libfreetype.so\n"
           "race:libfontconfig.so\n";
}

namespace {

// A fixture whose clock the paint thread advances while the main thread reads it.
struct ThreadedFixture {
    ClockArt art = ClockLibrary::loadArt();
    CityTable table = CityTable::parse(clocktest::kTableText);
    std::atomic<int64_t> nowMs{clocktest::kTuesdayMorningMs};
    WeatherCache weather{WeatherCache::Options{}};

    ClockPlugin::Environment environment()
    {
        return {&art, &table, &weather, [this] { return nowMs.load(); }};
    }
};

} // namespace

TEST(ClockThreads, SettingsChangeWhilePainting)
{
    ThreadedFixture fixture;
    ClockPlugin plugin(fixture.environment());
    plugin.SetProperty("CityId", "27612");

    std::atomic<bool> stop{false};
    std::atomic<int> faces{0};
    std::thread paintThread([&] {
        Face face;
        PkxSurface surface = face.surface();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (int round = 0; !stop && std::chrono::steady_clock::now() < deadline; ++round) {
            plugin.OnEvent(PKX_EVENT_ACTIVATE);
            for (int i = 0; i < 5; ++i) {
                fixture.nowMs += 1000;
                faces += plugin.Paint(surface);
            }
            plugin.OnEvent(PKX_EVENT_DEACTIVATE);
        }
    });

    // Properties from the main thread, then the dialog accepted while painting goes on.
    for (int i = 0; i < 200; ++i) {
        plugin.SetProperty("ClockView", i % 2 ? "1" : "0");
        plugin.SetProperty("CityId", i % 3 ? "47662" : "27612");
        char name[256] = {};
        char value[256] = {};
        plugin.GetProperty(256 + i % 7, name, value);
    }
    for (int i = 0; i < 3; ++i) {
        QTimer::singleShot(20, [] {
            if (auto *dialog = dynamic_cast<ClockDialog *>(QApplication::activeModalWidget())) {
                dialog->digitalButton()->setChecked(!dialog->digitalButton()->isChecked());
                dialog->accept();
            }
        });
        EXPECT_EQ(plugin.ShowProperties(nullptr), 1);
    }
    stop = true;
    paintThread.join();
    EXPECT_GT(faces.load(), 0);
}
