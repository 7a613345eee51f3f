// pixkey-paint-meter: measures the paint loop.
//
//   1. latency: from a Paint that returned 1 to the first line of that face on the emulated
//      keypad's wire (paced at the real 1,000,000 baud), through the face hand-off, the main
//      thread's FaceRouter and the device link;
//   2. the CPU time that three idle instances (Paint returns 0) cost while they wait out their
//      paint periods;
//   3. the same for three Vegas reels at rest, when Vegas.pkx is there.
//
// Usage: pixkey-paint-meter [SCRIPTED.pkx [VEGAS.pkx]]   (defaults: the build tree's copies)

#include "FaceRouter.h"
#include "KeyRow.h"
#include "LoadedLibrary.h"
#include "MainThreadQueue.h"
#include "PluginInstance.h"

#include "DeviceLink.h"
#include "KeypadEmulator.h"

#include <QGuiApplication>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

using namespace pixkey;
using namespace std::chrono;

namespace {

struct Row : KeyRow {
    PluginInstance *slots[3] = {};
    PluginInstance *instanceAt(int slot) const override { return slots[slot]; }
};

long long propertyValue(PluginInstance &instance, int i)
{
    std::string name, value;
    return instance.GetProperty(i, name, value) ? std::stoll(value) : -1;
}

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

int measureLatency(const std::string &scripted)
{
    const std::string linkPath = (std::filesystem::temp_directory_path() / ("pixkey-meter-" + std::to_string(getpid()))).string();
    KeypadEmulator emulator(linkPath);
    emulator.setPacing(true);
    std::mutex linesMutex;
    std::vector<steady_clock::time_point> lines; // guarded by linesMutex
    emulator.setPacketObserver([&](const EmulatorPacket &packet) {
        if (packet.command != KeypadEmulator::WriteLine)
            return;
        std::lock_guard lock(linesMutex);
        lines.push_back(packet.time);
    });
    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "emulator: %s\n", error.c_str());
        return 1;
    }
    DeviceLinkOptions options;
    options.portPath = linkPath;
    DeviceLink link(nullptr, std::move(options));
    link.Connect();
    for (int i = 0; i < 500 && !link.IsConnected(); ++i)
        std::this_thread::sleep_for(10ms);
    if (!link.IsConnected()) {
        std::fprintf(stderr, "the link to the emulator did not come up: %s\n", link.lastOpenError().c_str());
        return 1;
    }

    auto library = LoadedLibrary::load(scripted, &error);
    if (!library) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    MainThreadQueue queue;
    Row row;
    FaceRouter router(link, row);
    // Period 600 ms: a whole face takes about 200 ms on the paced wire, so faces never queue up.
    PluginInstance instance(library, 600, queue);
    instance.SetProperty("cycle", "1");
    row.slots[0] = &instance;
    std::vector<steady_clock::time_point> returned;
    queue.setFaceHandler([&](PluginInstance &changed) {
        returned.push_back(steady_clock::time_point(steady_clock::duration(propertyValue(changed, 6))));
        router.faceChanged(changed);
    });
    instance.Activate();
    const auto end = steady_clock::now() + 13s;
    while (steady_clock::now() < end)
        queue.pumpFor(50ms);
    instance.Deactivate();
    std::this_thread::sleep_for(300ms);
    link.Disconnect();

    std::vector<double> latencies;
    std::lock_guard lock(linesMutex);
    for (size_t i = 1; i < returned.size(); ++i) { // the first face is the unchanged first pass
        auto first = std::upper_bound(lines.begin(), lines.end(), returned[i]);
        if (first != lines.end())
            latencies.push_back(duration<double, std::milli>(*first - returned[i]).count());
    }
    if (latencies.empty()) {
        std::printf("latency: no face reached the wire\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    // The packet time is when its last byte arrived: one 197-byte line is 1.97 ms on the wire.
    std::printf("latency Paint -> first line on the wire (end of that line's packet, paced 1 Mbaud), %zu faces:\n"
                "  min %.2f ms, median %.2f ms, 95th %.2f ms, max %.2f ms\n",
                latencies.size(), latencies.front(), latencies[latencies.size() / 2],
                latencies[latencies.size() * 95 / 100], latencies.back());
    return 0;
}

int measureIdle(const std::string &path, const char *label, const std::vector<std::pair<std::string, std::string>> &properties)
{
    std::string error;
    auto library = LoadedLibrary::load(path, &error);
    if (!library) {
        std::printf("%s: skipped (%s)\n", label, error.c_str());
        return 0;
    }
    MainThreadQueue queue;
    std::vector<std::unique_ptr<PluginInstance>> instances;
    for (int i = 0; i < 3; ++i) {
        instances.push_back(std::make_unique<PluginInstance>(library, 1, queue));
        for (const auto &[name, value] : properties)
            instances.back()->SetProperty(name, value);
        instances.back()->Activate();
    }
    // Let start-up (first faces, warm-up paints) pass, then measure a quiet stretch.
    auto pumpFor = [&](steady_clock::duration span) {
        const auto end = steady_clock::now() + span;
        while (steady_clock::now() < end)
            queue.pumpFor(100ms);
    };
    pumpFor(3s);
    const double cpuBefore = cpuSeconds();
    const auto wallBefore = steady_clock::now();
    pumpFor(20s);
    const double cpu = cpuSeconds() - cpuBefore;
    const double wall = duration<double>(steady_clock::now() - wallBefore).count();
    std::printf("%s: three instances, %.1f s: CPU %.1f ms (%.3f %% of one core)\n", label, wall, cpu * 1000,
                100.0 * cpu / wall);
    for (auto &instance : instances)
        instance->Deactivate();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const std::string scripted = argc > 1 ? argv[1] : PIXKEY_METER_SCRIPTED;
    const std::string vegas = argc > 2 ? argv[2] : PIXKEY_METER_VEGAS;
    if (!std::getenv("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QGuiApplication application(argc, argv);
    int result = measureLatency(scripted);
    result |= measureIdle(scripted, "idle (Paint returns 0, period 300 ms)", {{"result", "0"}});
    result |= measureIdle(vegas, "Vegas reels at rest", {});
    return result;
}
