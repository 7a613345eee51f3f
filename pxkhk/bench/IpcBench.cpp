// What the hook thread spends on a compositor's IPC traffic: sway's focus events from the socket
// to the foreground report (read, framed, parsed, remembered), and a whole layout tree of a busy
// session, as sway sends it once at start.
#include "Json.h"
#include "SwayIpc.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace pixkey;

namespace {

struct Counter : DesktopEvents {
    long changes = 0;
    void foregroundChanged(unsigned long, int) override { ++changes; }
    void modifierRowChanged(int) override {}
    void hotkeyPressed(int, std::uint32_t) override {}
};

std::string windowJson(int id, bool focused)
{
    return R"({"id":)" + std::to_string(id) + R"(,"type":"con","name":"Document )" + std::to_string(id)
        + R"( - Editor","pid":)" + std::to_string(1000 + id) + R"(,"app_id":"org.example.editor","focused":)"
        + (focused ? "true" : "false")
        + R"(,"rect":{"x":0,"y":0,"width":800,"height":600},"marks":[],"nodes":[],"floating_nodes":[],)"
          R"("window_properties":null,"shell":"xdg_shell","visible":true})";
}

// A tree with `windows` windows on 10 workspaces.
std::string tree(int windows)
{
    std::string workspaces;
    for (int w = 0; w < 10; ++w) {
        std::string nodes;
        for (int i = w; i < windows; i += 10)
            nodes += std::string(nodes.empty() ? "" : ",") + windowJson(100 + i, i == 0);
        workspaces += std::string(workspaces.empty() ? "" : ",") + R"({"id":)" + std::to_string(10 + w)
            + R"(,"type":"workspace","name":")" + std::to_string(w + 1) + R"(","nodes":[)" + nodes + R"(],"floating_nodes":[]})";
    }
    return R"({"id":1,"type":"root","nodes":[{"id":2,"type":"output","name":"HEADLESS-1","nodes":[)" + workspaces + "]}]}";
}

void BM_SwayTreeParse(benchmark::State &state)
{
    const std::string text = tree(int(state.range(0)));
    for (auto _ : state) {
        auto value = JsonValue::parse(text);
        benchmark::DoNotOptimize(value);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(text.size()));
}
BENCHMARK(BM_SwayTreeParse)->Arg(20)->Arg(500);

// Focus events through a real socket to the back end, one dispatch per batch of 64.
void BM_SwayFocusEvents(benchmark::State &state)
{
    char folder[] = "/tmp/pxkhk-bench-XXXXXX";
    if (!::mkdtemp(folder)) {
        state.SkipWithError("no folder");
        return;
    }
    const std::string path = std::string(folder) + "/sway.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    ::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address);
    ::listen(listener, 1);
    SwayIpc backend(path);
    std::string error;
    backend.open(error);
    const int peer = ::accept(listener, nullptr, nullptr);
    std::string batch;
    for (int i = 0; i < 64; ++i)
        batch += SwayIpc::frame(0x80000003u, R"({"change":"focus","container":)" + windowJson(100 + i % 8, true) + "}");
    Counter events;
    for (auto _ : state) {
        std::size_t sent = 0;
        while (sent < batch.size()) {
            const ssize_t n = ::send(peer, batch.data() + sent, batch.size() - sent, MSG_NOSIGNAL);
            if (n <= 0)
                break;
            sent += std::size_t(n);
            backend.dispatch(events);
        }
        backend.dispatch(events);
    }
    state.SetItemsProcessed(std::int64_t(state.iterations()) * 64);
    ::close(peer);
    ::close(listener);
    ::unlink(path.c_str());
    ::rmdir(folder);
}
BENCHMARK(BM_SwayFocusEvents);

} // namespace

BENCHMARK_MAIN();
