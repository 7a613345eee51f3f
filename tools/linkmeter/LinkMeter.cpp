// pixkey-linkmeter: measures the host's device link against the keypad emulator.
//
//   pixkey-linkmeter [--rounds N] [--idle-seconds S]
//
// 1. A full three-key upload (3 keys x 96 lines + 3 ShowFrame = 291 packets), without and with
//    wire pacing, compared with the wire limit of 291 x 197 bytes x 10 bits at 1,000,000 baud.
//    The CPU time the link's worker thread spent per packet (from its schedstat) is printed too,
//    with its read and write calls per packet; the paced upload is measured both with the port
//    waiting for answers in a blocking read (the default) and in poll. Beside it, the floor: the same
//    packets written and answered by a bare write() and blocking read() on the port.
// 2. An idle connected link: how often the process wakes (voluntary context switches of all its
//    threads, from /proc) and how much CPU it uses (getrusage) over some seconds.
// The emulator runs in a child process so that its work is not counted.

#include "DeviceLink.h"
#include "KeypadEmulator.h"
#include "TtySerialPort.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace std::chrono;

namespace {

struct Quiet final : pixkey::DeviceListener {
    void OnKeyPressed(int) override {}
    void OnConnectionChanged(int) override {}
};

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

// Starts an emulator in a child process; returns its pid once the link exists, or -1.
pid_t startEmulator(const std::string &link, bool pace)
{
    const pid_t pid = fork();
    if (pid == 0) {
        std::signal(SIGTERM, onSignal);
        pixkey::KeypadEmulator emulator(link);
        emulator.setPacing(pace);
        if (!emulator.start())
            _exit(1);
        while (!g_stop)
            pause();
        emulator.stop();
        _exit(0);
    }
    for (int i = 0; i < 200; ++i) {
        if (std::filesystem::is_symlink(link))
            return pid;
        std::this_thread::sleep_for(10ms);
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

void stopEmulator(pid_t pid)
{
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
}

std::vector<uint8_t> picture(int key, int round)
{
    std::vector<uint8_t> p(pixkey::kPictureBytes);
    for (size_t i = 0; i < p.size(); ++i)
        p[i] = static_cast<uint8_t>(i * 31 + key * 77 + round * 13);
    return p;
}

double toSeconds(steady_clock::duration d)
{
    return duration<double>(d).count();
}

// Sum of voluntary context switches of every thread of this process.
long voluntarySwitches()
{
    long total = 0;
    DIR *dir = opendir("/proc/self/task");
    if (!dir)
        return -1;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        std::ifstream status(std::string("/proc/self/task/") + e->d_name + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
                total += std::atol(line.c_str() + 24);
    }
    closedir(dir);
    return total;
}

struct WorkerUse {
    double cpu = -1;  // seconds on a CPU
    long switches = 0; // voluntary and involuntary context switches
    double user = 0, kernel = 0; // seconds in user space and in the kernel, in clock ticks
    long reads = 0, writes = 0;  // read and write system calls
};

// What this process's thread named "pixkey-link" (the link's worker) used so far; cpu -1 when
// there is no such thread.
WorkerUse linkWorkerUse()
{
    DIR *dir = opendir("/proc/self/task");
    if (!dir)
        return {};
    WorkerUse result;
    while (dirent *e = readdir(dir)) {
        if (e->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + e->d_name;
        std::ifstream comm(task + "/comm");
        std::string name;
        std::getline(comm, name);
        if (name != "pixkey-link")
            continue;
        std::ifstream sched(task + "/schedstat");
        unsigned long long ns = 0;
        if (sched >> ns)
            result.cpu = ns / 1e9;
        std::ifstream stat(task + "/stat");
        std::string text;
        std::getline(stat, text);
        const auto close = text.rfind(')');
        if (close != std::string::npos) {
            std::istringstream fields(text.substr(close + 2));
            std::string field;
            const double tick = double(sysconf(_SC_CLK_TCK));
            for (int i = 3; fields >> field && i <= 15; ++i) {
                if (i == 14)
                    result.user = std::atol(field.c_str()) / tick;
                if (i == 15)
                    result.kernel = std::atol(field.c_str()) / tick;
            }
        }
        std::ifstream status(task + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.find("ctxt_switches:") != std::string::npos)
                result.switches += std::atol(line.c_str() + line.find(':') + 1);
        std::ifstream io(task + "/io");
        while (std::getline(io, line)) {
            if (line.rfind("syscr:", 0) == 0)
                result.reads = std::atol(line.c_str() + 6);
            if (line.rfind("syscw:", 0) == 0)
                result.writes = std::atol(line.c_str() + 6);
        }
    }
    closedir(dir);
    return result;
}

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return ru.ru_utime.tv_sec + ru.ru_stime.tv_sec + (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// How the port waits for the keypad's answers: in a blocking read (the link's default) or in a poll
// followed by a read.
enum class Waits { InRead, InPoll };

bool measureUploads(const std::string &link, bool pace, int rounds, Waits waits = Waits::InRead)
{
    const pid_t emu = startEmulator(link, pace);
    if (emu < 0) {
        std::fprintf(stderr, "pixkey-linkmeter: the emulator did not start\n");
        return false;
    }
    Quiet quiet;
    pixkey::DeviceLinkOptions options;
    options.portPath = link;
    options.port = std::make_unique<pixkey::TtySerialPort>(waits == Waits::InRead);
    std::vector<double> times, cpuPerPacket;
    {
        pixkey::DeviceLink dl(&quiet, std::move(options));
        dl.Connect();
        if (dl.PostCommand(pixkey::LinkCommand::Ping, 0, true) != 0) {
            std::fprintf(stderr, "pixkey-linkmeter: no link to the emulator\n");
            stopEmulator(emu);
            return false;
        }
        const WorkerUse worker0 = linkWorkerUse();
        for (int r = 0; r < rounds; ++r) {
            const WorkerUse before = linkWorkerUse();
            std::vector<std::vector<uint8_t>> pics;
            for (int k = 1; k <= 3; ++k)
                pics.push_back(picture(k, r));
            const auto t0 = steady_clock::now();
            std::vector<std::thread> submitters;
            for (int k = 1; k <= 3; ++k)
                submitters.emplace_back([&dl, &pics, k] { dl.SubmitFrame(k, pics[k - 1].data(), true); });
            for (auto &t : submitters)
                t.join();
            // The last ShowFrame is out once a waiting command after it returns.
            dl.PostCommand(pixkey::LinkCommand::Ping, 0, true);
            times.push_back(toSeconds(steady_clock::now() - t0));
            cpuPerPacket.push_back(1e6 * (linkWorkerUse().cpu - before.cpu) / 292);
        }
        // 291 packets a round and one Ping after it.
        const WorkerUse worker1 = linkWorkerUse();
        const int packets = rounds * 292;
        std::sort(cpuPerPacket.begin(), cpuPerPacket.end());
        // On a shared machine single rounds vary with the load; the median round is the figure.
        if (worker0.cpu >= 0)
            std::printf("link worker, %s, waits in %s: %.1f microseconds of CPU per packet (median round; "
                        "best %.1f, all rounds %.1f: user %.1f, kernel %.1f), per packet %.2f context switches, "
                        "%.2f reads, %.2f writes (%d packets)\n",
                        pace ? "paced" : "unpaced", waits == Waits::InRead ? "the read" : "poll",
                        cpuPerPacket[cpuPerPacket.size() / 2], cpuPerPacket.front(),
                        1e6 * (worker1.cpu - worker0.cpu) / packets, 1e6 * (worker1.user - worker0.user) / packets,
                        1e6 * (worker1.kernel - worker0.kernel) / packets,
                        double(worker1.switches - worker0.switches) / packets,
                        double(worker1.reads - worker0.reads) / packets,
                        double(worker1.writes - worker0.writes) / packets, packets);
        dl.Disconnect();
    }
    stopEmulator(emu);
    std::sort(times.begin(), times.end());
    // 291 packets of 197 bytes one way, and at least one acknowledgement byte each the other way.
    const double limit = 291 * 197 * 10 / 1e6;
    const double withAcks = 291 * (197 + 1) * 10 / 1e6;
    const double median = times[times.size() / 2];
    std::printf("three-key upload, %s: min %.3f s, median %.3f s, max %.3f s over %d rounds\n"
                "  wire limit %.3f s, %.3f s with the acknowledgements; the median is %.1f %% of that\n",
                pace ? "paced at 1,000,000 baud" : "unpaced", times.front(), median, times.back(), rounds, limit,
                withAcks, 100.0 * median / withAcks);
    return true;
}

// Seconds this thread has spent on a CPU (its schedstat).
double threadCpuSeconds()
{
    std::ifstream sched("/proc/thread-self/schedstat");
    unsigned long long ns = 0;
    return sched >> ns ? ns / 1e9 : -1;
}

// The least a line packet can cost on this port: the same packets written with one write() each,
// each answer waited for with one blocking read, by a thread that does nothing else. What the link
// worker spends beyond this is the link's own.
bool measureBareExchange(const std::string &link, int rounds)
{
    const pid_t emu = startEmulator(link, true);
    if (emu < 0) {
        std::fprintf(stderr, "pixkey-linkmeter: the emulator did not start\n");
        return false;
    }
    const int fd = ::open(link.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (fd < 0 || ::tcgetattr(fd, &t) != 0) {
        std::fprintf(stderr, "pixkey-linkmeter: cannot open %s\n", link.c_str());
        if (fd >= 0)
            ::close(fd);
        stopEmulator(emu);
        return false;
    }
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    ::tcsetattr(fd, TCSANOW, &t);
    uint8_t wire[pixkey::kLineBytes] = {};
    std::vector<double> cpuPerPacket;
    bool ok = true;
    for (int r = 0; r < rounds && ok; ++r) {
        const double before = threadCpuSeconds();
        for (int i = 0; i < 291 && ok; ++i) {
            wire[0] = static_cast<uint8_t>(r * 7 + i);
            const pixkey::LinkPacket packet = pixkey::makeLinePacket(1 + i % 3, i % 96, wire);
            const uint8_t checksum = packet[pixkey::kPacketSize - 1];
            ok = ::write(fd, packet.data(), packet.size()) == ssize_t(packet.size());
            // A checksum is recognised after a 0x00 as well; key reports do not come here.
            for (uint8_t b = 0; ok;) {
                ok = ::read(fd, &b, 1) == 1;
                if (ok && b == checksum)
                    break;
            }
        }
        cpuPerPacket.push_back(1e6 * (threadCpuSeconds() - before) / 291);
    }
    ::close(fd);
    stopEmulator(emu);
    if (!ok) {
        std::fprintf(stderr, "pixkey-linkmeter: the bare exchange lost the emulator\n");
        return false;
    }
    std::sort(cpuPerPacket.begin(), cpuPerPacket.end());
    std::printf("bare write and blocking read, paced: %.1f microseconds of CPU per packet (median round; best %.1f)\n",
                cpuPerPacket[cpuPerPacket.size() / 2], cpuPerPacket.front());
    return true;
}

bool measureIdle(const std::string &link, int idleSeconds)
{
    const pid_t emu = startEmulator(link, false);
    if (emu < 0) {
        std::fprintf(stderr, "pixkey-linkmeter: the emulator did not start\n");
        return false;
    }
    Quiet quiet;
    pixkey::DeviceLinkOptions options;
    options.portPath = link;
    {
        pixkey::DeviceLink dl(&quiet, std::move(options));
        dl.Connect();
        if (dl.PostCommand(pixkey::LinkCommand::Ping, 0, true) != 0) {
            std::fprintf(stderr, "pixkey-linkmeter: no link to the emulator\n");
            stopEmulator(emu);
            return false;
        }
        std::this_thread::sleep_for(1500ms); // past the first keep-alive
        const long s0 = voluntarySwitches();
        const double c0 = cpuSeconds();
        const auto t0 = steady_clock::now();
        std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
        const double elapsed = duration<double>(steady_clock::now() - t0).count();
        const double cpu = cpuSeconds() - c0;
        // The main thread's own sleep accounts for one switch.
        const long wakes = voluntarySwitches() - s0 - 1;
        std::printf("idle connected link over %.1f s: %ld wake-ups (%.2f a second), CPU %.4f s = %.4f %% of a core\n",
                    elapsed, wakes, wakes / elapsed, cpu, 100.0 * cpu / elapsed);
        dl.Disconnect();
    }
    stopEmulator(emu);
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    int rounds = 5, idleSeconds = 10;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--rounds" && i + 1 < argc) {
            rounds = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--idle-seconds" && i + 1 < argc) {
            idleSeconds = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: pixkey-linkmeter [--rounds N] [--idle-seconds S]\n");
            return a == "--help" ? 0 : 64;
        }
    }
    std::signal(SIGPIPE, SIG_IGN);
    char tmpl[] = "/tmp/pixkey-linkmeter-XXXXXX";
    if (!mkdtemp(tmpl)) {
        std::perror("pixkey-linkmeter: mkdtemp");
        return 1;
    }
    const std::string dir = tmpl;
    // The unpaced upload once each way, and the paced one twice each way, alternating, so that a
    // change in the machine's load shows as a difference between the two runs of the same kind.
    const bool ok = measureUploads(dir + "/unpaced", false, rounds)
        && measureUploads(dir + "/unpaced-poll", false, rounds, Waits::InPoll) && measureUploads(dir + "/paced", true, rounds)
        && measureUploads(dir + "/paced-poll", true, rounds, Waits::InPoll)
        && measureBareExchange(dir + "/bare", rounds) && measureUploads(dir + "/paced2", true, rounds)
        && measureUploads(dir + "/paced-poll2", true, rounds, Waits::InPoll) && measureBareExchange(dir + "/bare2", rounds)
        && measureIdle(dir + "/idle", idleSeconds);
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
