#include "ProcessSampler.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace sysmeter {

namespace {

// Longest command name the kernel keeps (TASK_COMM_LEN - 1); a name of this length may be cut.
constexpr std::size_t kCommLength = 15;

// Reads up to `size - 1` bytes of `path` below `dirFd` into `buffer` and terminates them. Returns
// the length, or -1 when the file cannot be opened or read (gone, hidden, not permitted). The files
// read here are small: a read that returns less than asked for has reached the end, which saves a
// system call per file on a sample that opens one file per process.
ssize_t readSmallFile(int dirFd, const char *path, char *buffer, std::size_t size)
{
    const int fd = openat(dirFd, path, O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return -1;
    std::size_t length = 0;
    while (length + 1 < size) {
        const std::size_t wanted = size - 1 - length;
        const ssize_t got = read(fd, buffer + length, wanted);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            close(fd);
            return -1;
        }
        length += std::size_t(got);
        if (got == 0 || std::size_t(got) < wanted)
            break;
    }
    close(fd);
    buffer[length] = '\0';
    return ssize_t(length);
}

// Skips blanks, then reads one unsigned decimal number; false when there is none.
bool nextNumber(const char *&p, std::uint64_t &value)
{
    while (*p == ' ' || *p == '\t')
        ++p;
    if (*p < '0' || *p > '9')
        return false;
    std::uint64_t v = 0;
    while (*p >= '0' && *p <= '9') {
        v = v * 10 + std::uint64_t(*p - '0');
        ++p;
    }
    value = v;
    return true;
}

// Skips `count` blank-separated words.
bool skipWords(const char *&p, int count)
{
    for (int i = 0; i < count; ++i) {
        while (*p == ' ')
            ++p;
        if (*p == '\0' || *p == '\n')
            return false;
        while (*p != ' ' && *p != '\0' && *p != '\n')
            ++p;
    }
    return true;
}

bool isProcessId(const char *name)
{
    if (*name == '\0')
        return false;
    for (const char *p = name; *p; ++p)
        if (*p < '0' || *p > '9')
            return false;
    return true;
}

std::uint64_t steadyMs()
{
    return std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
}

// What one /proc/PID/stat line says of its process.
struct StatLine {
    std::string comm;
    std::uint64_t userTicks = 0;
    std::uint64_t systemTicks = 0;
    std::uint64_t startTime = 0;
    std::uint64_t residentPages = 0;
};

// "PID (COMM) STATE PPID ...": the command name may hold blanks and parentheses of its own, so it
// ends at the line's last ')'.
bool parseStat(const char *line, StatLine &out)
{
    const char *open = std::strchr(line, '(');
    const char *close = std::strrchr(line, ')');
    if (!open || !close || close < open)
        return false;
    out.comm.assign(open + 1, std::size_t(close - open - 1));
    const char *p = close + 1;
    // Fields after the name, counted from 1: state is the 1st, utime the 12th, stime the 13th,
    // starttime the 20th, rss the 22nd.
    // The words between are skipped, not read: priority and nice are negative for some processes.
    // The resident pages (rss) come two words after the start time; they are the same count as the
    // second number of statm, read here from the same line so one file a process does.
    return skipWords(p, 11) && nextNumber(p, out.userTicks) && nextNumber(p, out.systemTicks) && skipWords(p, 6)
           && nextNumber(p, out.startTime) && skipWords(p, 1) && nextNumber(p, out.residentPages);
}

} // namespace

ProcessSampler::ProcessSampler(const std::string &root, SamplerOptions options)
{
    // A path handle: it needs no permission to read the folder itself, so a tree whose listing is
    // refused still gives its processor times.
    m_rootFd = open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    m_processors = options.processors > 0 ? options.processors : int(sysconf(_SC_NPROCESSORS_ONLN));
    if (m_processors < 1)
        m_processors = 1;
    m_ticksPerSecond = options.ticksPerSecond > 0 ? options.ticksPerSecond : sysconf(_SC_CLK_TCK);
    if (m_ticksPerSecond < 1)
        m_ticksPerSecond = 100;
    long pageSize = options.pageSize > 0 ? options.pageSize : sysconf(_SC_PAGESIZE);
    m_pageBytes = pageSize > 0 ? std::uint64_t(pageSize) : 4096;
    m_tickMs = options.tickMs ? std::move(options.tickMs) : steadyMs;
}

