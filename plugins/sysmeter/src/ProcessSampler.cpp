#include "ProcessSampler.h"

#include "BatchFileReader.h"

#include <algorithm>
#include <array>
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

// A process folder's name: 1 to 10 digits. Returns its length and value, or 0 for another name.
std::size_t processId(const char *name, std::uint64_t &value)
{
    std::uint64_t v = 0;
    std::size_t length = 0;
    for (; name[length] != '\0'; ++length) {
        if (name[length] < '0' || name[length] > '9' || length == 10)
            return 0;
        v = v * 10 + std::uint64_t(name[length] - '0');
    }
    value = v;
    return length;
}

// "PID" of "PID/stat".
std::string_view folderOf(const char *path)
{
    const std::string_view whole(path);
    return whole.substr(0, whole.find('/'));
}

std::uint64_t steadyMs()
{
    return std::uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(
                             std::chrono::steady_clock::now().time_since_epoch())
                             .count());
}

// What one /proc/PID/stat line says of its process.
struct StatLine {
    std::string_view comm; // within the line
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
    out.comm = std::string_view(open + 1, std::size_t(close - open - 1));
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
    if (10000000 % m_ticksPerSecond == 0)
        m_unitsPerTick = std::uint64_t(10000000 / m_ticksPerSecond);
    long pageSize = options.pageSize > 0 ? options.pageSize : sysconf(_SC_PAGESIZE);
    m_pageBytes = pageSize > 0 ? std::uint64_t(pageSize) : 4096;
    m_tickMs = options.tickMs ? std::move(options.tickMs) : steadyMs;
    if (m_rootFd >= 0)
        m_reader = std::make_unique<BatchFileReader>(options.oneFileAtATime);
}

bool ProcessSampler::readsInBatches() const
{
    return m_reader && m_reader->batched();
}

ProcessSampler::~ProcessSampler()
{
    if (m_rootFd >= 0)
        close(m_rootFd);
}

std::uint64_t ProcessSampler::toHundredNs(std::uint64_t ticks) const
{
    // The usual 100 ticks a second are 100,000 units each: a multiplication, no division.
    if (m_unitsPerTick != 0)
        return ticks * m_unitsPerTick;
    return std::uint64_t((unsigned __int128)ticks * 10000000u / std::uint64_t(m_ticksPerSecond));
}

