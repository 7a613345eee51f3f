// Speed of the frame pipeline: line conversion and the submission of frames.
#include "DeviceLink.h"
#include "PixelTables.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <random>
#include <vector>

namespace {

using namespace pixkey;

std::vector<uint8_t> noise(size_t n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::vector<uint8_t> v(n);
    for (auto &b : v)
        b = static_cast<uint8_t>(rng());
    return v;
}

// Pixels per second through ConvertLine (one core).
void BM_ConvertLine(benchmark::State &state)
{
    PixelTables tables;
    const auto picture = noise(kPictureBytes, 1);
    uint8_t wire[kLineBytes];
    int row = 0;
    for (auto _ : state) {
        tables.ConvertLine(picture.data() + row * kRowBytes, wire);
        benchmark::DoNotOptimize(wire);
        row = (row + 1) % kFaceSize;
    }
    state.SetItemsProcessed(state.iterations() * kFaceSize);
}
BENCHMARK(BM_ConvertLine);

// A link that is not connected: the worker consumes uploads at once, so what is measured is the
// caller's side (comparison, copy, hand-over).
std::unique_ptr<DeviceLink> idleLink()
{
    ::unsetenv("PIXKEY_PORT");
    return std::make_unique<DeviceLink>();
}

// Submitting the picture the key already shows.
void BM_SubmitFrameIdentical(benchmark::State &state)
{
    auto link = idleLink();
    const auto picture = noise(kPictureBytes, 2);
    link->SubmitFrame(1, picture.data(), true); // now counts as shown
    for (auto _ : state)
        benchmark::DoNotOptimize(link->SubmitFrame(1, picture.data(), false));
}
BENCHMARK(BM_SubmitFrameIdentical)->Unit(benchmark::kMicrosecond);

// Submitting a picture that differs from the shown one in one row (a ticking clock).
void BM_SubmitFrameOneRowChanged(benchmark::State &state)
{
    auto link = idleLink();
    auto picture = noise(kPictureBytes, 3);
    link->SubmitFrame(1, picture.data(), true);
    uint8_t tick = 0;
    for (auto _ : state) {
        picture[40 * kRowBytes + 7] = ++tick;
        benchmark::DoNotOptimize(link->SubmitFrame(1, picture.data(), false));
    }
}
BENCHMARK(BM_SubmitFrameOneRowChanged)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
