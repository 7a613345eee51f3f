#include "XServerFixture.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace pixkey::test {

namespace {

using namespace std::chrono_literals;

pid_t spawn(const std::string &program, std::vector<std::string> arguments, posix_spawn_file_actions_t *actions)
{
    arguments.insert(arguments.begin(), program);
    std::vector<char *> argv;
    for (std::string &a : arguments)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), actions, nullptr, argv.data(), environ) != 0)
        return 0;
    return pid;
}

// Whether a window manager announces itself on `name` (EWMH _NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns(const std::string &name)
{
    Display *display = XOpenDisplay(name.c_str());
    if (!display)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &remaining, &data) == Success
        && count == 1;
    if (data)
        XFree(data);
    XCloseDisplay(display);
    return found;
}

} // namespace

std::string findProgram(const char *name)
{
    const char *path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

void endProcess(pid_t pid)
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (std::chrono::steady_clock::now() < deadline) {
        if (::waitpid(pid, nullptr, WNOHANG) == pid)
            return;
        std::this_thread::sleep_for(10ms);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
}

pid_t startXvfb(std::string &display, std::string &error)
{
    const std::string server = findProgram("Xvfb");
    if (server.empty()) {
        error = "Xvfb is not installed (scripts/install-deps.sh installs it)";
        return 0;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        error = "no pipe for Xvfb";
        return 0;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    // -displayfd: the server picks a free display number and writes it once it accepts clients.
    const pid_t pid = spawn(server, {"-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0", "640x480x24"},
                            &actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[1]);
    std::string number;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (pid && number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{pipeFds[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0)
            continue;
        char buffer[16];
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        number.append(buffer, std::size_t(n));
    }
    ::close(pipeFds[0]);
    while (!number.empty() && (number.back() == '\n' || number.back() == ' '))
        number.pop_back();
    if (number.empty()) {
        error = "Xvfb did not report a display within 10 s";
        endProcess(pid);
        return 0;
    }
    display = ":" + number;
    return pid;
}

void XServerFixture::SetUp()
{
    const std::string windowManager = findProgram("openbox");
    if (windowManager.empty()) {
        skipReason = "openbox is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    m_server = startXvfb(display, skipReason);
    if (!m_server)
        return;
    ::setenv("DISPLAY", display.c_str(), 1);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    m_windowManager = spawn(windowManager, {"--sm-disable"}, &actions);
    posix_spawn_file_actions_destroy(&actions);
    const auto wmDeadline = std::chrono::steady_clock::now() + 15s;
    while (m_windowManager && !windowManagerRuns(display) && std::chrono::steady_clock::now() < wmDeadline)
        std::this_thread::sleep_for(50ms);
    if (!m_windowManager || !windowManagerRuns(display))
        skipReason = "openbox did not come up on " + display + " within 15 s";
}

void XServerFixture::TearDown()
{
    endProcess(m_windowManager);
    endProcess(m_server);
}

bool ChildProcess::start(const std::string &program, const std::vector<std::string> &arguments)
{
    int input[2], output[2];
    if (::pipe2(input, O_CLOEXEC) != 0)
        return false;
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        return false;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, input[0], 0);
    posix_spawn_file_actions_adddup2(&actions, output[1], 1);
    m_pid = spawn(program, arguments, &actions);
    posix_spawn_file_actions_destroy(&actions);
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    m_output = output[0];
    return m_pid > 0;
}

std::string ChildProcess::readLine(int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (m_buffered.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{m_output, POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0)
            continue;
        char buffer[64];
        const ssize_t n = ::read(m_output, buffer, sizeof buffer);
        if (n <= 0)
            break;
        m_buffered.append(buffer, std::size_t(n));
    }
    const std::size_t end = m_buffered.find('\n');
    if (end == std::string::npos)
        return std::string();
    std::string line = m_buffered.substr(0, end);
    m_buffered.erase(0, end + 1);
    return line;
}

void ChildProcess::stop()
{
    if (m_input >= 0)
        ::close(m_input);
    m_input = -1;
    if (m_pid > 0) {
        // Closing stdin ends it; SIGTERM and SIGKILL only if it does not.
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        bool ended = false;
        while (!ended && std::chrono::steady_clock::now() < deadline) {
            ended = ::waitpid(m_pid, nullptr, WNOHANG) == m_pid;
            if (!ended)
                std::this_thread::sleep_for(10ms);
        }
        if (!ended)
            endProcess(m_pid);
    }
    m_pid = 0;
    if (m_output >= 0)
        ::close(m_output);
    m_output = -1;
}

} // namespace pixkey::test
