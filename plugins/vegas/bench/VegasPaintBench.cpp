// Cost of one reel step: a spinning step copies a whole cell onto the face, a step at rest only
// draws its random number and reads the clock.
#include "VegasReel.h"

#include <benchmark/benchmark.h>

#include <array>

namespace {

void spinningStep(benchmark::State &state)
{
    vegas::FileTime now = 0;
    vegas::VegasReel reel([&now] { return now; });
    reel.OnEvent(PKX_EVENT_ACTIVATE);
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> face{};
    PkxSurface surface{face.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    for (auto _ : state) {
        reel.OnKeyDown();
        benchmark::DoNotOptimize(reel.Paint(surface));
    }
    vegas::spinRequested.store(0);
}
BENCHMARK(spinningStep);

void stepAtRest(benchmark::State &state)
{
    vegas::VegasReel reel(nullptr, 0); // the system clock, as in the plug-in
    reel.OnEvent(PKX_EVENT_ACTIVATE);
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> face{};
    PkxSurface surface{face.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    for (int i = 0; i < 4; ++i)
        reel.Paint(surface);
    for (auto _ : state)
        benchmark::DoNotOptimize(reel.Paint(surface));
}
BENCHMARK(stepAtRest);

void activation(benchmark::State &state)
{
    vegas::VegasReel reel(nullptr, 0);
    for (auto _ : state) {
        benchmark::DoNotOptimize(reel.OnEvent(PKX_EVENT_ACTIVATE));
        reel.OnEvent(PKX_EVENT_DEACTIVATE);
    }
}
BENCHMARK(activation);

} // namespace

BENCHMARK_MAIN();
