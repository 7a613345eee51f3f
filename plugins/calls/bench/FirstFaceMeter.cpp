// calls_first_face: measures, on an emulated keypad driven by `pixkeyctl run Calls.pkx`, the time
// from the caller's phone reporting a call ringing (its CALL_RINGING event, sent as the user's
// phone reports the incoming call) to the incoming-call face shown on the key. Then plays the
// whole call once as a user would: a key press answers (both phones report it established), the
// running time counts, a second press ends it. Writes PNGs of the keypad at each step.
//
// Usage: calls_first_face [ROUNDS] [PNG_FOLDER]   (needs baresip; run by hand)
#include "PhoneFixtures.h"

#include <pixkey/test/EmulatedKeypad.h>
#include <pixkey/test/ServiceProcess.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using pixkey::test::EmulatedKeypad;

// The green receiver of "Press to start" at the bottom left of the key.
bool ringingFace(EmulatedKeypad::Rgb c)
{
    return c.g > 100 && c.r < 100;
}

bool waitKey(EmulatedKeypad &keypad, bool (*test)(EmulatedKeypad::Rgb), int x, int y, std::chrono::milliseconds deadline)
{
    const auto until = Clock::now() + deadline;
    while (Clock::now() < until) {
        if (test(keypad.shown(1, x, y)))
            return true;
        std::this_thread::sleep_for(1ms);
    }
    return false;
}

int fail(const char *what)
{
    std::fprintf(stderr, "calls_first_face: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    const std::string pngFolder = argc > 2 ? argv[2] : "";
    if (pixkey::test::ServiceProcess::find("baresip").empty())
        return fail("baresip is not installed");

    calls_test::Phone alice("alice"), bob("bob", "Bob");
    if (!alice.start() || !bob.start())
        return fail("the phones did not start");
    EmulatedKeypad keypad;
    if (!keypad.start())
        return fail("no emulated keypad");

    pixkey::test::ServiceProcess::Options options;
    options.program = PIXKEYCTL_PATH;
    options.arguments = {"run", CALLS_PKX, "--port", keypad.linkPath()};
    options.environment = {"HOME=" + alice.homeWithConfig(), "QT_QPA_PLATFORM=offscreen"};
    pixkey::test::ServiceProcess control(options);
    if (!control.start(pixkey::test::Probe::outputContains("running on the keypad")))
        return fail("pixkeyctl did not start");
    // The green disc of "online" in the middle of the key.
    if (!waitKey(keypad, [](EmulatedKeypad::Rgb c) { return c.g > 100 && c.r < 100; }, 32, 40, 10s))
        return fail("the key never showed the user online");
    auto png = [&](const char *name) {
        if (!pngFolder.empty())
            keypad->writePng(pngFolder + "/" + name);
    };
    png("calls-online.png");

    calls_test::ControlClient caller(bob.controlPort());
    std::vector<double> milliseconds;
    for (int round = 0; round < rounds; ++round) {
        caller.command("dial", alice.uri());
        if (!caller.waitForEvent({"CALL_RINGING"}))
            return fail("the caller's phone never reported ringing");
        const auto reported = Clock::now();
        if (!waitKey(keypad, ringingFace, 4, 91, 5s))
            return fail("the incoming call never showed on the key");
        milliseconds.push_back(std::chrono::duration<double, std::milli>(Clock::now() - reported).count());
        if (round + 1 < rounds) {
            caller.command("hangup");
            caller.waitForEvent({"CALL_CLOSED"});
            // Back to the missed-call face (no green receiver) before the next round.
            waitKey(keypad, [](EmulatedKeypad::Rgb c) { return !ringingFace(c); }, 4, 91, 5s);
        }
    }
    std::sort(milliseconds.begin(), milliseconds.end());
    std::printf("incoming call to its first face on the key: median %.0f ms, min %.0f ms, max %.0f ms (%d rounds)\n",
                milliseconds[milliseconds.size() / 2], milliseconds.front(), milliseconds.back(), rounds);
    png("calls-ringing.png");

    // The call as a user takes it: press, talk, press.
    keypad->press(1);
    if (!caller.waitForEvent({"CALL_ESTABLISHED"}))
        return fail("a press did not answer the call");
    std::printf("a press answered: the caller's phone reports the call established\n");
    std::this_thread::sleep_for(2500ms);
    png("calls-in-progress.png");
    keypad->press(1);
    if (!caller.waitForEvent({"CALL_CLOSED"}))
        return fail("a second press did not end the call");
    std::printf("a second press ended the call\n");
    std::this_thread::sleep_for(700ms);
    png("calls-ended.png");
    return 0;
}
