// pixkey-emulator: plays the keypad on a pseudo-terminal until interrupted.

#include "KeypadEmulator.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

using namespace std::chrono;

namespace {

const char kUsage[] =
    "usage: pixkey-emulator --link PATH [options]\n"
    "\n"
    "Plays the Pixkey mini three keypad on a pseudo-terminal linked at PATH, so that the host\n"
    "program and pixkeyctl can be pointed at it (PIXKEY_PORT=PATH or --port PATH).\n"
    "Runs until SIGINT or SIGTERM; the link is removed on exit. SIGUSR1 unplugs the keypad (the\n"
    "link vanishes), SIGUSR2 plugs it in again under the same link.\n"
    "\n"
    "options:\n"
    "  --link PATH          where to link the emulated port (required)\n"
    "  --pace               pace both directions at the wire speed (1,000,000 baud, 10 bits a byte)\n"
    "  --latency-us N       delay each acknowledgement by N microseconds (default 0)\n"
    "  --png FILE           keep FILE up to date with a picture of the three keys\n"
    "  --log FILE           append one line per packet received to FILE ('-' for stdout)\n"
    "  --press-every MS[:KEYS]\n"
    "                       press a key every MS milliseconds, cycling through KEYS\n"
    "                       (digits 1..3, default 123)\n"
    "  --silent             never acknowledge (a keypad that does not answer)\n"
    "  --bad-acks N         answer the first N packets with a bad acknowledgement\n"
    "  --garbage N          send 3 garbage bytes before each of the first N acknowledgements\n"
    "  --help               show this text\n";

volatile std::sig_atomic_t g_stop = 0;
volatile std::sig_atomic_t g_unplug = 0;
volatile std::sig_atomic_t g_replug = 0;

void onSignal(int sig)
{
    if (sig == SIGUSR1)
        g_unplug = 1;
    else if (sig == SIGUSR2)
        g_replug = 1;
    else
        g_stop = 1;
}

const char *commandName(uint8_t c)
{
    switch (c) {
    case pixkey::KeypadEmulator::Ping: return "Ping";
    case pixkey::KeypadEmulator::WriteLine: return "WriteLine";
    case pixkey::KeypadEmulator::DisplayOn: return "DisplayOn";
    case pixkey::KeypadEmulator::DisplayOff: return "DisplayOff";
    case pixkey::KeypadEmulator::ShowFrame: return "ShowFrame";
    case pixkey::KeypadEmulator::SetBrightness: return "SetBrightness";
    default: return "Unknown";
    }
}

bool parseInt(const char *text, long min, long max, long &out)
{
    char *end = nullptr;
    errno = 0;
    long v = std::strtol(text, &end, 10);
    if (errno || end == text || *end || v < min || v > max)
        return false;
    out = v;
    return true;
}

int usageError(const std::string &message)
{
    std::fprintf(stderr, "pixkey-emulator: %s\n%s", message.c_str(), kUsage);
    return 64;
}

} // namespace

