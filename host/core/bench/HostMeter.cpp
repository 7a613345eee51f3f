// measure_host: what the host costs while nothing happens, beside what its plug-ins cost alone.
//
//   measure_host [--seconds S] [--sets analog,digital,vegas] [--presses N] [--rounds R]
//
// For each set of three keys (analog clocks, digital clocks, Vegas reels at rest) it runs, one
// after the other against a paced keypad emulator (pixkey-emulator --pace):
//   1. pixkeyctl run with the three plug-ins;
//   2. the host started "minimized" with its window hidden in the notification area (a status
//      notifier watcher, measure_tray_watcher, on a private session bus that every program here
//      uses; the tool says whether the host's icon registered there);
//   3. the host with its window shown;
// R times over (default once; the three alternate, so that a change in the machine's load reaches
// all of them), and prints for each the CPU share of one core, the resident memory, the packets a
// second the emulator received (from its --log), the wake-ups a second of every busy thread
// (voluntary and involuntary context switches) with its CPU time (microseconds a second, from its
// schedstat) and the ratio host / pixkeyctl; with several rounds, the ratios of the medians too.
// The hosts get a private Xvfb, settings and runtime folders of their own. Every measuring window
// starts at the same second of the minute as the first (the clocks' uploads depend on the angle of
// their hands), which costs up to a minute of waiting per program. Run by hand.
//
// Then the press latency (--presses N, default 40; 0 skips it): key 1 runs the test plug-in built
// to change its face on every press; keys 2 and 3 run it either at rest ("quiet") or with a new
// whole face every paint ("busy", so the link always has their uploads to make). The tool presses
// key 1 on an emulator of its own and takes the time from the press to the end of the first line
// packet for key 1 after it; median, 95th percentile and maximum for pixkeyctl run and the hidden
// host.
#include "KeypadEmulator.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

fs::path binFolder()
{
    return fs::read_symlink("/proc/self/exe").parent_path();
}

pid_t spawn(const std::vector<std::string> &args, const std::vector<std::string> &env, const fs::path &log)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        for (const std::string &e : env)
            ::putenv(const_cast<char *>(e.c_str()));
        std::vector<char *> argv;
        for (const std::string &a : args)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

