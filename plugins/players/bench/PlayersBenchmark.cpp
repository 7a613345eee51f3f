// Players benchmarks (run by hand: bin/bench_players): the play/pause key's Paint in steady state
// with a player present (the face, the ticker, the time bar; read from the directory's snapshot,
// no bus traffic), and a key press up to the player's answer to the command. Both against the
// scripted MPRIS player on a private session bus.
#include "PlayerDirectory.h"
#include "PlayersPlugin.h"
#include "PlayersTestSupport.h"

#include <pixkey/test/SessionBus.h>

#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

struct Setup {
    pixkey::test::SessionBus bus;
    std::unique_ptr<players_test::FakePlayer> player;
    std::shared_ptr<players::PlayerDirectory> directory;
    bool ready = false;

    Setup()
    {
        if (!bus.running()) {
            std::fprintf(stderr, "bench_players: %s\n", bus.error().c_str());
            return;
        }
        player = std::make_unique<players_test::FakePlayer>(
            bus.address(), "bench",
            std::vector<std::string>{"--status", "Playing", "--artist", "An Artist", "--title",
                                     "A title long enough to scroll across the key", "--position", "61500000",
                                     "--length", "180000000"});
        if (!player->start())
            return;
        players::PlayerDirectory::Options options;
        options.busAddress = QString::fromStdString(bus.address());
        options.focusedProcess = [] { return 0; };
        directory = std::make_shared<players::PlayerDirectory>(options);
        ready = directory->waitUntil([](const players::PlayerSnapshot &s) { return !s.players.empty(); }, 10s);
    }
};

Setup *setup;

void BM_PaintPlayPause(benchmark::State &state)
{
    if (!setup->ready) {
        state.SkipWithError("no player");
        return;
    }
    players::PlayersPlugin key(players::PlayersPlugin::PlayPauseKey, setup->directory);
    key.OnEvent(PKX_EVENT_ACTIVATE);
    players_test::Face face;
    for (int i = 0; i < 10; ++i) // fonts and glyph caches warm
        key.Paint(*face.surface());
    for (auto _ : state)
        benchmark::DoNotOptimize(key.Paint(*face.surface()));
    key.OnEvent(PKX_EVENT_DEACTIVATE);
}
BENCHMARK(BM_PaintPlayPause)->Unit(benchmark::kMicrosecond);

void BM_PressToPlayer(benchmark::State &state)
{
    if (!setup->ready) {
        state.SkipWithError("no player");
        return;
    }
    players::PlayersPlugin key(players::PlayersPlugin::NextKey, setup->directory);
    key.OnEvent(PKX_EVENT_ACTIVATE);
    for (auto _ : state)
        key.OnKeyDown(); // returns once the player answered Next
    key.OnEvent(PKX_EVENT_DEACTIVATE);
}
BENCHMARK(BM_PressToPlayer)->Unit(benchmark::kMicrosecond)->UseRealTime();

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    Setup shared;
    setup = &shared;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    setup = nullptr;
    return 0;
}
