#include "FakeProc.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace sysmeter_test {

namespace fs = std::filesystem;

FakeProc::FakeProc()
{
    std::string pattern = (fs::temp_directory_path() / "sysmeter-proc-XXXXXX").string();
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("cannot make a temporary folder");
    m_root = pattern;
    setCpu(0, 0, 0);
}

FakeProc::~FakeProc()
{
    std::error_code ignored;
    fs::permissions(m_root, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(m_root, ignored);
}

void FakeProc::write(const std::string &relative, const std::string &text)
{
    const fs::path path = fs::path(m_root) / relative;
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

void FakeProc::setCpu(std::uint64_t user, std::uint64_t system, std::uint64_t idle, std::uint64_t iowait,
                      std::uint64_t irq, std::uint64_t softirq)
{
    char text[256];
    std::snprintf(text, sizeof text, "cpu  %llu 0 %llu %llu %llu %llu %llu 0 0 0\ncpu0 0 0 0 0 0 0 0 0 0 0\nintr 0\n",
                  (unsigned long long)user, (unsigned long long)system, (unsigned long long)idle,
                  (unsigned long long)iowait, (unsigned long long)irq, (unsigned long long)softirq);
    write("stat", text);
}

void FakeProc::setMemory(std::uint64_t totalKb, std::uint64_t availableKb)
{
    write("meminfo", "MemTotal:       " + std::to_string(totalKb) + " kB\nMemFree:          1000 kB\n"
                     "MemAvailable:   " + std::to_string(availableKb) + " kB\nBuffers:           10 kB\n");
}

void FakeProc::addProcess(const Process &p)
{
    const std::string dir = std::to_string(p.pid);
    // Fields after the name as the kernel writes them; priority and nice negative, as for a
    // real-time process, and tpgid -1.
    char stat[1024];
    std::snprintf(stat, sizeof stat,
                  "%d (%s) S 1 %d %d 0 -1 4194560 100 0 0 0 %llu %llu 0 0 -21 -20 1 0 %llu 1000000 %llu "
                  "18446744073709551615 1 1 0 0 0 0 0 0 0 0 0 0 17 1 0 0 0 0 0\n",
                  p.pid, p.comm.c_str(), p.pid, p.pid, (unsigned long long)p.utime, (unsigned long long)p.stime,
                  (unsigned long long)p.startTime, (unsigned long long)p.residentPages);
    write(dir + "/stat", stat);
    const fs::path exe = fs::path(m_root) / dir / "exe";
    std::error_code ignored;
    fs::remove(exe, ignored);
    if (!p.exe.empty())
        fs::create_symlink(p.exe, exe);
}

void FakeProc::removeProcess(int pid)
{
    fs::remove_all(fs::path(m_root) / std::to_string(pid));
}

} // namespace sysmeter_test
