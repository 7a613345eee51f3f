#include "SlideshowTestSupport.h"

#include <QApplication>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>

#include <dirent.h>
#include <signal.h>
#include <unistd.h>
#include <thread>

// Fontconfig keeps its caches for the life of the process; LeakSanitizer reports them at exit.
extern "C" const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

namespace slideshow_test {

void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "slideshow_test";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

int Face::whitePixels(int top, int bottom, int left, int right) const
{
    int count = 0;
    for (int y = top; y <= bottom; ++y)
        for (int x = left; x <= right; ++x) {
            const std::uint32_t c = rgb(x, y);
            if (((c >> 16) & 0xff) > 150 && ((c >> 8) & 0xff) > 150 && (c & 0xff) > 150)
                ++count;
        }
    return count;
}

bool near(std::uint32_t a, std::uint32_t b, int tolerance)
{
    for (int shift : {0, 8, 16})
        if (std::abs(int((a >> shift) & 0xff) - int((b >> shift) & 0xff)) > tolerance)
            return false;
    return true;
}

int killChildren(const std::string &text)
{
    int killed = 0;
    DIR *proc = opendir("/proc");
    while (dirent *entry = proc ? readdir(proc) : nullptr) {
        const int pid = std::atoi(entry->d_name);
        if (pid <= 0)
            continue;
        std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
        std::string statLine;
        std::getline(stat, statLine);
        const std::size_t close = statLine.rfind(')');
        if (close == std::string::npos)
            continue;
        std::istringstream rest(statLine.substr(close + 2));
        char state;
        int parent = 0;
        rest >> state >> parent;
        if (parent != getpid())
            continue;
        std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline");
        std::string command((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (command.find(text) != std::string::npos && kill(pid, SIGKILL) == 0)
            ++killed;
    }
    if (proc)
        closedir(proc);
    return killed;
}

bool eventually(const std::function<bool()> &step, std::chrono::milliseconds deadline)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (step())
            return true;
        if (std::chrono::steady_clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

} // namespace slideshow_test
