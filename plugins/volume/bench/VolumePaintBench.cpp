// Time of one Volume Paint (run by hand: bin/bench_volume_paint). "Unchanged" is the call the
// paint thread makes twice a second while nobody touches the volume: two reads of the back end's
// cache and a comparison, with the sound-server back end attached to a private pulseaudio that
// this program starts; no round trip to the server. "Drawn" is a paint that finds a new level:
// the face copied and the bar drawn.
#include "PulseVolumeControl.h"
#include "SoundServer.h"
#include "VolumePlugin.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdio>

namespace {

std::string g_server;

struct Face {
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface surface{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
};

void BM_PaintUnchanged(benchmark::State &state)
{
    auto control = std::make_unique<volume::PulseVolumeControl>(g_server);
    volume::PulseVolumeControl *pulse = control.get();
    volume::VolumePlugin key(volume::VolumePlugin::Up, std::move(control));
    key.OnEvent(PKX_EVENT_ACTIVATE);
    if (!pulse->attached()) {
        state.SkipWithError("the sound server did not answer");
        return;
    }
    Face face;
    key.Paint(face.surface);
    for (auto _ : state)
        benchmark::DoNotOptimize(key.Paint(face.surface));
    key.OnEvent(PKX_EVENT_DEACTIVATE);
}

// A back end whose level moves on every read, so that every Paint draws.
class MovingLevel final : public volume::VolumeControl {
public:
    int Open() override { return 1; }
    void Close() override {}
    int GetMute() override { return 0; }
    void SetMute(int) override {}
    unsigned GetVolume() override { return m_level = (m_level + 6553) % 65536; }
    void SetVolume(unsigned level) override { m_level = level; }

private:
    unsigned m_level = 0;
};

void BM_PaintDrawn(benchmark::State &state)
{
    volume::VolumePlugin key(volume::VolumePlugin::Up, std::make_unique<MovingLevel>());
    key.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    for (auto _ : state)
        benchmark::DoNotOptimize(key.Paint(face.surface));
    key.OnEvent(PKX_EVENT_DEACTIVATE);
}

BENCHMARK(BM_PaintUnchanged);
BENCHMARK(BM_PaintDrawn);

} // namespace

int main(int argc, char **argv)
{
    volume::test::SoundServer server;
    const auto started = server.start();
    if (!started) {
        std::fprintf(stderr, "bench_volume_paint: %s\n", started.message());
        return 1;
    }
    g_server = server.address();

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
