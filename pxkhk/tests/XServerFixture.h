// XServerFixture: a private X server for the desktop tests, started once for the test program:
// Xvfb on a display number it picks itself (-displayfd, -nolisten tcp) and openbox on it, which
// maintains _NET_ACTIVE_WINDOW. Both are stopped at the end. Every wait is bounded; when Xvfb or
// openbox is missing or does not come up, skipReason says why and the tests skip.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>
#include <sys/types.h>

namespace pixkey::test {

class XServerFixture : public ::testing::Environment {
public:
    static inline std::string display;    // ":N" once running
    static inline std::string skipReason; // empty when the server and window manager run

    void SetUp() override;
    void TearDown() override;

private:
    pid_t m_server = 0;
    pid_t m_windowManager = 0;
};

// A program started with a pipe on its stdin and one on its stdout; ended (stdin closed, then
// SIGTERM, then SIGKILL, each wait bounded) by stop() or the destructor.
class ChildProcess {
public:
    ChildProcess() = default;
    ~ChildProcess() { stop(); }
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    bool start(const std::string &program, const std::vector<std::string> &arguments);
    // The next line of its output, or empty after `seconds` without one.
    std::string readLine(int seconds = 10);
    void stop();
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = 0;
    int m_input = -1;
    int m_output = -1;
    std::string m_buffered;
};

// Full path of a program on PATH, empty when there is none.
std::string findProgram(const char *name);
// Starts a bare Xvfb (no window manager); its pid and `display`, or 0 and `error`.
pid_t startXvfb(std::string &display, std::string &error);
// Ends `pid`: SIGTERM, up to 5 s, then SIGKILL; reaps it.
void endProcess(pid_t pid);

} // namespace pixkey::test
