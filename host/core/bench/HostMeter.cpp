// measure_host: what the host costs while nothing happens, beside what its plug-ins cost alone.
//
//   measure_host [--seconds S] [--sets analog,digital,vegas]
//
// For each set of three keys (analog clocks, digital clocks, Vegas reels at rest) it runs, one
// after the other against a paced keypad emulator (pixkey-emulator --pace):
//   1. pixkeyctl run with the three plug-ins;
//   2. the host started "minimized" with its window hidden (the tray icon switched off, so no
//      window ever shows);
//   3. the host with its window shown;
// and prints for each the CPU share of one core, the resident memory, the wake-ups a second of
// every busy thread (voluntary and involuntary context switches) and the ratio host / pixkeyctl.
// The hosts get a private Xvfb, settings and runtime folders of their own. Run by hand.
#include <chrono>
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

long statusField(const std::string &status, const std::string &name)
{
    const auto at = status.find(name + ":");
    return at == std::string::npos ? 0 : std::atol(status.c_str() + at + name.size() + 1);
}

struct Sample {
    double cpuSeconds = 0;
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
        s.switches[std::atoi(task.path().filename().c_str())] = {
            name, statusField(status, "voluntary_ctxt_switches") + statusField(status, "nonvoluntary_ctxt_switches")};
    }
    return s;
}

struct Figures {
    double cpuPercent = 0;
    double rssMb = 0;
    std::string threads;
};

Figures measure(pid_t pid, int seconds)
{
    std::this_thread::sleep_for(4s); // start-up and the first faces
    const Sample a = sample(pid);
    const auto t0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Sample b = sample(pid);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    Figures f;
    f.cpuPercent = 100.0 * (b.cpuSeconds - a.cpuSeconds) / elapsed;
    f.rssMb = double(b.rssKb) / 1024.0;
    for (const auto &[tid, entry] : b.switches) {
        const auto before = a.switches.find(tid);
        const long count = entry.second - (before == a.switches.end() ? 0 : before->second.second);
        const double rate = double(count) / elapsed;
        if (rate >= 0.5) {
            char text[96];
            std::snprintf(text, sizeof text, " %s%s %.0f", tid == pid ? "main" : "", tid == pid ? "" : entry.first.c_str(), rate);
            f.threads += text;
        }
    }
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    int seconds = 20;
    std::string sets = "analog,digital,vegas";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--seconds")
            seconds = std::max(1, std::atoi(argv[i + 1]));
        else if (option == "--sets")
            sets = argv[i + 1];
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

    const std::map<std::string, std::string> specs = {
        {"analog", "Clock.pkx@ClockView=0"}, {"digital", "Clock.pkx@ClockView=1"}, {"vegas", "Vegas.pkx"}};
    std::printf("%-8s %-22s %7s %8s  %s\n", "set", "program", "CPU %", "RSS MB", "wake-ups a second by thread");
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
            displayEnv, "QT_QPA_PLATFORM=xcb"};
        const pid_t emulator = spawn({(bin / "pixkey-emulator").string(), "--link", port, "--pace"}, {}, folder / "emulator.log");
        std::this_thread::sleep_for(500ms);

        const std::string plugin = (bin / "Plugins" / spec).string();
        const pid_t ctl = spawn({(bin / "pixkeyctl").string(), "run", plugin, plugin, plugin}, env, folder / "pixkeyctl.log");
        const Figures alone = measure(ctl, seconds);
        stop(ctl);
        std::printf("%-8s %-22s %7.2f %8.1f %s\n", set.c_str(), "pixkeyctl run", alone.cpuPercent, alone.rssMb, alone.threads.c_str());

        for (int key = 1; key <= 3; ++key)
            run({(bin / "pixkeyctl").string(), "assign", "Global", "0", std::to_string(key), spec}, env, folder / "assign.log");
        for (const bool shown : {false, true}) {
            const fs::path ini = folder / "config" / "Vostrel" / "PixkeyMini.ini";
            std::string settings = readFile(ini);
            const auto at = settings.find("TrayIcon=");
            if (at != std::string::npos)
                settings[at + 9] = shown ? '1' : '0';
            std::ofstream(ini) << settings;
            std::vector<std::string> args = {(bin / "PixkeyMiniConfigurator").string()};
            if (!shown)
                args.push_back("minimized");
            const pid_t host = spawn(args, env, folder / (shown ? "host-shown.log" : "host-hidden.log"));
            const Figures f = measure(host, seconds);
            stop(host);
            std::printf("%-8s %-22s %7.2f %8.1f %s\n", set.c_str(), shown ? "host, window shown" : "host, window hidden",
                        f.cpuPercent, f.rssMb, f.threads.c_str());
            std::printf("%-8s %-22s %7.2f\n", set.c_str(), "  ratio host/pixkeyctl",
                        alone.cpuPercent > 0 ? f.cpuPercent / alone.cpuPercent : 0.0);
        }
        stop(emulator);
    }
    stop(xvfb);
    std::error_code error;
    fs::remove_all(work, error);
    return 0;
}