int main(int argc, char **argv)
{
    std::string link, pngPath, logPath;
    bool pace = false, silent = false;
    long latencyUs = 0, pressMs = 0, badAcks = 0, garbage = 0;
    std::string pressKeys = "123";

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char *name) -> const char * {
            if (i + 1 >= argc)
                return nullptr;
            (void)name;
            return argv[++i];
        };
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == "--link") {
            const char *v = value("--link");
            if (!v || !*v)
                return usageError("--link needs a path");
            link = v;
        } else if (a == "--pace") {
            pace = true;
        } else if (a == "--silent") {
            silent = true;
        } else if (a == "--latency-us") {
            const char *v = value("--latency-us");
            if (!v || !parseInt(v, 0, 10000000, latencyUs))
                return usageError("--latency-us needs a number of microseconds (0..10000000)");
        } else if (a == "--png") {
            const char *v = value("--png");
            if (!v || !*v)
                return usageError("--png needs a file name");
            pngPath = v;
        } else if (a == "--log") {
            const char *v = value("--log");
            if (!v || !*v)
                return usageError("--log needs a file name");
            logPath = v;
        } else if (a == "--press-every") {
            const char *v = value("--press-every");
            if (!v)
                return usageError("--press-every needs MS[:KEYS]");
            std::string spec = v;
            const auto colon = spec.find(':');
            if (colon != std::string::npos) {
                pressKeys = spec.substr(colon + 1);
                spec.resize(colon);
            }
            if (!parseInt(spec.c_str(), 1, 3600000, pressMs) || pressKeys.empty()
                || pressKeys.find_first_not_of("123") != std::string::npos)
                return usageError("--press-every needs MS[:KEYS], e.g. 1000:123");
        } else if (a == "--bad-acks") {
            const char *v = value("--bad-acks");
            if (!v || !parseInt(v, 0, 1000000, badAcks))
                return usageError("--bad-acks needs a count");
        } else if (a == "--garbage") {
            const char *v = value("--garbage");
            if (!v || !parseInt(v, 0, 1000000, garbage))
                return usageError("--garbage needs a count");
        } else {
            return usageError("unknown argument '" + a + "'");
        }
    }
    if (link.empty())
        return usageError("--link PATH is required");

    FILE *logFile = nullptr;
    if (!logPath.empty()) {
        logFile = logPath == "-" ? stdout : std::fopen(logPath.c_str(), "a");
        if (!logFile) {
            std::fprintf(stderr, "pixkey-emulator: cannot open log %s: %s\n", logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }

    pixkey::KeypadEmulator emulator(link);
    emulator.setPacing(pace);
    emulator.setLatency(microseconds(latencyUs));
    emulator.setSilent(silent);
    emulator.setBadAcknowledgements(static_cast<int>(badAcks));
    emulator.setGarbageBeforeAcknowledgements(static_cast<int>(garbage));
    const auto started = steady_clock::now();
    if (logFile) {
        emulator.setPacketObserver([logFile, started](const pixkey::EmulatorPacket &p) {
            const long long us = duration_cast<microseconds>(p.time - started).count();
            std::fprintf(logFile, "%lld.%06lld %-13s %3u %3u %3u checksum %3u %s\n", us / 1000000, us % 1000000,
                         commandName(p.command), p.arg1, p.arg2, p.arg3, p.checksum, p.checksumOk ? "ok" : "BAD");
            std::fflush(logFile);
        });
    }

    struct sigaction sa{};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    sigaction(SIGUSR1, &sa, nullptr);
    sigaction(SIGUSR2, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    std::string error;
    if (!emulator.start(&error)) {
        std::fprintf(stderr, "pixkey-emulator: cannot start: %s\n", error.c_str());
        return 1;
    }
    std::printf("pixkey-emulator: keypad emulated at %s (%s)\n", link.c_str(), emulator.devicePath().c_str());
    std::fflush(stdout);

    auto pngState = [&] {
        using E = pixkey::KeypadEmulator;
        return emulator.packetCount(E::ShowFrame) + emulator.packetCount(E::DisplayOn)
            + emulator.packetCount(E::DisplayOff) + emulator.packetCount(E::SetBrightness);
    };
    long pngWritten = -1;
    auto updatePng = [&] {
        if (pngPath.empty())
            return;
        const long state = pngState();
        if (state == pngWritten)
            return;
        if (!emulator.writePng(pngPath, &error))
            std::fprintf(stderr, "pixkey-emulator: %s\n", error.c_str());
        pngWritten = state;
    };

    auto nextPress = steady_clock::now() + milliseconds(pressMs);
    size_t pressIndex = 0;
    while (!g_stop) {
        const timespec tick{0, 20 * 1000 * 1000};
        nanosleep(&tick, nullptr);
        if (g_unplug) {
            g_unplug = 0;
            emulator.unplug();
            std::printf("pixkey-emulator: unplugged\n");
            std::fflush(stdout);
        }
        if (g_replug) {
            g_replug = 0;
            if (emulator.replug(&error))
                std::printf("pixkey-emulator: plugged in again at %s (%s)\n", link.c_str(), emulator.devicePath().c_str());
            else
                std::fprintf(stderr, "pixkey-emulator: cannot plug in again: %s\n", error.c_str());
            std::fflush(stdout);
            pngWritten = -1;
        }
        updatePng();
        if (pressMs > 0 && steady_clock::now() >= nextPress) {
            emulator.press(pressKeys[pressIndex++ % pressKeys.size()] - '0');
            nextPress += milliseconds(pressMs);
        }
    }
    updatePng();
    emulator.stop();
    if (logFile && logFile != stdout)
        std::fclose(logFile);
    return 0;
}
