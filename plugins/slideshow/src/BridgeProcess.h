// BridgeProcess: one running pixkey-impress-bridge (or any program speaking its protocol), spoken
// to over its standard input and output with a deadline on every request.
//
// A helper that does not answer in time, answers nonsense or ends is killed (by its pid) and
// reaped; the next request starts a new one. stop() may be called from another thread to break off
// a request in progress (it returns at once with no answer).
//
// request() and close() are [monitor-thread] (one thread); stop() is [any-thread].
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/types.h>

namespace slideshow {

class BridgeProcess {
public:
    // `program` and its `arguments`; `environment` entries ("NAME=value") are added to the
    // process's own.
    BridgeProcess(std::string program, std::vector<std::string> arguments,
                  std::vector<std::string> environment = {});
    ~BridgeProcess();
    BridgeProcess(const BridgeProcess &) = delete;
    BridgeProcess &operator=(const BridgeProcess &) = delete;

    // Sends `line` and waits until `timeout` for one line of answer (without its line end).
    // Starts the helper first when none runs. Nothing on a timeout, an end of the helper, a line
    // longer than the protocol allows, a failed start or a stop(); the helper is then gone.
    std::optional<std::string> request(const std::string &line, std::chrono::milliseconds timeout);

    // Ends the helper (closing its input first, then killing it) and reaps it.
    void close();

    // Breaks off the request in progress and any later one until resume().
    void stop();
    void resume();

    // Why the last request gave no answer. Undelivered: the helper had ended before any of the
    // request reached it, so it cannot have acted on it; Ended: it ended after the request was
    // sent, and may have carried it out before it went.
    enum class Failure { None, Timeout, Ended, Undelivered, Malformed, StartFailed, Stopped };
    Failure lastFailure() const { return m_failure; }

    bool running() const { return m_pid > 0; }
    pid_t pid() const { return m_pid; }
    // Helpers started so far.
    int starts() const { return m_starts; }

private:
    bool start();
    void kill();

    std::string m_program;
    std::vector<std::string> m_arguments;
    std::vector<std::string> m_environment;
    pid_t m_pid = 0;
    int m_socket = -1;        // the helper's standard input and output
    int m_wake[2] = {-1, -1}; // written by stop()
    std::string m_buffer;     // bytes read past the last answer
    int m_starts = 0;
    Failure m_failure = Failure::None;
};

} // namespace slideshow
