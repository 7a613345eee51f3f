// Time of one Calls Paint in steady state: the key's state asked of the link and compared with
// what is shown, against a control socket played in process (idle with the status picture, and a
// call in progress whose running time changes once a second).
#include "CallsPlugin.h"
#include "PhoneFixtures.h"

#include <QGuiApplication>

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>

namespace {

using namespace std::chrono_literals;

void paintSteady(benchmark::State &state, const char *calls)
{
    calls_test::ScriptedPhone phone([calls](const std::string &command) -> std::optional<std::string> {
        if (command == "listcalls")
            return std::string(calls);
        return std::string("> sip:alice@127.0.0.1:5060\n");
    });
    calls::CallsPlugin::Environment env = calls::CallsPlugin::systemEnvironment();
    env.findPhone = [] { return std::string("/usr/bin/baresip"); };
    env.endpoint = [&] { return calls::ControlEndpoint{"127.0.0.1", std::uint16_t(phone.port())}; };
    env.startPhone = [] { return false; };
    calls::CallsPlugin plugin(env);
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    plugin.link()->waitFor([](const calls::PhoneSnapshot &s) { return s.attached && s.version > 2; }, 5s);

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};
    PkxSurface surface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    plugin.Paint(surface);
    std::int64_t drawn = 0;
    for (auto _ : state)
        drawn += plugin.Paint(surface);
    state.counters["drawn"] = double(drawn);
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

void BM_PaintIdle(benchmark::State &state)
{
    paintSteady(state, "\n--- Active calls (0) ---\n\n");
}
BENCHMARK(BM_PaintIdle);

void BM_PaintCallInProgress(benchmark::State &state)
{
    paintSteady(state, "\n--- Active calls (1) ---\n> [line 1]  0:03:05  ESTABLISHED  sip:bob@127.0.0.1:5062\n\n");
}
BENCHMARK(BM_PaintCallInProgress);

// A face drawn anew (the state changed): a call in progress with every text and picture.
void BM_DrawCallFace(benchmark::State &state)
{
    calls::CallsFace face;
    face.loadFont();
    calls::CallsState call;
    call.attached = true;
    call.callPicture = calls::kPersonCall;
    call.partner = "Robert";
    call.duration = "03:05";
    call.prompt = "Press to end";
    call.promptIcon = calls::kReceiverRed;
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};
    PkxSurface surface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    for (auto _ : state) {
        face.draw(call, surface);
        benchmark::DoNotOptimize(bytes.data());
    }
}
BENCHMARK(BM_DrawCallFace);

} // namespace

int main(int argc, char **argv)
{
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
