// ProcessSampler and MemoryStatus on trees written by the tests (exact figures) and on the real
// /proc (sane ranges, a process that burns a core).
#include "FakeProc.h"
#include "MemoryStatus.h"
#include "ProcessSampler.h"

#include <pixkey/test/ServiceProcess.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using sysmeter::ProcessEntry;
using sysmeter::ProcessSampler;
using sysmeter::SamplerOptions;
using sysmeter_test::FakeProc;

namespace {

// A sampler on `tree` with a clock the test sets.
struct Sampled {
    Sampled(const std::string &root, int processors, long ticksPerSecond, bool oneFileAtATime = false)
        : sampler(root, SamplerOptions{processors, ticksPerSecond, 4096, [this] { return now; }, oneFileAtATime})
    {
    }
    bool at(std::uint64_t tick)
    {
        now = tick;
        return sampler.sample();
    }
    const ProcessEntry *find(const std::string &name) const
    {
        for (const ProcessEntry &entry : sampler.processes())
            if (entry.name == name)
                return &entry;
        return nullptr;
    }
    // The first entry's name, then the others' in alphabetical order (directory order varies).
    std::string names() const
    {
        std::vector<std::string> rest;
        for (std::size_t i = 1; i < sampler.processes().size(); ++i)
            rest.push_back(sampler.processes()[i].name);
        std::sort(rest.begin(), rest.end());
        std::string all = sampler.processes().empty() ? "" : sampler.processes().front().name;
        for (const std::string &name : rest)
            all += "," + name;
        return all;
    }

    // Every entry with its share and memory, in list order.
    std::string all() const
    {
        std::string text;
        for (const ProcessEntry &entry : sampler.processes())
            text += entry.name + ":" + std::to_string(entry.cpu) + ":" + std::to_string(entry.memoryKb) + "\n";
        return text;
    }

