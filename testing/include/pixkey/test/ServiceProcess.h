// ServiceProcess: a program a test starts and stops, e.g. a sound server, a media player, a phone,
// a helper window.
//
// Starts: the program (looked up on PATH unless the name holds a '/') with its arguments, the
// test's environment plus the entries given, optionally in another working folder, with its
// stdout and stderr captured by a reader thread (and optionally a pipe on its stdin).
// Ready: start() waits for a Probe (a TCP port or unix socket that accepts, a file that exists, a
// D-Bus name owned on a bus, a line on a notification descriptor, or any function) until a
// deadline. When the probe fails or the program exits first, start() fails with a message that
// carries the program's own captured output, never just "time-out".
// Stops: stop() or the destructor, by pid: stdin closed (when piped), SIGTERM, SIGKILL after the
// stop deadline, then reaped. If the current test has failed by then, the captured output is
// printed to stderr under the service's name.
//
// Threads: one ServiceProcess belongs to the thread that made it; output(), readLine() and
// waitForOutput() may be called from any thread.
#pragma once

#include <gtest/gtest.h>

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace pixkey::test {

class ServiceProcess;

// How start() knows the program is ready. Checked every 20 ms until it holds or the deadline passes.
struct Probe {
    // TCP connect to host:port succeeds.
    static Probe tcpPort(int port, std::string host = "127.0.0.1");
    // A connect to the unix stream socket at `path` succeeds.
    static Probe unixSocket(std::string path);
    // `path` exists.
    static Probe file(std::string path);
    // `name` has an owner on the bus at `busAddress` (asked with dbus-send).
    static Probe dbusName(std::string busAddress, std::string name);
    // The program wrote a line to its notification descriptor (Options::notifyFd), as Xvfb
    // -displayfd and dbus-daemon --print-address do; the line is then in notification().
    static Probe notifyLine();
    // The program wrote `text` to stdout or stderr.
    static Probe outputContains(std::string text);
    // Any condition, described for the failure message.
    static Probe when(std::function<bool()> ready, std::string description);
    // Ready as soon as it is started (for programs whose readiness the test checks itself).
    static Probe none();

    std::function<bool(ServiceProcess &)> ready;
    std::string description;
};

class ServiceProcess {
public:
    struct Options {
        std::string program;                 // a name on PATH or a path
        std::vector<std::string> arguments;
        std::vector<std::string> environment; // "NAME=value" entries added to (or replacing) the test's
        std::vector<std::string> unset;       // names removed from the environment
        std::string workingDirectory;         // empty: the test's
        std::string name;                     // for messages; default: the program's base name
        int notifyFd = -1;                    // a descriptor number in the child that gets a pipe to notification()
        bool pipeInput = false;               // a pipe on stdin (writeInput, closeInput); otherwise /dev/null
        std::chrono::milliseconds stopDeadline{5000}; // after SIGTERM (and after closing stdin), before SIGKILL
    };

    explicit ServiceProcess(Options options);
    ServiceProcess(std::string program, std::vector<std::string> arguments = {});
    ~ServiceProcess(); // stop()
    ServiceProcess(const ServiceProcess &) = delete;
    ServiceProcess &operator=(const ServiceProcess &) = delete;

    Options &options() { return m_options; } // change before start()

    // The full path of `program` on PATH (or `program` itself when it holds a '/' and is
    // executable); empty when there is none.
    static std::string find(const std::string &program);

    // Starts the program and waits for `probe`; failure carries the reason and the captured output.
    // Use as ASSERT_TRUE(service.start(...)).
    ::testing::AssertionResult start(const Probe &probe = Probe::none(),
                                     std::chrono::milliseconds deadline = std::chrono::seconds(20));
    // TERM, then KILL after the stop deadline; reaped. Returns the wait status (or -1 when not started).
    int stop();
    // Stops with SIGKILL at once (a crash, for the tests of whatever uses the service).
    void kill();

    pid_t pid() const { return m_pid; }
    bool running();                    // started and not yet exited (reaps it when it has exited)
    std::optional<int> exitStatus();   // the wait status once it has exited
    // Waits for the program to end by itself; its wait status, or nullopt while it still runs.
    std::optional<int> waitForExit(std::chrono::milliseconds deadline);
    const std::string &name() const { return m_name; }
    const std::string &error() const { return m_error; } // why start() failed

    std::string output() const;         // stdout and stderr as captured so far, interleaved
    std::string notification() const;   // the text written to the notification descriptor
    // Waits for `text` in the captured output.
    bool waitForOutput(const std::string &text, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
    // The next line the program wrote to stdout (not stderr), without the newline; nullopt when
    // none came within `deadline` or the output ended.
    std::optional<std::string> readLine(std::chrono::milliseconds deadline = std::chrono::seconds(10));

    bool writeInput(const std::string &bytes); // with Options::pipeInput
    void closeInput();

private:
    void readLoop(int outFd, int errFd, int notifyFd);
    std::string failure(const std::string &reason);
    void reap(bool block);
    void printOutputIfFailed();

    Options m_options;
    std::string m_name;
    std::string m_error;
    pid_t m_pid = 0;
    std::optional<int> m_status; // the wait status once reaped
    int m_input = -1;
    int m_wakeRead = -1, m_wakeWrite = -1; // ends the reader thread
    std::thread m_reader;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::string m_output;        // guarded by m_lock
    std::string m_stdout;        // guarded by m_lock: stdout not yet taken by readLine
    std::string m_notification;  // guarded by m_lock
    bool m_outputEnded = false;  // guarded by m_lock
};

} // namespace pixkey::test
