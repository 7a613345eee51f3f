// measure_runtime: figures of the running host on an emulated keypad with three Vegas reels.
//
//   measure_runtime [--presses N] [--idle-seconds S]
//
// 1. start-up: from building the runtime until all three keys show a face (the store holds
//    "Global" with three reels, as after --seed-demo);
// 2. key press: from the press report leaving the emulator until the first line of the new face
//    arrives on the wire (N presses, each after the reels came to rest);
// 3. idle CPU: processor time of the process over S seconds with the reels at rest (the emulator
//    runs in the same process and is counted too, so this is an upper bound for the host).
// No display, no logind, no udev; settings in a temporary folder. Run by hand, never as a test.
#include "AppCore.h"
#include "DeviceLink.h"
#include "KeypadEmulator.h"
#include "Runtime.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <sys/resource.h>

using namespace pixkey;
using Clock = std::chrono::steady_clock;

namespace {

bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

bool allKeysShowFaces(const KeypadEmulator &keypad)
{
    for (int key = 1; key <= 3; ++key) {
        const auto frame = keypad.shownFrameRaw(key);
        if (std::all_of(frame.begin(), frame.end(), [](std::uint16_t p) { return p == 0; }))
            return false;
    }
    return true;
}

// Waits until no line went to the keypad for 1.5 s.
bool settle(KeypadEmulator &keypad)
{
    return pumpUntil([&] {
        const long before = keypad.packetCount(1);
        const auto until = Clock::now() + std::chrono::milliseconds(1500);
        while (Clock::now() < until) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            if (keypad.packetCount(1) != before)
                return false;
            QThread::msleep(5);
        }
        return true;
    }, 60000);
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int presses = 5, idleSeconds = 30;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); ++i) {
        if (args[i] == QStringLiteral("--presses"))
            presses = std::max(1, args[i + 1].toInt());
        else if (args[i] == QStringLiteral("--idle-seconds"))
            idleSeconds = std::max(1, args[i + 1].toInt());
    }

    QTemporaryDir dir;
    QDir().mkpath(dir.path() + QStringLiteral("/peers"));
    QFile::setPermissions(dir.path() + QStringLiteral("/peers"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    KeypadEmulator keypad((dir.path() + QStringLiteral("/keypad")).toStdString());
    std::string error;
    if (!keypad.start(&error)) {
        std::fprintf(stderr, "measure_runtime: emulator: %s\n", error.c_str());
        return 1;
    }
    qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
    auto options = [&] {
        Runtime::Options o;
        o.storeFolder = dir.path() + QStringLiteral("/store");
        o.folders = {QCoreApplication::applicationDirPath(), dir.path() + QStringLiteral("/user")};
        o.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
        o.hook.useDisplay = false;
        o.watchSession = false;
        o.watchDevices = false;
        o.onExit = [](int) {};
        return o;
    };

    {
        Runtime seed(options());
        if (!seed.start() || !seed.seedDemo()) {
            std::fprintf(stderr, "measure_runtime: no Vegas plug-in in %s/Plugins\n",
                         qPrintable(QCoreApplication::applicationDirPath()));
            return 1;
        }
        seed.exit();
    }
    keypad.clearLog();

    const auto started = Clock::now();
    Runtime runtime(options());
    if (!runtime.start()) {
        std::fprintf(stderr, "measure_runtime: the runtime did not start\n");
        return 1;
    }
    if (!pumpUntil([&] { return allKeysShowFaces(keypad); }, 20000)) {
        std::fprintf(stderr, "measure_runtime: the keys never showed faces\n");
        return 1;
    }
    const double startupMs = std::chrono::duration<double, std::milli>(Clock::now() - started).count();
    std::printf("start-up to faces on all three keys: %.1f ms\n", startupMs);

    std::vector<double> latencies;
    for (int i = 0; i < presses; ++i) {
        if (!settle(keypad))
            break;
        keypad.clearLog();
        const auto pressed = Clock::now();
        keypad.press(2);
        Clock::time_point firstLine{};
        pumpUntil([&] {
            for (const EmulatorPacket &packet : keypad.packetLog())
                if (packet.command == 1 && packet.arg1 == 2) {
                    firstLine = packet.time;
                    return true;
                }
            return false;
        }, 5000);
        if (firstLine != Clock::time_point{})
            latencies.push_back(std::chrono::duration<double, std::milli>(firstLine - pressed).count());
    }
    std::sort(latencies.begin(), latencies.end());
    if (!latencies.empty())
        std::printf("key press to the first line of the new face: min %.2f ms, median %.2f ms, max %.2f ms (%zu presses)\n",
                    latencies.front(), latencies[latencies.size() / 2], latencies.back(), latencies.size());

    settle(keypad);
    const double cpuBefore = cpuSeconds();
    const auto idleStart = Clock::now();
    {
        // The program's own event loop, as it runs: nothing polls here.
        QEventLoop loop;
        QTimer::singleShot(idleSeconds * 1000, &loop, &QEventLoop::quit);
        loop.exec();
    }
    const double wall = std::chrono::duration<double>(Clock::now() - idleStart).count();
    const double cpu = cpuSeconds() - cpuBefore;
    std::printf("idle CPU with three reels at rest: %.3f s over %.1f s (%.2f %% of one core, emulator included)\n",
                cpu, wall, 100.0 * cpu / wall);
    runtime.exit();
    return 0;
}