    std::uint64_t now = 0;
    ProcessSampler sampler;
};

std::size_t openDescriptors()
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

// Runs `body` in a child process without root's rights (as "nobody" when the test runs as root)
// and returns the text it produced.
std::string unprivileged(const std::function<std::string()> &body)
{
    int out[2];
    if (pipe(out) != 0)
        return "<pipe failed>";
    const pid_t child = fork();
    if (child == 0) {
        close(out[0]);
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(3);
        const std::string text = body();
        (void)!::write(out[1], text.data(), text.size());
        _exit(0);
    }
    close(out[1]);
    std::string text;
    char buffer[256];
    ssize_t got;
    while ((got = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, std::size_t(got));
    close(out[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return "<child failed>";
    return text;
}

} // namespace

TEST(SysmeterSampler, SharesAndMemoryFromClockTicks)
{
    FakeProc tree;
    tree.setCpu(1000, 200, 5000, 100, 10, 10);
    tree.addProcess({.pid = 100, .comm = "worker", .utime = 50, .stime = 10, .residentPages = 256});
    tree.addProcess({.pid = 200, .comm = "editor", .utime = 10, .stime = 0, .residentPages = 1000});
    Sampled s(tree.root(), 2, 100);

    ASSERT_TRUE(s.at(1000));
    ASSERT_EQ(s.sampler.processes().size(), 3u);
    EXPECT_EQ(s.sampler.processes().front().name, "Idle");
    // Nothing to compare with yet: the idle processors count as fully idle, processes as 0.
    EXPECT_EQ(s.sampler.idleShare(), 10000);
    EXPECT_EQ(s.find("worker")->cpu, 0);
    EXPECT_EQ(s.find("worker")->memoryKb, 1024u);
    EXPECT_EQ(s.find("editor")->memoryKb, 4000u);
    EXPECT_EQ(s.sampler.processorLoad().busy, 0);
    EXPECT_EQ(s.sampler.processorLoad().kernel, 0);

    // Two seconds later on two processors: the worker used 1.2 s, the processors idled 3 s and
    // spent 0.4 s in the kernel.
    tree.setCpu(1150, 230, 5280, 120, 15, 15);
    tree.addProcess({.pid = 100, .comm = "worker", .utime = 150, .stime = 30, .residentPages = 256});
    ASSERT_TRUE(s.at(3000));
    EXPECT_EQ(s.find("worker")->cpu, 3000);
    EXPECT_EQ(s.find("editor")->cpu, 0);
    EXPECT_EQ(s.sampler.idleShare(), 7500);
    EXPECT_EQ(s.sampler.kernelShare(), 1000);
    EXPECT_EQ(s.sampler.processorLoad().busy, 25);
    EXPECT_EQ(s.sampler.processorLoad().kernel, 10);
}

TEST(SysmeterSampler, SameMillisecondReusesTheSample)
{
    FakeProc tree;
    tree.addProcess({.pid = 1, .comm = "init"});
    Sampled s(tree.root(), 1, 100);
    ASSERT_TRUE(s.at(5));
    tree.addProcess({.pid = 2, .comm = "late"});
    EXPECT_FALSE(s.at(5));
    EXPECT_EQ(s.names(), "Idle,init");
    EXPECT_TRUE(s.at(6));
    EXPECT_EQ(s.names(), "Idle,init,late");
}

TEST(SysmeterSampler, ShareRoundingClampingAndProcessIdentity)
{
    // One tick is one 100-ns unit here, so shares come out to the unit.
    FakeProc tree;
    tree.setCpu(0, 0, 500);
    tree.addProcess({.pid = 10, .comm = "half-up", .utime = 0});
    tree.addProcess({.pid = 11, .comm = "half-down", .utime = 0});
    tree.addProcess({.pid = 12, .comm = "reused", .utime = 5000, .startTime = 1});
    tree.addProcess({.pid = 13, .comm = "hog", .utime = 0});
    Sampled s(tree.root(), 1, 10000000);
    ASSERT_TRUE(s.at(1000));

    tree.setCpu(0, 0, 400); // idle time that went back measures nothing
    tree.addProcess({.pid = 10, .comm = "half-up", .utime = 1500});
    tree.addProcess({.pid = 11, .comm = "half-down", .utime = 1499});
    tree.addProcess({.pid = 12, .comm = "reused", .utime = 6000, .startTime = 2});
    tree.addProcess({.pid = 13, .comm = "hog", .utime = 20000000});
    tree.addProcess({.pid = 14, .comm = "newcomer", .utime = 99999});
    ASSERT_TRUE(s.at(2000));
    EXPECT_EQ(s.find("half-up")->cpu, 2);
    EXPECT_EQ(s.find("half-down")->cpu, 1);
    EXPECT_EQ(s.find("reused")->cpu, 0) << "another process under an identifier seen before starts afresh";
    EXPECT_EQ(s.find("hog")->cpu, 10000);
    EXPECT_EQ(s.find("newcomer")->cpu, 0);
    EXPECT_EQ(s.sampler.idleShare(), 0);
    EXPECT_EQ(s.sampler.processorLoad().busy, 100);

    tree.addProcess({.pid = 12, .comm = "reused", .utime = 7000, .startTime = 2});
    ASSERT_TRUE(s.at(3000));
    EXPECT_EQ(s.find("reused")->cpu, 1);
}

TEST(SysmeterSampler, NamesFromStatAndExecutable)
{
    FakeProc tree;
    tree.addProcess({.pid = 1, .comm = "my (odd) name)", .utime = 100, .stime = 0, .residentPages = 3});
    tree.addProcess({.pid = 2, .comm = "gnome-system-mo", .exe = "/usr/bin/gnome-system-monitor"});
    tree.addProcess({.pid = 3, .comm = "long-program-na", .exe = "/opt/x/long-program-name (deleted)"});
    tree.addProcess({.pid = 4, .comm = "kworker/u8:3-ev"});
    tree.addProcess({.pid = 5, .comm = "Isolated Web Co", .exe = "/usr/lib/browser/browser"});
    tree.addProcess({.pid = 6, .comm = "shortname-abcd", .exe = "/usr/bin/shortname-abcdef"});
    Sampled s(tree.root(), 1, 100);
    ASSERT_TRUE(s.at(1000));
    EXPECT_NE(s.find("gnome-system-monitor"), nullptr) << s.names();
    EXPECT_NE(s.find("long-program-name"), nullptr) << s.names();
    EXPECT_NE(s.find("kworker/u8:3-ev"), nullptr) << s.names();
    EXPECT_NE(s.find("Isolated Web Co"), nullptr) << s.names();
    EXPECT_NE(s.find("shortname-abcd"), nullptr) << s.names();

    // The fields after a name with blanks and parentheses are still read in the right places.
    tree.addProcess({.pid = 1, .comm = "my (odd) name)", .utime = 300, .stime = 0, .residentPages = 3});
    ASSERT_TRUE(s.at(2000));
    ASSERT_NE(s.find("my (odd) name)"), nullptr) << s.names();
    EXPECT_EQ(s.find("my (odd) name)")->cpu, 10000);
    EXPECT_EQ(s.find("my (odd) name)")->memoryKb, 12u);
}

TEST(SysmeterSampler, ProcessesThatVanishOrCannotBeReadAreLeftOut)
{
    FakeProc tree;
    tree.addProcess({.pid = 35, .comm = "survivor"});
    tree.write("30/status", "listed, then gone before its files were read\n");
    tree.write("31/stat", "31 (cut short) S 1 1 1 0 -1 0 0 0 0 0 1 1 0 0 20 0 1 0 5 100\n");
    std::filesystem::create_directories(tree.root() + "/32/stat");
    tree.write("33/stat", "33 nonsense\n");
    tree.write("34/stat", "");
    tree.write("self/stat", "1 (self) S\n");
    tree.write("99999999999/stat", "1 (huge) S\n");
    Sampled s(tree.root(), 1, 100);
    ASSERT_TRUE(s.at(1));
    EXPECT_EQ(s.names(), "Idle,survivor");
}

TEST(SysmeterSampler, AnotherUsersHiddenProcessIsLeftOut)
{
    FakeProc tree;
    tree.addProcess({.pid = 7, .comm = "mine"});
    tree.addProcess({.pid = 8, .comm = "theirs"});
    chmod(tree.root().c_str(), 0755);
    chmod((tree.root() + "/8").c_str(), 0); // as /proc/PID is with hidepid=1
    const std::string root = tree.root();
    const std::string names = unprivileged([&] {
        Sampled s(root, 1, 100);
        return s.at(1) ? s.names() : std::string("<no sample>");
    });
    chmod((tree.root() + "/8").c_str(), 0755);
    EXPECT_EQ(names, "Idle,mine");
}

// Batches read through io_uring give what reading file after file gives, sample after sample, over
// batch boundaries, with processes coming, going, reusing identifiers and changing names, and
// leave no descriptor open.
TEST(SysmeterSampler, BatchedReadsMatchReadsOneByOne)
{
    FakeProc tree;
    tree.setCpu(1000, 100, 5000);
    Sampled batched(tree.root(), 2, 100);
    Sampled plain(tree.root(), 2, 100, true);
    EXPECT_FALSE(plain.sampler.readsInBatches());
    if (!batched.sampler.readsInBatches())
        GTEST_SKIP() << "io_uring is not available to this process";

    const char *const names[] = {"worker", "gnome-system-mo", "x (y) z)", "kworker/0:1"};
    const std::size_t descriptors = openDescriptors();
    for (int round = 0; round < 4; ++round) {
        for (int pid = 1; pid <= 150; ++pid) {
            if ((pid + round) % 7 == 0) {
                tree.removeProcess(pid);
                continue;
            }
            tree.addProcess({.pid = pid,
                             .comm = names[(pid / 50 + (pid % 11 == 0 ? round : 0)) % 4],
                             .utime = std::uint64_t(pid * round * 3),
                             .stime = std::uint64_t(round),
                             .residentPages = std::uint64_t(pid * 10 + round),
                             .startTime = std::uint64_t(1 + (pid % 13 == 0 ? round : 0)),
                             .exe = pid % 2 ? "/usr/bin/gnome-system-monitor" : ""});
        }
        tree.write("65/stat", "65 (broken"); // at the start of the second batch
        tree.setCpu(1000 + round * 150, 100 + round * 20, 5000 + round * 200);
        const std::uint64_t tick = 1000 * std::uint64_t(round + 1);
        ASSERT_TRUE(batched.at(tick));
        ASSERT_TRUE(plain.at(tick));
        ASSERT_GT(batched.sampler.processes().size(), 120u);
        ASSERT_EQ(batched.all(), plain.all()) << "round " << round;
        EXPECT_EQ(batched.sampler.kernelShare(), plain.sampler.kernelShare());
    }
    EXPECT_NE(batched.find("gnome-system-monitor"), nullptr);
    EXPECT_EQ(openDescriptors(), descriptors);
}

// With hardly a descriptor left, files the ring could not open are read one by one afterwards:
// no process goes missing for it.
TEST(SysmeterSampler, FewDescriptorsLeaveNoProcessOut)
{
    FakeProc tree;
    for (int pid = 1; pid <= 100; ++pid)
        tree.addProcess({.pid = pid, .comm = "p" + std::to_string(pid)});
    chmod(tree.root().c_str(), 0755);
    const std::string root = tree.root();
    const std::string counts = unprivileged([&] {
        Sampled s(root, 1, 100);
        const bool batched = s.sampler.readsInBatches();
        // The next free descriptor, then room for the listing and two files.
        const int lowest = dup(0);
        close(lowest);
        rlimit limit{};
        getrlimit(RLIMIT_NOFILE, &limit);
        limit.rlim_cur = rlim_t(lowest + 3);
        if (setrlimit(RLIMIT_NOFILE, &limit) != 0)
            return std::string("<setrlimit failed>");
        const bool sampled = s.at(1);
        return std::string(batched ? "batched " : "plain ") + (sampled ? std::to_string(s.sampler.processes().size()) : "none");
    });
    EXPECT_TRUE(counts == "batched 101" || counts == "plain 101") << counts;
}

TEST(SysmeterSampler, LoadFromProcessorTotalsWithoutProcessTable)
{
    // The tree can be entered but not listed: no process table, only the processor totals.
    FakeProc tree;
    tree.setCpu(300, 100, 600);
    chmod(tree.root().c_str(), 0111);
    chmod((tree.root() + "/stat").c_str(), 0666);
    const std::string root = tree.root();
    const std::string loads = unprivileged([&] {
        Sampled s(root, 1, 10000000);
        std::string text = s.at(1) ? "sampled;" : "";
        sysmeter::ProcessorLoad load = s.sampler.processorLoad(); // since start-up
        text += std::to_string(load.busy) + "/" + std::to_string(load.kernel);
        std::ofstream(root + "/stat") << "cpu  400 0 150 650 0 0 0 0 0 0\n";
        load = s.sampler.processorLoad(); // since the previous call
        return text + " " + std::to_string(load.busy) + "/" + std::to_string(load.kernel);
    });
    EXPECT_EQ(loads, "40/10 75/25");
}

TEST(SysmeterSampler, MissingTreeOrProcessorTimes)
{
    Sampled missing("/nonexistent/sysmeter-proc", 1, 100);
    EXPECT_FALSE(missing.sampler.isOpen());
    EXPECT_FALSE(missing.at(10));
    EXPECT_TRUE(missing.sampler.processes().empty());
    EXPECT_EQ(missing.sampler.processorLoad().busy, 0);
    EXPECT_EQ(missing.sampler.processorLoad().kernel, 0);

    FakeProc tree;
    tree.addProcess({.pid = 1, .comm = "init"});
    Sampled s(tree.root(), 1, 100);
    ASSERT_TRUE(s.at(10));
    std::filesystem::remove(tree.root() + "/stat");
    tree.addProcess({.pid = 2, .comm = "unseen"});
    EXPECT_FALSE(s.at(20)) << "a failing query keeps the previous sample";
    EXPECT_EQ(s.names(), "Idle,init");
    tree.write("stat", "intr 1 2 3\n");
    EXPECT_FALSE(s.at(30));
}

TEST(SysmeterMemory, StatusFromMeminfo)
{
    FakeProc tree;
    EXPECT_FALSE(sysmeter::readMemoryStatus(tree.root()).has_value()) << "no meminfo";

    tree.setMemory(8000000, 2000000);
    auto status = sysmeter::readMemoryStatus(tree.root());
    ASSERT_TRUE(status.has_value());
    EXPECT_EQ(status->load(), 75);
    EXPECT_EQ(status->availableMb(), 1953u);

    tree.write("meminfo", "garbage line\nMemTotal: 1000 kB\nMemFree: 100 kB\nBuffers: 50 kB\nCached: 150 kB\n");
    status = sysmeter::readMemoryStatus(tree.root());
    ASSERT_TRUE(status.has_value()) << "kernels without MemAvailable";
    EXPECT_EQ(status->availableBytes, 300u * 1024);
    EXPECT_EQ(status->load(), 70);

    tree.setMemory(1000, 5000); // more available than there is
    EXPECT_EQ(sysmeter::readMemoryStatus(tree.root())->load(), 0);
    tree.setMemory(1000, 0);
    EXPECT_EQ(sysmeter::readMemoryStatus(tree.root())->load(), 100);
    tree.setMemory(0, 0);
    EXPECT_FALSE(sysmeter::readMemoryStatus(tree.root()).has_value()) << "no total, no load";
}

TEST(SysmeterRealProc, SampleOfThisSystem)
{
    ProcessSampler sampler;
    ASSERT_TRUE(sampler.isOpen());
    EXPECT_EQ(sampler.processors(), int(sysconf(_SC_NPROCESSORS_ONLN)));
    ASSERT_TRUE(sampler.sample());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(sampler.sample());
    const auto &processes = sampler.processes();
    ASSERT_GE(processes.size(), 2u);
    EXPECT_EQ(processes.front().name, "Idle");
    // This program's command name is cut by the kernel; the executable gives it back whole.
    const ProcessEntry *self = nullptr;
    for (const ProcessEntry &entry : processes) {
        EXPECT_GE(entry.cpu, 0);
        EXPECT_LE(entry.cpu, 10000);
        if (entry.name == "sysmeter_sampler_test")
            self = &entry;
    }
    ASSERT_NE(self, nullptr);
    EXPECT_GT(self->memoryKb, 100u);
    const sysmeter::ProcessorLoad load = sampler.processorLoad();
    EXPECT_GE(load.busy, 0);
    EXPECT_LE(load.busy, 100);
    EXPECT_GE(load.kernel, 0);
    EXPECT_LE(load.kernel, 100);

    const auto memory = sysmeter::readMemoryStatus();
    ASSERT_TRUE(memory.has_value());
    EXPECT_GT(memory->totalBytes, 16ull << 20);
    EXPECT_LE(memory->availableBytes, memory->totalBytes);
}

TEST(SysmeterRealProc, ProcessBurningACoreShowsItsShare)
{
    // A shell started under a name of its own spins in a loop.
    const std::filesystem::path folder = std::filesystem::temp_directory_path() / ("sysmeter-burn-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::filesystem::path burner = folder / "sysmeter-burn";
    std::filesystem::remove(burner);
    std::filesystem::create_symlink("/bin/sh", burner);
    pixkey::test::ServiceProcess spin(burner.string(), {"-c", "while :; do :; done"});
    ASSERT_TRUE(spin.start());

    ProcessSampler sampler;
    ASSERT_TRUE(sampler.sample());
    // A fifth of one processor at least, within a generous deadline on a loaded machine.
    const int wanted = 2000 / sampler.processors();
    int best = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (best < wanted && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        ASSERT_TRUE(sampler.sample());
        for (const ProcessEntry &entry : sampler.processes())
            if (entry.name == "sysmeter-burn")
                best = std::max(best, entry.cpu);
    }
    spin.stop();
    std::filesystem::remove_all(folder);
    EXPECT_GE(best, wanted);
}
