// Time of one sample of the real /proc and of a written tree of 1,000 processes, of one paint of
// each key, and the processor time two keys take over a minute of painting every two seconds.
// Each sample is measured reading in batches through io_uring (batched:1) and file by file
// (batched:0, as where io_uring is missing), next to a baseline: the bare listing and open, read
// and close of the same stat files, the least a sample can cost file by file. Processor times
// are the whole process's, as the kernel's io_uring workers count as its threads.
//
//   bin/bench_sysmeter [--benchmark_filter=Sample]     (TwoKeysOneMinute takes a minute)
#include "FakeProc.h"
#include "ProcessSampler.h"
#include "SystemMonitor.h"

#include <pixkey_plugin.h>

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <thread>

namespace {

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "bench_sysmeter";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

// A clock that moves one second each time it is read, so every call samples anew.
sysmeter::SamplerOptions movingClock(bool oneFileAtATime = false)
{
    auto now = std::make_shared<std::uint64_t>(0);
    return sysmeter::SamplerOptions{0, 0, 0, [now] { return *now += 1000; }, oneFileAtATime};
}

double processCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Lists `root` and reads every PID/stat in it once; returns the bytes read.
long readEveryStat(int rootFd)
{
    long bytes = 0;
    DIR *dir = fdopendir(openat(rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!dir)
        return 0;
    char buffer[2048];
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        const std::string path = std::string(entry->d_name) + "/stat";
        const int fd = openat(rootFd, path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            continue;
        bytes += long(read(fd, buffer, sizeof buffer));
        close(fd);
    }
    closedir(dir);
    return bytes;
}

void readEveryStatOf(benchmark::State &state, const std::string &root)
{
    const int rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (auto _ : state)
        benchmark::DoNotOptimize(readEveryStat(rootFd));
    close(rootFd);
}

// The tree of BM_SampleWrittenTree and its baseline: `count` processes of 11-letter names.
const sysmeter_test::FakeProc &writtenTree(int count)
{
    static sysmeter_test::FakeProc tree;
    static int written = 0;
    if (written == 0)
        tree.setCpu(1000, 100, 5000);
    for (; written < count; ++written) {
        const int pid = written + 1;
        tree.addProcess({pid, "process-" + std::to_string(pid), std::uint64_t(pid), 1, std::uint64_t(100 + pid), 1, {}});
    }
    return tree;
}

void BM_ReadRealProcStats(benchmark::State &state)
{
    readEveryStatOf(state, "/proc");
}
BENCHMARK(BM_ReadRealProcStats)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_SampleRealProc(benchmark::State &state)
{
    sysmeter::ProcessSampler sampler("/proc", movingClock(state.range(0) == 0));
    for (auto _ : state)
        benchmark::DoNotOptimize(sampler.sample());
    state.counters["processes"] = double(sampler.processes().size());
    state.counters["in_batches"] = sampler.readsInBatches();
}
BENCHMARK(BM_SampleRealProc)->ArgName("batched")->Arg(1)->Arg(0)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

void BM_SampleWrittenTree(benchmark::State &state)
{
    const sysmeter_test::FakeProc &tree = writtenTree(int(state.range(0)));
    sysmeter::ProcessSampler sampler(tree.root(), movingClock(state.range(1) == 0));
    for (auto _ : state)
        benchmark::DoNotOptimize(sampler.sample());
    state.counters["processes"] = double(sampler.processes().size());
    state.counters["in_batches"] = sampler.readsInBatches();
}
BENCHMARK(BM_SampleWrittenTree)
    ->ArgNames({"processes", "batched"})
    ->Args({1000, 1})
    ->Args({1000, 0})
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

void BM_ReadWrittenTreeStats(benchmark::State &state)
{
    readEveryStatOf(state, writtenTree(int(state.range(0))).root());
}
BENCHMARK(BM_ReadWrittenTreeStats)->ArgName("processes")->Arg(1000)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);

// One paint of a key on the real system, sampling included (the strip is left out: a copy).
void BM_Paint(benchmark::State &state)
{
    ensureApplication();
    sysmeter::SystemMonitor monitor("/proc", movingClock());
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};
    PkxSurface surface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    for (auto _ : state) {
        if (state.range(0) == 1)
            monitor.paintMemory(surface);
        else
            monitor.paintProcessor(surface);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_Paint)->Arg(1)->Arg(2)->ArgName("kind")->Unit(benchmark::kMillisecond);

// Both keys on their own threads, painting every 2 s for 60 s as the host runs them; reports the
// processor time the process used meanwhile, in milliseconds and as a share of one processor.
void BM_TwoKeysOneMinute(benchmark::State &state)
{
    ensureApplication();
    for (auto _ : state) {
        const double before = processCpuSeconds();
        auto key = [](int kind) {
            sysmeter::SystemMonitor monitor;
            std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};
            PkxSurface surface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
            const auto start = std::chrono::steady_clock::now();
            for (int i = 0; i < 30; ++i) {
                kind == 1 ? monitor.paintMemory(surface) : monitor.paintProcessor(surface);
                std::this_thread::sleep_until(start + std::chrono::seconds(2) * (i + 1));
            }
        };
        std::thread memory(key, 1), processor(key, 2);
        memory.join();
        processor.join();
        const double used = processCpuSeconds() - before;
        state.counters["cpu_ms"] = used * 1000;
        state.counters["cpu_percent"] = used / 60 * 100;
    }
}
BENCHMARK(BM_TwoKeysOneMinute)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace

BENCHMARK_MAIN();