ProcessSampler::~ProcessSampler()
{
    if (m_rootFd >= 0)
        close(m_rootFd);
}

std::uint64_t ProcessSampler::toHundredNs(std::uint64_t ticks) const
{
    return std::uint64_t((unsigned __int128)ticks * 10000000u / std::uint64_t(m_ticksPerSecond));
}

bool ProcessSampler::readCpuTimes(CpuTimes &times) const
{
    // The "cpu" line comes first; the rest of the file (one line per processor, interrupt counts)
    // is not needed.
    char buffer[512];
    if (readSmallFile(m_rootFd, "stat", buffer, sizeof buffer) < 0 || std::strncmp(buffer, "cpu ", 4) != 0)
        return false;
    const char *p = buffer + 4;
    std::uint64_t ticks[7] = {};
    for (std::uint64_t &value : ticks)
        if (!nextNumber(p, value))
            return false;
    times.user = toHundredNs(ticks[0]);
    times.nice = toHundredNs(ticks[1]);
    times.system = toHundredNs(ticks[2]);
    times.idle = toHundredNs(ticks[3]);
    times.iowait = toHundredNs(ticks[4]);
    times.irq = toHundredNs(ticks[5]);
    times.softirq = toHundredNs(ticks[6]);
    return true;
}

int ProcessSampler::shareOf(std::uint64_t time, std::uint64_t previous, std::uint64_t elapsed) const
{
    // A counter that went back (the kernel's I/O-wait time may) measured nothing.
    if (time < previous)
        return 0;
    const std::uint64_t share = (time - previous + elapsed / 2) / elapsed / std::uint64_t(m_processors);
    return share > 9999 ? 10000 : int(share);
}

std::string ProcessSampler::processName(const char *pid, const std::string &comm) const
{
    if (comm.size() != kCommLength)
        return comm;
    char path[32];
    std::snprintf(path, sizeof path, "%s/exe", pid);
    char target[4096];
    const ssize_t length = readlinkat(m_rootFd, path, target, sizeof target - 1);
    if (length <= 0)
        return comm; // a kernel thread, or another user's process
    std::string executable(target, std::size_t(length));
    static constexpr char kDeleted[] = " (deleted)";
    if (executable.size() > sizeof kDeleted - 1
        && executable.compare(executable.size() - (sizeof kDeleted - 1), sizeof kDeleted - 1, kDeleted) == 0)
        executable.resize(executable.size() - (sizeof kDeleted - 1));
    const std::size_t slash = executable.rfind('/');
    std::string base = slash == std::string::npos ? executable : executable.substr(slash + 1);
    // Only a longer name that starts with the command name is the one the kernel cut; a process
    // that named itself differently keeps the name it chose.
    if (base.size() > comm.size() && base.compare(0, comm.size(), comm) == 0)
        return base;
    return comm;
}