void stop(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    for (int i = 0; i < 100; ++i) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(50ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

int run(const std::vector<std::string> &args, const std::vector<std::string> &env, const fs::path &log)
{
    const pid_t pid = spawn(args, env, log);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Turns the tray icon setting of the settings kept under `folder` on or off.
void setTrayIcon(const fs::path &folder, bool on)
{
    const fs::path ini = folder / "config" / "Vostrel" / "PixkeyMini.ini";
    std::string settings = readFile(ini);
    const auto at = settings.find("TrayIcon=");
    if (at != std::string::npos)
        settings[at + 9] = on ? '1' : '0';
    std::ofstream(ini) << settings;
}

long statusField(const std::string &status, const std::string &name)
{
    const auto at = status.find(name + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + name.size() + 1);
}

struct Sample {
    double cpuSeconds = 0; // from the clock ticks of /proc/PID/stat (10 ms steps)
    std::map<int, double> threadCpu; // tid -> seconds on a CPU, from schedstat (nanoseconds)
    std::map<int, std::pair<std::string, long>> switches; // tid -> (name, context switches)
    long rssKb = 0;
};

Sample sample(pid_t pid)
{
    Sample s;
    const std::string stat = readFile("/proc/" + std::to_string(pid) + "/stat");
    const auto close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        long utime = 0, stime = 0;
        for (int i = 3; fields >> field; ++i) {
            if (i == 14)
                utime = std::atol(field.c_str());
            if (i == 15) {
                stime = std::atol(field.c_str());
                break;
            }
        }
        s.cpuSeconds = double(utime + stime) / double(::sysconf(_SC_CLK_TCK));
    }
    s.rssKb = statusField(readFile("/proc/" + std::to_string(pid) + "/status"), "VmRSS");
    std::error_code error;
    for (const auto &task : fs::directory_iterator("/proc/" + std::to_string(pid) + "/task", error)) {
        const std::string status = readFile(task.path() / "status");
        std::string name = readFile(task.path() / "comm");
        if (!name.empty() && name.back() == '\n')
            name.pop_back();
        std::istringstream sched(readFile(task.path() / "schedstat"));
        unsigned long long ns = 0;
        if (sched >> ns)
            s.threadCpu[std::atoi(task.path().filename().c_str())] = double(ns) / 1e9;
        s.switches[std::atoi(task.path().filename().c_str())] = {
            name, statusField(status, "voluntary_ctxt_switches") + statusField(status, "nonvoluntary_ctxt_switches")};
    }
    return s;
}

struct Figures {
    double cpuPercent = 0;
    double rssMb = 0;
    double packetsPerSecond = 0; // received by the emulator
    std::string threads;
};

// Lines in the emulator's packet log: one per packet received.
long packetsLogged(const fs::path &log)
{
    const std::string text = readFile(log);
    return long(std::count(text.begin(), text.end(), '\n'));
}

// The clocks upload more rows when their hands stand upright than when they lie flat, so a
// window's packet count depends on where in the minute it lies. Every window starts at the same
// second of the minute as the first one, so that programs are compared over the same hand angles.
void waitForTheMinutePhase()
{
    using Clock = std::chrono::steady_clock;
    static const Clock::time_point first = Clock::now();
    const auto since = Clock::now() - first;
    const auto minutes = std::chrono::ceil<std::chrono::minutes>(since);
    std::this_thread::sleep_until(first + minutes);
}

Figures measure(pid_t pid, int seconds, const fs::path &packetLog)
{
    std::this_thread::sleep_for(4s); // start-up and the first faces
    waitForTheMinutePhase();
    const long packets0 = packetsLogged(packetLog);
    const Sample a = sample(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Sample b = sample(pid);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    Figures f;
    f.packetsPerSecond = double(packetsLogged(packetLog) - packets0) / elapsed;
    // The threads' own nanosecond counts where the kernel keeps them: a host at rest uses a few
    // clock ticks in a run, too few for the ticks to tell 0.1 % from 0.3 %. Threads that ended
    // during the run are missed by this sum, so the ticks decide when they say more.
    double threads = 0;
    for (const auto &[tid, seconds] : b.threadCpu) {
        const auto before = a.threadCpu.find(tid);
        threads += seconds - (before == a.threadCpu.end() ? 0.0 : before->second);
    }
    const double ticks = b.cpuSeconds - a.cpuSeconds;
    f.cpuPercent = 100.0 * (b.threadCpu.empty() || ticks > threads + 0.02 ? ticks : threads) / elapsed;
    f.rssMb = double(b.rssKb) / 1024.0;
    for (const auto &[tid, entry] : b.switches) {
        const auto before = a.switches.find(tid);
        const long count = entry.second - (before == a.switches.end() ? 0 : before->second.second);
        const double rate = double(count) / elapsed;
        const auto cpuAfter = b.threadCpu.find(tid);
        const auto cpuBefore = a.threadCpu.find(tid);
        const double cpu = cpuAfter == b.threadCpu.end() ? 0.0
                                                         : cpuAfter->second - (cpuBefore == a.threadCpu.end() ? 0.0 : cpuBefore->second);
        if (rate >= 0.5) {
            char text[128];
            std::snprintf(text, sizeof text, " %s%s %.0f/%.0f", tid == pid ? "main" : "", tid == pid ? "" : entry.first.c_str(),
                          rate, 1e6 * cpu / elapsed);
            f.threads += text;
        }
    }
    return f;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

// Press-to-first-line times, in milliseconds; empty when the program never answered.
struct PressTimes {
    std::vector<double> ms;
    int unanswered = 0;
};

PressTimes pressKeyOne(pixkey::KeypadEmulator &emulator, std::mutex &lock, std::condition_variable &arrived,
                       const std::vector<std::chrono::steady_clock::time_point> &lines, int presses)
{
    PressTimes result;
    std::this_thread::sleep_for(4s); // start-up and the first faces
    for (int i = 0; i < presses; ++i) {
        // Spread over the upload cycle of the other keys rather than in step with it.
        std::this_thread::sleep_for(std::chrono::milliseconds(250 + (i * 37) % 120));
        std::unique_lock guard(lock);
        const std::size_t seen = lines.size();
        const auto pressed = std::chrono::steady_clock::now();
        emulator.press(1);
        if (!arrived.wait_for(guard, 5s, [&] { return lines.size() > seen; })) {
            ++result.unanswered;
            continue;
        }
        result.ms.push_back(std::chrono::duration<double, std::milli>(lines[seen] - pressed).count());
        guard.unlock();
        // Let the rest of that face go out before the next press.
        std::this_thread::sleep_for(100ms);
    }
    return result;
}

void printPressTimes(const char *program, const char *others, PressTimes times)
{
    if (times.ms.empty()) {
        std::printf("press    %-22s %-6s no answer to %d presses\n", program, others, times.unanswered);
        return;
    }
    std::sort(times.ms.begin(), times.ms.end());
    const auto at = [&](double share) {
        return times.ms[std::min(times.ms.size() - 1, std::size_t(share * double(times.ms.size())))];
    };
    std::printf("press    %-22s %-6s median %7.2f ms  95th %7.2f ms  max %7.2f ms  (%zu presses, %d unanswered)\n",
                program, others, at(0.5), at(0.95), times.ms.back(), times.ms.size(), times.unanswered);
}

void measurePresses(const fs::path &bin, const fs::path &work, const std::string &displayEnv, const std::string &busEnv,
                    int presses)
{
    const std::string plugin = (bin / "measure-plugins" / "measure_press_plugin.pkx").string();
    if (!fs::exists(plugin)) {
        std::printf("press    the test plug-in %s is missing\n", plugin.c_str());
        return;
    }
    for (const bool busy : {false, true}) {
        const fs::path folder = work / (busy ? "press-busy" : "press-quiet");
        fs::create_directories(folder / "run");
        fs::permissions(folder / "run", fs::perms::owner_all);
        const std::string port = (folder / "tty").string();
        const std::vector<std::string> env = {
            "PIXKEY_PORT=" + port, "XDG_CONFIG_HOME=" + (folder / "config").string(),
            "XDG_DATA_HOME=" + (folder / "data").string(), "XDG_RUNTIME_DIR=" + (folder / "run").string(),
            displayEnv, busEnv, "QT_QPA_PLATFORM=xcb"};

        std::mutex lock;
        std::condition_variable arrived;
        std::vector<std::chrono::steady_clock::time_point> lines; // WriteLine packets for key 1
        pixkey::KeypadEmulator emulator(port);
        emulator.setPacing(true);
        emulator.setPacketObserver([&](const pixkey::EmulatorPacket &packet) {
            if (packet.command != pixkey::KeypadEmulator::WriteLine || packet.arg1 != 1)
                return;
            {
                std::lock_guard guard(lock);
                lines.push_back(packet.time);
            }
            arrived.notify_all();
        });
        std::string error;
        if (!emulator.start(&error)) {
            std::printf("press    no emulator: %s\n", error.c_str());
            return;
        }
        const std::string other = busy ? plugin + "@Busy=1" : plugin;
        const char *others = busy ? "busy" : "quiet";

        const pid_t ctl = spawn({(bin / "pixkeyctl").string(), "run", plugin, other, other}, env, folder / "pixkeyctl.log");
        const PressTimes alone = pressKeyOne(emulator, lock, arrived, lines, presses);
        stop(ctl);
        printPressTimes("pixkeyctl run", others, alone);

        run({(bin / "pixkeyctl").string(), "install", plugin}, env, folder / "install.log");
        const std::string name = fs::path(plugin).filename().string();
        run({(bin / "pixkeyctl").string(), "assign", "Global", "0", "1", name}, env, folder / "assign.log");
        for (int key = 2; key <= 3; ++key)
            run({(bin / "pixkeyctl").string(), "assign", "Global", "0", std::to_string(key),
                 busy ? name + "@Busy=1" : name}, env, folder / "assign.log");
        setTrayIcon(folder, false);
        const pid_t host = spawn({(bin / "PixkeyMiniConfigurator").string(), "minimized"}, env, folder / "host.log");
        const PressTimes hosted = pressKeyOne(emulator, lock, arrived, lines, presses);
        stop(host);
        printPressTimes("host, window hidden", others, hosted);
        emulator.stop();
    }
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 20;
    int presses = 40;
    int rounds = 1;
    std::string sets = "analog,digital,vegas";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--sets")
            sets = argv[i + 1];
        else if (option == "--presses")
            presses = std::max(0, std::atoi(argv[i + 1]));
        else if (option == "--rounds")
            rounds = std::max(1, std::atoi(argv[i + 1]));
    }
    const fs::path bin = binFolder();
    char pattern[] = "/tmp/measure_host.XXXXXX";
    const fs::path work = ::mkdtemp(pattern);

    // A private X server for the hosts (their window and the desktop hook).
    const int display = 400 + int(::getpid() % 400);
    const pid_t xvfb = spawn({"/usr/bin/Xvfb", ":" + std::to_string(display), "-nolisten", "tcp", "-screen", "0",
                              "1280x1024x24"}, {}, work / "xvfb.log");
    std::this_thread::sleep_for(1500ms);
    const std::string displayEnv = "DISPLAY=:" + std::to_string(display);

    // The notification area: a status notifier watcher on a private session bus.
    pixkey::test::SessionBus bus;
    if (!bus.running()) {
        std::fprintf(stderr, "measure_host: no private session bus: %s\n", bus.error().c_str());
        return 1;
    }
    const std::string busEnv = bus.environmentEntry();
    pixkey::test::ServiceProcess::Options trayOptions;
    trayOptions.program = (bin / "measure_tray_watcher").string();
    trayOptions.environment = {busEnv};
    pixkey::test::ServiceProcess tray(trayOptions);
    if (!tray.start(pixkey::test::Probe::dbusName(bus.address(), "org.kde.StatusNotifierWatcher"))) {
        std::fprintf(stderr, "measure_host: the notification area did not start: %s\n", tray.error().c_str());
        return 1;
    }

    const std::map<std::string, std::string> specs = {
        {"analog", "Clock.pkx@ClockView=0"}, {"digital", "Clock.pkx@ClockView=1"}, {"vegas", "Vegas.pkx"}};
    std::printf("%-8s %-22s %7s %8s %7s  %s\n", "set", "program", "CPU %", "RSS MB", "pkt/s",
                "by thread: wake-ups a second/CPU microseconds a second");
    std::stringstream chosen(sets);
    for (std::string set; std::getline(chosen, set, ',');) {
        if (!specs.count(set))
            continue;
        const std::string spec = specs.at(set);
        const fs::path folder = work / set;
        fs::create_directories(folder / "run");
        fs::permissions(folder / "run", fs::perms::owner_all);
        const std::string port = (folder / "tty").string();
        const std::vector<std::string> env = {
            "PIXKEY_PORT=" + port, "XDG_CONFIG_HOME=" + (folder / "config").string(),
            "XDG_DATA_HOME=" + (folder / "data").string(), "XDG_RUNTIME_DIR=" + (folder / "run").string(),
            displayEnv, busEnv, "QT_QPA_PLATFORM=xcb"};
        const fs::path packetLog = folder / "packets.log";
        const pid_t emulator = spawn({(bin / "pixkey-emulator").string(), "--link", port, "--pace", "--log", packetLog.string()},
                                     {}, folder / "emulator.log");
        std::this_thread::sleep_for(500ms);

        const std::string plugin = (bin / "Plugins" / spec).string();
        for (int key = 1; key <= 3; ++key)
            run({(bin / "pixkeyctl").string(), "assign", "Global", "0", std::to_string(key), spec}, env, folder / "assign.log");
        // Per program, the CPU share of every round; the ratios of the medians are the figures.
        std::vector<double> alone, hidden, shown;
        for (int round = 0; round < rounds; ++round) {
            const pid_t ctl = spawn({(bin / "pixkeyctl").string(), "run", plugin, plugin, plugin}, env, folder / "pixkeyctl.log");
            const Figures f = measure(ctl, seconds, packetLog);
            stop(ctl);
            alone.push_back(f.cpuPercent);
            std::printf("%-8s %-22s %7.2f %8.1f %7.1f %s\n", set.c_str(), "pixkeyctl run", f.cpuPercent, f.rssMb,
                        f.packetsPerSecond, f.threads.c_str());
            for (const bool windowShown : {false, true}) {
                setTrayIcon(folder, true);
                std::vector<std::string> args = {(bin / "PixkeyMiniConfigurator").string()};
                if (!windowShown)
                    args.push_back("minimized");
                const std::size_t items = tray.output().size();
                const pid_t host = spawn(args, env, folder / (windowShown ? "host-shown.log" : "host-hidden.log"));
                const Figures h = measure(host, seconds, packetLog);
                const bool inTray = tray.output().find("item ", items) != std::string::npos;
                stop(host);
                (windowShown ? shown : hidden).push_back(h.cpuPercent);
                if (!windowShown && !inTray)
                    std::printf("%-8s the host's icon did not register in the notification area\n", set.c_str());
                std::printf("%-8s %-22s %7.2f %8.1f %7.1f %s\n", set.c_str(),
                            windowShown ? "host, window shown" : "host, window hidden", h.cpuPercent, h.rssMb,
                            h.packetsPerSecond, h.threads.c_str());
                std::printf("%-8s %-22s %7.2f\n", set.c_str(), "  ratio host/pixkeyctl",
                            f.cpuPercent > 0 ? h.cpuPercent / f.cpuPercent : 0.0);
            }
            std::fflush(stdout);
        }
        if (rounds > 1) {
            const double a = median(alone), h = median(hidden), w = median(shown);
            std::printf("%-8s medians of %d rounds: pixkeyctl run %.2f, hidden %.2f, shown %.2f; ratio hidden %.2f, "
                        "shown %.2f\n",
                        set.c_str(), rounds, a, h, w, a > 0 ? h / a : 0.0, a > 0 ? w / a : 0.0);
        }
        stop(emulator);
    }
    if (presses > 0)
        measurePresses(bin, work, displayEnv, busEnv, presses);
    stop(xvfb);
    std::error_code error;
    fs::remove_all(work, error);
    return 0;
}
