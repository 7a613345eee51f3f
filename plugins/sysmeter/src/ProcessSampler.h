// ProcessSampler: samples the process table and the processor times of a /proc tree, for the
// System Monitor keys.
//
// Each sample lists an "Idle" entry first (the processors' idle and I/O-wait time), then every
// process whose files could be read, each with its share of the processor time since the previous
// sample and its resident memory. The root of the tree is a constructor argument, so tests can
// hand it a tree of their own making; the clock, the processor count, the clock-tick rate and the
// page size can be replaced the same way.
//
// A sample reads /proc/stat, lists the tree and reads one PID/stat file per process, in batches
// through io_uring where the kernel allows it (see BatchFileReader), file by file otherwise. Only
// processes whose name was cut to 15 letters cost one more call, the first time they are seen.
//
// Not thread-safe: one sampler belongs to one key instance and is used on its paint thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sysmeter {

class BatchFileReader;

// One process of a sample.
struct ProcessEntry {
    std::string name;           // command name, or the executable's base name when that was cut
    int cpu = 0;                // share of all processors since the previous sample, 1/100 %, 0..10000
    std::uint64_t memoryKb = 0; // resident memory in KiB
};

// Facts of the system the sampler works with; zero (or empty) fields are read from the system.
struct SamplerOptions {
    int processors = 0;                      // processors online
    long ticksPerSecond = 0;                 // unit of the times in /proc (sysconf _SC_CLK_TCK)
    long pageSize = 0;                       // bytes a page (sysconf _SC_PAGESIZE)
    std::function<std::uint64_t()> tickMs;   // a millisecond clock; steady_clock by default
    bool oneFileAtATime = false;             // read without batches (io_uring), as where it is missing
};

// Processor load in whole percent.
struct ProcessorLoad {
    int busy = 0;   // 0..100
    int kernel = 0; // 0..100, the part spent in the kernel
};

class ProcessSampler {
public:
    // Opens `root` (normally "/proc") and keeps it open for the sampler's life. When it cannot be
    // opened the sampler never samples: its lists stay empty and its load stays 0.
    explicit ProcessSampler(const std::string &root = "/proc", SamplerOptions options = {});
    ~ProcessSampler();
    ProcessSampler(const ProcessSampler &) = delete;
    ProcessSampler &operator=(const ProcessSampler &) = delete;

    // Takes a new sample. Returns false, keeping the previous results, when the tree is not open,
    // no time has passed since the last sample (same millisecond), or the processor times cannot
    // be read.
    bool sample();

    // The processor load of the last sample; without any sample, the load since the previous call
    // of this function, from the processor totals alone.
    ProcessorLoad processorLoad();

    // The entries of the last sample, "Idle" first, then the processes in directory order.
    const std::vector<ProcessEntry> &processes() const { return m_processes; }
    int idleShare() const { return m_idleShare; }     // the "Idle" entry's cpu
    int kernelShare() const { return m_kernelShare; } // kernel share since the previous sample, 1/100 %
    int processors() const { return m_processors; }
    bool isOpen() const { return m_rootFd >= 0; }
    // Whether the stat files are read in batches through io_uring rather than one by one.
    bool readsInBatches() const;

    // Name given to the entry that stands for the idle processors.
    static constexpr const char *kIdleName = "Idle";

private:
    // Processor times from the "cpu" line of stat, in 100-ns units.
    struct CpuTimes {
        std::uint64_t user = 0, nice = 0, system = 0, idle = 0, iowait = 0, irq = 0, softirq = 0;
    };
    // What a sample knew of one process. A process is the same one only while its start time is
    // the same: a reused identifier starts counting afresh. Its name is the one of entry `entry`
    // of that sample's list, made from the command name kept at `commOffset` in that sample's
    // command-name text.
    struct Previous {
        int pid = 0;
        std::uint32_t entry = 0;
        std::uint64_t startTime = 0;
        std::uint64_t time = 0; // user + system time, 100-ns units
        std::uint32_t commOffset = 0;
        std::uint32_t commLength = 0;
    };

    bool readCpuTimes(CpuTimes &times) const;
    std::uint64_t toHundredNs(std::uint64_t ticks) const;
    int shareOf(std::uint64_t time, std::uint64_t previous, std::uint64_t elapsed) const;
    // The name of process `pid` whose command name is `comm`: `comm`, or the executable's base
    // name when `comm` was cut to the kernel's 15 letters.
    std::string processName(std::string_view pid, std::string_view comm) const;
    // The previous sample's record of `pid`, or null. Listings come in the same order sample after
    // sample (ascending in /proc), so the record after the last one found is tried first.
    const Previous *findPrevious(int pid);

    int m_rootFd = -1;
    int m_processors = 1;
    long m_ticksPerSecond = 100;
    std::uint64_t m_unitsPerTick = 0; // 100-ns units a tick when that is whole, else 0
    std::uint64_t m_pageBytes = 4096;
    std::function<std::uint64_t()> m_tickMs;

    std::uint64_t m_lastTick = 0;
    bool m_idleKnown = false;     // whether m_idleTime holds the previous sample's idle time
    std::uint64_t m_idleTime = 0; // idle + I/O-wait time of the previous sample, 100-ns units
    std::vector<Previous> m_previous; // the previous sample's processes, by identifier
    std::string m_previousComms;      // their command names, one after another
    std::size_t m_cursor = 0;         // where findPrevious looks first
    std::vector<ProcessEntry> m_processes;

    // Storage a sample is built in and then swapped with the above, kept from sample to sample so
    // that a steady process table costs no allocations.
    std::vector<Previous> m_next;
    std::string m_nextComms;
    std::vector<ProcessEntry> m_nextProcesses;
    std::vector<std::uint64_t> m_listing; // directory entries as the kernel hands them out
    std::unique_ptr<BatchFileReader> m_reader; // the stat files of the listed processes

    int m_idleShare = 0;
    int m_kernelShare = 0;
    std::uint64_t m_kernelTotal = 0;

    // Totals of the fallback load (idle, kernel including idle, user), 0 before its first use.
    std::uint64_t m_totalIdle = 0, m_totalKernel = 0, m_totalUser = 0;
};

} // namespace sysmeter