bool ProcessSampler::sample()
{
    if (m_rootFd < 0)
        return false;
    const std::uint64_t now = m_tickMs();
    const std::uint64_t elapsed = now - m_lastTick;
    if (elapsed == 0)
        return false;

    CpuTimes cpu;
    if (!readCpuTimes(cpu))
        return false;
    const int listFd = openat(m_rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return false;
    DIR *dir = fdopendir(listFd);
    if (!dir) {
        close(listFd);
        return false;
    }

    std::unordered_map<int, Previous> current;
    current.reserve(m_previous.size() + 64);
    std::vector<ProcessEntry> processes;
    processes.reserve(m_processes.size() + 64);

    // The idle processors stand first, as the system's idle process. Before there is anything to
    // compare with they count as fully idle, so the first sample shows no load rather than all.
    {
        const std::uint64_t idleTime = cpu.idle + cpu.iowait;
        const auto previous = m_previous.find(-1);
        ProcessEntry idle;
        idle.name = kIdleName;
        idle.cpu = previous != m_previous.end() ? shareOf(idleTime, previous->second.time, elapsed) : 10000;
        current.emplace(-1, Previous{0, idleTime, {}, {}});
        processes.push_back(std::move(idle));
    }

    char buffer[2048];
    char path[48];
    StatLine stat;
    while (const dirent *entry = readdir(dir)) {
        if (!isProcessId(entry->d_name) || std::strlen(entry->d_name) > 10)
            continue;
        // A process may end between the listing and its files, and another user's may be hidden
        // (hidepid): either way it is left out.
        std::snprintf(path, sizeof path, "%s/stat", entry->d_name);
        if (readSmallFile(m_rootFd, path, buffer, sizeof buffer) <= 0 || !parseStat(buffer, stat))
            continue;

        const int pid = int(std::strtol(entry->d_name, nullptr, 10));
        const std::uint64_t time = toHundredNs(stat.userTicks) + toHundredNs(stat.systemTicks);
        const auto previous = m_previous.find(pid);
        const bool known = previous != m_previous.end() && previous->second.startTime == stat.startTime;

        ProcessEntry process;
        process.memoryKb = stat.residentPages * m_pageBytes / 1024;
        process.cpu = known ? shareOf(time, previous->second.time, elapsed) : 0;
        // The executable's name is looked up once per process, not on every sample.
        process.name = known && previous->second.comm == stat.comm ? previous->second.name
                                                                     : processName(entry->d_name, stat.comm);
        current.emplace(pid, Previous{stat.startTime, time, process.name, stat.comm});
        processes.push_back(std::move(process));
    }
    closedir(dir);

    m_previous.swap(current);
    m_processes.swap(processes);
    m_idleShare = m_processes.front().cpu;

    const std::uint64_t kernelSum = cpu.system + cpu.irq + cpu.softirq;
    if (m_kernelTotal != 0)
        m_kernelShare = kernelSum >= m_kernelTotal
                            ? int((kernelSum - m_kernelTotal) / elapsed / std::uint64_t(m_processors))
                            : 0;
    m_lastTick = now;
    m_kernelTotal = kernelSum;
    return true;
}

ProcessorLoad ProcessSampler::processorLoad()
{
    ProcessorLoad load;
    if (!m_processes.empty()) {
        load.busy = 100 - (m_idleShare + 50) / 100;
        load.kernel = (m_kernelShare + 50) / 100;
    } else if (m_rootFd >= 0) {
        // No process table yet: the processors' own totals since the last call (since start-up the
        // first time). The kernel total includes the idle time, as the share below expects.
        CpuTimes cpu;
        if (readCpuTimes(cpu)) {
            const std::uint64_t idle = cpu.idle + cpu.iowait;
            const std::uint64_t kernel = cpu.system + cpu.irq + cpu.softirq + idle;
            const std::uint64_t user = cpu.user + cpu.nice;
            const std::int64_t dIdle = std::int64_t(idle - m_totalIdle);
            const std::int64_t dKernel = std::int64_t(kernel - m_totalKernel);
            const std::int64_t dUser = std::int64_t(user - m_totalUser);
            const std::int64_t t = (dKernel + dUser) / 100;
            if (t != 0) {
                load.busy = int(100 - (dIdle + t / 2) / t);
                load.kernel = int((dKernel - dIdle + t / 2) / t);
            }
            m_totalIdle = idle;
            m_totalKernel = kernel;
            m_totalUser = user;
        }
    }
    if (load.busy < 0 || load.busy > 99)
        load.busy = 100;
    if (load.kernel < 0 || load.kernel > 99)
        load.kernel = 100;
    return load;
}

} // namespace sysmeter
