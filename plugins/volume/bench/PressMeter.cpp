// volume_press_meter: the time from a key press to the new bar on the keypad's screen (run by
// hand: bin/volume_press_meter [PRESSES] [--pace]; --pace runs the wire at its real speed). A
// private pulseaudio, the keypad emulator and `pixkeyctl run Volume.pkx:1 Volume.pkx:2
// Volume.pkx:3` as the user runs it; the meter presses Up and Down in turn and times each press
// until the pressed key shows its new bar, wire upload and ShowFrame included. Prints the least,
// median and largest time.
#include "KeypadEmulator.h"
#include "SoundServer.h"

#include <pixkey/test/ServiceProcess.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// Lit segments of the bar on what key `key` shows: segment centres on row 83.
int litSegments(const pixkey::KeypadEmulator &keypad, int key)
{
    const std::vector<std::uint8_t> rgb = keypad.shownFrameRgb(key);
    if (rgb.size() < 96 * 96 * 3)
        return -1;
    int lit = 0;
    for (int i = 0; i < 10; ++i) {
        const std::size_t at = (std::size_t(83) * 96 + std::size_t(19 + 6 * i)) * 3;
        if (rgb[at] > 200 && rgb[at + 1] > 200 && rgb[at + 2] > 200)
            ++lit;
    }
    return lit;
}

} // namespace

int main(int argc, char **argv)
{
    int presses = 40;
    bool pace = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--pace")
            pace = true;
        else
            presses = std::max(1, std::atoi(argv[i]));
    }

    volume::test::SoundServer server;
    if (const auto started = server.start(); !started) {
        std::fprintf(stderr, "volume_press_meter: %s\n", started.message());
        return 1;
    }
    server.setSinkVolume({32768, 32768});

    char pattern[] = "/tmp/volume-meter-XXXXXX";
    if (!mkdtemp(pattern))
        return 1;
    const std::string link = std::string(pattern) + "/keypad";
    pixkey::KeypadEmulator keypad(link);
    keypad.setPacing(pace);
    std::string error;
    if (!keypad.start(&error)) {
        std::fprintf(stderr, "volume_press_meter: %s\n", error.c_str());
        return 1;
    }

    pixkey::test::ServiceProcess::Options o;
    o.program = PIXKEYCTL_PATH;
    o.arguments = {"run", VOLUME_PKX_PATH ":1", VOLUME_PKX_PATH ":2", VOLUME_PKX_PATH ":3"};
    o.environment = {"PIXKEY_PORT=" + link, "PULSE_SERVER=" + server.address(), "QT_QPA_PLATFORM=offscreen"};
    pixkey::test::ServiceProcess ctl(o);
    if (const auto started = ctl.start(); !started) {
        std::fprintf(stderr, "volume_press_meter: %s\n", started.message());
        return 1;
    }
    if (!keypad.waitUntil([&] { return litSegments(keypad, 1) == 5 && litSegments(keypad, 2) == 5; }, 20s)) {
        std::fprintf(stderr, "volume_press_meter: the keys never showed the level\n%s\n", ctl.output().c_str());
        return 1;
    }

    std::vector<double> times;
    int key = 1;
    int current = 5; // what the last pressed key shows
    for (int i = 0; i < presses; ++i) {
        if ((key == 1 && current == 10) || (key == 2 && current == 0))
            key = 3 - key;
        // The other key's change reaches this key's face on its next paint (every 500 ms); press
        // only once it shows it, so that the change timed is this press's.
        keypad.waitUntil([&] { return litSegments(keypad, key) == current; }, 2s);
        const auto start = Clock::now();
        keypad.press(key);
        if (!keypad.waitUntil([&] { return litSegments(keypad, key) != current; }, 5s)) {
            std::fprintf(stderr, "volume_press_meter: press %d on key %d showed nothing (bars %d %d %d, %s)\n", i + 1,
                         key, litSegments(keypad, 1), litSegments(keypad, 2), litSegments(keypad, 3),
                         server.pactl({"get-sink-volume", "@DEFAULT_SINK@"}).c_str());
            return 1;
        }
        times.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        current = litSegments(keypad, key);
    }
    std::sort(times.begin(), times.end());
    std::printf("press to new bar on the screen%s, %zu presses: least %.2f ms, median %.2f ms, largest %.2f ms\n",
                pace ? " (wire at 1,000,000 baud)" : "", times.size(), times.front(), times[times.size() / 2], times.back());
    return 0;
}