bool ProcessSampler::readCpuTimes(CpuTimes &times) const
{
    // The "cpu" line comes first; the rest of the file (one line per processor, interrupt counts)
    // is not needed.
    char buffer[512];
    if (BatchFileReader::readFile(m_rootFd, "stat", buffer, sizeof buffer) < 0 || std::strncmp(buffer, "cpu ", 4) != 0)
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

std::string ProcessSampler::processName(std::string_view pid, std::string_view comm) const
{
    if (comm.size() != kCommLength)
        return std::string(comm);
    char path[32];
    std::snprintf(path, sizeof path, "%.*s/exe", int(pid.size()), pid.data());
    char target[4096];
    const ssize_t length = readlinkat(m_rootFd, path, target, sizeof target - 1);
    if (length <= 0)
        return std::string(comm); // a kernel thread, or another user's process
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
    return std::string(comm);
}

const ProcessSampler::Previous *ProcessSampler::findPrevious(int pid)
{
    if (m_cursor < m_previous.size() && m_previous[m_cursor].pid == pid)
        return &m_previous[m_cursor++];
    const auto found = std::lower_bound(m_previous.begin(), m_previous.end(), pid,
                                        [](const Previous &previous, int id) { return previous.pid < id; });
    if (found == m_previous.end() || found->pid != pid)
        return nullptr;
    m_cursor = std::size_t(found - m_previous.begin()) + 1;
    return &*found;
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
    // The listing is read straight from the kernel into a buffer kept by the sampler.
    const int listFd = openat(m_rootFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (listFd < 0)
        return false;
    if (m_listing.empty())
        m_listing.resize(32768 / sizeof(std::uint64_t));

    // Entries are assigned over the ones of the sample before last, so their names keep their
    // storage.
    std::vector<ProcessEntry> &processes = m_nextProcesses;
    std::size_t count = 0;
    auto nextEntry = [&]() -> ProcessEntry & {
        if (count == processes.size())
            processes.emplace_back();
        return processes[count++];
    };
    m_next.clear();
    m_nextComms.clear();
    m_cursor = 0;

    // The idle processors stand first, as the system's idle process. Before there is anything to
    // compare with they count as fully idle, so the first sample shows no load rather than all.
    const std::uint64_t idleTime = cpu.idle + cpu.iowait;
    {
        ProcessEntry &idle = nextEntry();
        idle.name = kIdleName;
        idle.cpu = m_idleKnown ? shareOf(idleTime, m_idleTime, elapsed) : 10000;
        idle.memoryKb = 0;
    }

    // The stat files are read a batch at a time, in the order of the listing.
    BatchFileReader &reader = *m_reader;
    reader.clear();
    std::array<int, BatchFileReader::kBatch> pids;
    StatLine stat;
    auto takeBatch = [&] {
        reader.read(m_rootFd);
        for (std::size_t i = 0; i < reader.size(); ++i) {
            // A process may end between the listing and its files, and another user's may be
            // hidden (hidepid): either way it is left out.
            if (reader.length(i) <= 0 || !parseStat(reader.text(i), stat))
                continue;
            const int pid = pids[i];
            const std::uint64_t time = toHundredNs(stat.userTicks) + toHundredNs(stat.systemTicks);
            const Previous *previous = findPrevious(pid);
            const bool known = previous && previous->startTime == stat.startTime;

            const std::uint32_t index = std::uint32_t(count);
            ProcessEntry &process = nextEntry();
            process.memoryKb = stat.residentPages * m_pageBytes / 1024;
            process.cpu = known ? shareOf(time, previous->time, elapsed) : 0;
            // The executable's name is looked up once per process, not on every sample.
            if (known
                && std::string_view(m_previousComms).substr(previous->commOffset, previous->commLength) == stat.comm)
                process.name = m_processes[previous->entry].name;
            else
                process.name = processName(folderOf(reader.path(i)), stat.comm);
            m_next.push_back(Previous{pid, index, stat.startTime, time, std::uint32_t(m_nextComms.size()),
                                      std::uint32_t(stat.comm.size())});
            m_nextComms.append(stat.comm);
        }
    };
    for (;;) {
        const ssize_t listed = getdents64(listFd, m_listing.data(), m_listing.size() * sizeof(std::uint64_t));
        if (listed <= 0)
            break;
        const char *const listing = reinterpret_cast<const char *>(m_listing.data());
        for (ssize_t offset = 0; offset < listed;) {
            const auto *entry = reinterpret_cast<const dirent64 *>(listing + offset);
            offset += entry->d_reclen;
            std::uint64_t id = 0;
            const std::size_t idLength = processId(entry->d_name, id);
            if (idLength == 0)
                continue;
            char *path = reader.add();
            if (!path) {
                takeBatch();
                path = reader.add();
            }
            pids[reader.size() - 1] = int(std::int64_t(id));
            std::memcpy(path, entry->d_name, idLength);
            std::memcpy(path + idLength, "/stat", sizeof "/stat");
        }
    }
    if (reader.pending())
        takeBatch();
    close(listFd);
    processes.resize(count);

    // /proc lists in ascending order already; other trees are sorted here for findPrevious.
    const auto byPid = [](const Previous &a, const Previous &b) { return a.pid < b.pid; };
    if (!std::is_sorted(m_next.begin(), m_next.end(), byPid))
        std::sort(m_next.begin(), m_next.end(), byPid);
    m_previous.swap(m_next);
    m_previousComms.swap(m_nextComms);
    m_processes.swap(processes);
    m_cursor = 0;
    m_idleKnown = true;
    m_idleTime = idleTime;
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
