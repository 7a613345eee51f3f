// bench_clock_paint: the time of one Clock Paint that draws a new face (analog and digital, with
// a city, the date, the moon and a temperature), and how many rows change from one second to the
// next (what the device link would upload).
#include "CityTable.hpp"
#include "ClockLibrary.hpp"
#include "ClockPlugin.hpp"
#include "WeatherCache.hpp"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

using namespace pixkey::clock;

namespace {

struct Bench {
    ClockArt art = ClockLibrary::loadArt();
    CityTable table = CityTable::parse("@Europe\n27612\tMoscow\tEurope/Moscow\n");
    WeatherCache weather{[] {
        WeatherCache::Options options; // no host; the value set below stays current
        options.maxAge = std::chrono::hours(24 * 365);
        return options;
    }()};
    int64_t nowMs = 1'796'722'215'250;

    Bench()
    {
        City &city = *table.find(27612);
        city.temperature = -4;
        city.fetchedAtMs = nowMs;
    }
};

void paint(benchmark::State &state, int view)
{
    Bench bench;
    ClockPlugin plugin(ClockPlugin::Environment{&bench.art, &bench.table, &bench.weather,
                                                [&bench] { return bench.nowMs; }});
    plugin.SetProperty("CityId", "27612");
    plugin.SetProperty("ClockView", view == 0 ? "0" : "1");
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    std::array<uint8_t, 96 * 288> previous{};
    std::array<uint8_t, 96 * 288> face{};
    PkxSurface surface{face.data(), 96, 96, 288};
    long changedRows = 0;
    long bandRows = 0;
    long frames = 0;
    for (auto _ : state) {
        bench.nowMs += 1000;
        benchmark::DoNotOptimize(plugin.Paint(surface));
        state.PauseTiming();
        int first = 96;
        int last = -1;
        for (int y = 0; y < 96; ++y) {
            if (std::memcmp(face.data() + y * 288, previous.data() + y * 288, 288) != 0) {
                ++changedRows;
                first = std::min(first, y);
                last = y;
            }
        }
        bandRows += last >= first ? last - first + 1 : 0;
        previous = face;
        ++frames;
        state.ResumeTiming();
    }
    // Rows that differ from the previous second's face, on average (96 = the whole key), and the
    // band from the first to the last of them, which is what the device link uploads.
    state.counters["changed_rows"] = frames ? double(changedRows) / double(frames) : 0;
    state.counters["band_rows"] = frames ? double(bandRows) / double(frames) : 0;
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

void BM_PaintAnalog(benchmark::State &state) { paint(state, 0); }
void BM_PaintDigital(benchmark::State &state) { paint(state, 1); }

BENCHMARK(BM_PaintAnalog)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PaintDigital)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
