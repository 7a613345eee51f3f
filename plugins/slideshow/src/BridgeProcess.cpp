#include "BridgeProcess.h"

#include "SlideshowProtocol.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

extern char **environ;

namespace slideshow {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

} // namespace

BridgeProcess::BridgeProcess(std::string program, std::vector<std::string> arguments,
                             std::vector<std::string> environment)
    : m_program(std::move(program)), m_arguments(std::move(arguments)), m_environment(std::move(environment))
{
    if (pipe2(m_wake, O_CLOEXEC | O_NONBLOCK) != 0)
        m_wake[0] = m_wake[1] = -1;
}

BridgeProcess::~BridgeProcess()
{
    close();
    for (int fd : m_wake)
        if (fd >= 0)
            ::close(fd);
}

bool BridgeProcess::start()
{
    // One socket pair carries both directions: writes use MSG_NOSIGNAL, so a helper that died
    // never raises SIGPIPE in the host.
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
        return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, ends[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    // The helper starts with default signal handling, whatever the host blocks or ignores.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<std::string> environment;
    for (char **entry = environ; entry && *entry; ++entry)
        environment.emplace_back(*entry);
    for (const std::string &entry : m_environment)
        environment.push_back(entry);
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> argumentCopies{m_program};
    argumentCopies.insert(argumentCopies.end(), m_arguments.begin(), m_arguments.end());
    std::vector<char *> argv;
    for (std::string &argument : argumentCopies)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    pid_t pid = 0;
    const int failed = posix_spawn(&pid, m_program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(ends[1]);
    if (failed) {
        ::close(ends[0]);
        return false;
    }
    m_pid = pid;
    m_socket = ends[0];
    m_buffer.clear();
    ++m_starts;
    return true;
}

void BridgeProcess::kill()
{
    if (m_socket >= 0)
        ::close(m_socket);
    m_socket = -1;
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        while (waitpid(m_pid, nullptr, 0) < 0 && errno == EINTR) {
        }
    }
    m_pid = 0;
    m_buffer.clear();
}

void BridgeProcess::close()
{
    if (m_pid <= 0)
        return;
    // A helper that is idle ends on its own at the end of its input; give it a moment, then kill.
    shutdown(m_socket, SHUT_WR);
    for (int i = 0; i < 20; ++i) {
        if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) {
            m_pid = 0;
            break;
        }
        usleep(5000);
    }
    kill();
}

void BridgeProcess::stop()
{
    if (m_wake[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t written = write(m_wake[1], &byte, 1);
    }
}

void BridgeProcess::resume()
{
    char bytes[64];
    while (m_wake[0] >= 0 && read(m_wake[0], bytes, sizeof bytes) > 0) {
    }
}

std::optional<std::string> BridgeProcess::request(const std::string &line, std::chrono::milliseconds timeout)
{
    const auto deadline = Clock::now() + timeout;
    m_failure = Failure::Malformed;
    if (line.size() > protocol::kMaxLine || line.find('\n') != std::string::npos)
        return std::nullopt;
    m_failure = Failure::StartFailed;
    if (m_pid <= 0 && !start())
        return std::nullopt;
    m_failure = Failure::None;

    std::string out = line + '\n';
    std::size_t sent = 0;
    while (sent < out.size()) {
        pollfd fds[2] = {{m_socket, POLLOUT, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = poll(fds, 2, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (fds[1].revents & POLLIN) || (fds[0].revents & (POLLERR | POLLHUP))) {
            m_failure = ready == 0                    ? Failure::Timeout
                        : (fds[1].revents & POLLIN) ? Failure::Stopped
                        : sent == 0                 ? Failure::Undelivered
                                                    : Failure::Ended;
            kill();
            return std::nullopt;
        }
        const ssize_t written = send(m_socket, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EINTR || errno == EAGAIN)
                continue;
            m_failure = sent == 0 ? Failure::Undelivered : Failure::Ended;
            kill();
            return std::nullopt;
        }
        sent += static_cast<std::size_t>(written);
    }

    for (;;) {
        const std::size_t end = m_buffer.find('\n');
        if (end != std::string::npos) {
            std::string answer = m_buffer.substr(0, end);
            m_buffer.erase(0, end + 1);
            return answer;
        }
        if (m_buffer.size() > protocol::kMaxLine) {
            m_failure = Failure::Malformed;
            kill();
            return std::nullopt;
        }
        pollfd fds[2] = {{m_socket, POLLIN, 0}, {m_wake[0], POLLIN, 0}};
        const int ready = poll(fds, 2, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0 || (fds[1].revents & POLLIN)) {
            m_failure = ready == 0 ? Failure::Timeout : Failure::Stopped;
            kill();
            return std::nullopt;
        }
        char chunk[4096];
        const ssize_t got = recv(m_socket, chunk, sizeof chunk, 0);
        if (got < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (got <= 0) {
            m_failure = Failure::Ended;
            kill();
            return std::nullopt;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(got));
    }
}

} // namespace slideshow
