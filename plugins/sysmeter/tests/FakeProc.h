// FakeProc: a /proc tree written by a test, with exact numbers, in a temporary folder removed with
// the object. Times are in clock ticks, memory in pages of the page size the test gives the sampler.
#pragma once

#include <cstdint>
#include <string>

namespace sysmeter_test {

class FakeProc {
public:
    FakeProc();
    ~FakeProc();
    FakeProc(const FakeProc &) = delete;
    FakeProc &operator=(const FakeProc &) = delete;

    const std::string &root() const { return m_root; }

    // The "cpu" line of stat.
    void setCpu(std::uint64_t user, std::uint64_t system, std::uint64_t idle, std::uint64_t iowait = 0,
                std::uint64_t irq = 0, std::uint64_t softirq = 0);
    // meminfo with MemTotal and MemAvailable in kB.
    void setMemory(std::uint64_t totalKb, std::uint64_t availableKb);

    struct Process {
        int pid = 0;
        std::string comm;
        std::uint64_t utime = 0, stime = 0; // ticks
        std::uint64_t residentPages = 0;
        std::uint64_t startTime = 1;
        std::string exe;                    // target of the exe link; none when empty
    };
    void addProcess(const Process &process);
    void removeProcess(int pid);

    // Writes `text` to `relative` below the root, making folders as needed.
    void write(const std::string &relative, const std::string &text);

private:
    std::string m_root;
};

} // namespace sysmeter_test
