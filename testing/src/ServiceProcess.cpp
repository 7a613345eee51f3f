#include <pixkey/test/ServiceProcess.h>

#include <fcntl.h>
#include <netinet/in.h>
#include <arpa/inet.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>

extern char **environ;

namespace pixkey::test {

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// A pipe whose ends sit above the descriptor numbers a child may be asked to receive (3, 4, ...),
// so that a dup2 in the child never lands on its own source and keeps close-on-exec.
bool highPipe(int fds[2])
{
    int raw[2];
    if (::pipe2(raw, O_CLOEXEC) != 0)
        return false;
    for (int i = 0; i < 2; ++i) {
        fds[i] = ::fcntl(raw[i], F_DUPFD_CLOEXEC, 16);
        ::close(raw[i]);
    }
    if (fds[0] < 0 || fds[1] < 0) {
        if (fds[0] >= 0)
            ::close(fds[0]);
        if (fds[1] >= 0)
            ::close(fds[1]);
        return false;
    }
    return true;
}

void closeFd(int &fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

std::string describeStatus(int status)
{
    if (WIFEXITED(status))
        return "exited with code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("was killed by signal ") + ::strsignal(WTERMSIG(status));
    return "ended with status " + std::to_string(status);
}

std::string nameOf(const std::string &variable)
{
    return variable.substr(0, variable.find('='));
}

bool connects(int family, const sockaddr *address, socklen_t length)
{
    const int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, address, length) == 0;
    ::close(fd);
    return ok;
}

} // namespace

Probe Probe::tcpPort(int port, std::string host)
{
    return {[port, host](ServiceProcess &) {
                sockaddr_in address{};
                address.sin_family = AF_INET;
                address.sin_port = htons(static_cast<std::uint16_t>(port));
                if (::inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1)
                    return false;
                return connects(AF_INET, reinterpret_cast<sockaddr *>(&address), sizeof address);
            },
            "TCP port " + host + ":" + std::to_string(port) + " accepts connections"};
}

Probe Probe::unixSocket(std::string path)
{
    return {[path](ServiceProcess &) {
                sockaddr_un address{};
                address.sun_family = AF_UNIX;
                if (path.size() >= sizeof address.sun_path)
                    return false;
                std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
                return connects(AF_UNIX, reinterpret_cast<sockaddr *>(&address), sizeof address);
            },
            "unix socket " + path + " accepts connections"};
}

Probe Probe::file(std::string path)
{
    return {[path](ServiceProcess &) {
                struct stat info;
                return ::stat(path.c_str(), &info) == 0;
            },
            "file " + path + " exists"};
}

Probe Probe::dbusName(std::string busAddress, std::string name)
{
    return {[busAddress, name](ServiceProcess &) {
                ServiceProcess ask(ServiceProcess::Options{
                    "dbus-send",
                    {"--bus=" + busAddress, "--print-reply", "--reply-timeout=2000", "--dest=org.freedesktop.DBus",
                     "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner", "string:" + name},
                    {}, {}, {}, "dbus-send", -1, false, 1000ms});
                if (!ask.start())
                    return false;
                ask.waitForExit(5s);
                return ask.output().find("boolean true") != std::string::npos;
            },
            "D-Bus name " + name + " is owned on " + busAddress};
}

Probe Probe::notifyLine()
{
    return {[](ServiceProcess &service) { return service.notification().find('\n') != std::string::npos; },
            "a line on the notification descriptor"};
}

Probe Probe::outputContains(std::string text)
{
    return {[text](ServiceProcess &service) { return service.output().find(text) != std::string::npos; },
            "\"" + text + "\" in its output"};
}

Probe Probe::when(std::function<bool()> ready, std::string description)
{
    return {[ready = std::move(ready)](ServiceProcess &) { return ready(); }, std::move(description)};
}

Probe Probe::none()
{
    return {[](ServiceProcess &) { return true; }, "started"};
}

ServiceProcess::ServiceProcess(Options options) : m_options(std::move(options))
{
}

ServiceProcess::ServiceProcess(std::string program, std::vector<std::string> arguments)
{
    m_options.program = std::move(program);
    m_options.arguments = std::move(arguments);
}

ServiceProcess::~ServiceProcess()
{
    stop();
}

std::string ServiceProcess::find(const std::string &program)
{
    if (program.find('/') != std::string::npos)
        return ::access(program.c_str(), X_OK) == 0 ? program : std::string();
    const char *path = std::getenv("PATH");
    const std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end - start);
        if (dir.empty())
            dir = ".";
        const std::string candidate = dir + "/" + program;
        struct stat info;
        if (::stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            return std::string();
        start = end + 1;
    }
}

std::string ServiceProcess::failure(const std::string &reason)
{
    m_error = m_name + " (" + m_options.program + ") " + reason;
    const std::string captured = output();
    m_error += captured.empty() ? std::string("; it wrote nothing") : "; its output:\n" + captured;
    return m_error;
}

::testing::AssertionResult ServiceProcess::start(const Probe &probe, std::chrono::milliseconds deadline)
{
    m_name = m_options.name.empty() ? m_options.program.substr(m_options.program.rfind('/') + 1) : m_options.name;
    m_error.clear();
    if (m_pid > 0)
        return ::testing::AssertionFailure() << (m_error = m_name + " is already started");
    const std::string path = find(m_options.program);
    if (path.empty())
        return ::testing::AssertionFailure()
               << (m_error = m_name + ": program " + m_options.program + " not found on PATH (scripts/install-deps.sh installs the test services)");

    int out[2] = {-1, -1}, err[2] = {-1, -1}, notify[2] = {-1, -1}, in[2] = {-1, -1}, wake[2] = {-1, -1};
    bool piped = highPipe(out) && highPipe(err) && highPipe(wake);
    if (piped && m_options.notifyFd >= 0)
        piped = highPipe(notify);
    if (piped && m_options.pipeInput)
        piped = highPipe(in);
    if (!piped) {
        for (int *fds : {out, err, notify, in, wake}) {
            closeFd(fds[0]);
            closeFd(fds[1]);
        }
        return ::testing::AssertionFailure() << (m_error = m_name + ": no pipes for its output");
    }

    // The environment: the test's, without what is unset or replaced, plus the given entries.
    std::vector<std::string> names;
    for (const std::string &entry : m_options.environment)
        names.push_back(nameOf(entry));
    names.insert(names.end(), m_options.unset.begin(), m_options.unset.end());
    std::vector<std::string> environment;
    for (char **e = environ; e && *e; ++e) {
        const std::string entry = *e;
        bool drop = false;
        for (const std::string &name : names)
            drop = drop || nameOf(entry) == name;
        if (!drop)
            environment.push_back(entry);
    }
    environment.insert(environment.end(), m_options.environment.begin(), m_options.environment.end());
    std::vector<char *> envp;
    for (std::string &entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::vector<std::string> arguments = m_options.arguments;
    arguments.insert(arguments.begin(), m_options.program);
    std::vector<char *> argv;
    for (std::string &argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (m_options.pipeInput)
        posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    else
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    if (m_options.notifyFd >= 0)
        posix_spawn_file_actions_adddup2(&actions, notify[1], m_options.notifyFd);
    if (!m_options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, m_options.workingDirectory.c_str());
    // The test may block signals (a signalfd for SIGTERM, say); the service starts with none blocked.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGPIPE, SIGCHLD, SIGUSR1, SIGUSR2})
        sigaddset(&defaults, signal);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    const int spawned = ::posix_spawn(&m_pid, path.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    closeFd(out[1]);
    closeFd(err[1]);
    closeFd(notify[1]);
    closeFd(in[0]);
    if (spawned != 0) {
        m_pid = 0;
        for (int *fds : {out, err, notify, in, wake}) {
            closeFd(fds[0]);
            closeFd(fds[1]);
        }
        return ::testing::AssertionFailure() << (m_error = m_name + ": could not be started: " + std::strerror(spawned));
    }
    m_input = in[1];
    m_wakeRead = wake[0];
    m_wakeWrite = wake[1];
    {
        std::lock_guard guard(m_lock);
        m_output.clear();
        m_stdout.clear();
        m_notification.clear();
        m_outputEnded = false;
    }
    m_status.reset();
    m_reader = std::thread([this, outFd = out[0], errFd = err[0], notifyFd = notify[0]] { readLoop(outFd, errFd, notifyFd); });

    const auto end = Clock::now() + deadline;
    for (;;) {
        if (probe.ready && probe.ready(*this))
            return ::testing::AssertionSuccess();
        reap(false);
        if (m_status) {
            // Give the reader a moment to collect the last words.
            std::unique_lock lock(m_lock);
            m_changed.wait_for(lock, 500ms, [this] { return m_outputEnded; });
            lock.unlock();
            return ::testing::AssertionFailure()
                   << failure(describeStatus(*m_status) + " before it was ready (waiting for " + probe.description + ")");
        }
        if (Clock::now() >= end)
            return ::testing::AssertionFailure()
                   << failure("was not ready within " + std::to_string(deadline.count()) + " ms (waiting for "
                              + probe.description + ")");
        std::this_thread::sleep_for(20ms);
    }
}

void ServiceProcess::readLoop(int outFd, int errFd, int notifyFd)
{
    // Reads until every stream has ended, or the wake pipe says the process is gone; then takes
    // what is left without waiting (a grandchild may hold the pipes open for ever).
    int fds[3] = {outFd, errFd, notifyFd};
    bool woken = false;
    for (;;) {
        pollfd polls[4];
        int count = 0;
        for (int fd : fds)
            polls[count++] = {fd, fd >= 0 ? short(POLLIN) : short(0), 0};
        polls[count++] = {m_wakeRead, POLLIN, 0};
        if (fds[0] < 0 && fds[1] < 0 && fds[2] < 0)
            break;
        const int ready = ::poll(polls, nfds_t(count), woken ? 0 : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (polls[3].revents)
            woken = true;
        bool gotAny = false;
        for (int i = 0; i < 3; ++i) {
            if (fds[i] < 0 || !(polls[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            char buffer[4096];
            const ssize_t n = ::read(fds[i], buffer, sizeof buffer);
            if (n <= 0) {
                closeFd(fds[i]);
                continue;
            }
            gotAny = true;
            std::lock_guard guard(m_lock);
            if (i == 2) {
                m_notification.append(buffer, std::size_t(n));
            } else {
                m_output.append(buffer, std::size_t(n));
                if (i == 0)
                    m_stdout.append(buffer, std::size_t(n));
            }
            m_changed.notify_all();
        }
        if (woken && !gotAny)
            break;
    }
    for (int &fd : fds)
        closeFd(fd);
    std::lock_guard guard(m_lock);
    m_outputEnded = true;
    m_changed.notify_all();
}

void ServiceProcess::reap(bool block)
{
    if (m_pid <= 0 || m_status)
        return;
    int status = 0;
    pid_t result;
    do
        result = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    while (result < 0 && errno == EINTR);
    if (result == m_pid)
        m_status = status;
    else if (result < 0)
        m_status = -1; // reaped elsewhere; nothing left to wait for
}

bool ServiceProcess::running()
{
    reap(false);
    return m_pid > 0 && !m_status;
}

std::optional<int> ServiceProcess::exitStatus()
{
    reap(false);
    return m_status;
}

std::optional<int> ServiceProcess::waitForExit(std::chrono::milliseconds deadline)
{
    const auto end = Clock::now() + deadline;
    for (;;) {
        reap(false);
        if (m_status || m_pid <= 0 || Clock::now() >= end)
            break;
        std::this_thread::sleep_for(10ms);
    }
    if (m_status && m_reader.joinable()) {
        // The last output arrives before the streams end; wait a little for it.
        std::unique_lock lock(m_lock);
        m_changed.wait_for(lock, 1s, [this] { return m_outputEnded; });
    }
    return m_status;
}

int ServiceProcess::stop()
{
    if (m_pid <= 0)
        return -1;
    closeInput();
    if (m_options.pipeInput)
        waitForExit(m_options.stopDeadline); // closing stdin ends a program that reads it
    reap(false);
    if (!m_status) {
        ::kill(m_pid, SIGTERM);
        waitForExit(m_options.stopDeadline);
    }
    if (!m_status) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
    if (m_reader.joinable()) {
        {
            std::unique_lock lock(m_lock);
            m_changed.wait_for(lock, 500ms, [this] { return m_outputEnded; });
        }
        const char byte = 1;
        (void)!::write(m_wakeWrite, &byte, 1);
        m_reader.join();
    }
    closeFd(m_wakeRead);
    closeFd(m_wakeWrite);
    printOutputIfFailed();
    m_pid = 0;
    return m_status.value_or(-1);
}

void ServiceProcess::kill()
{
    if (m_pid > 0 && running()) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
}

void ServiceProcess::printOutputIfFailed()
{
    const ::testing::UnitTest *unit = ::testing::UnitTest::GetInstance();
    const bool failed = unit->current_test_info() ? ::testing::Test::HasFailure() : unit->failed_test_count() > 0;
    if (!failed)
        return;
    const std::string captured = output();
    std::cerr << "---- output of " << m_name << " (" << m_options.program << ", pid " << m_pid << ", "
              << (m_status ? describeStatus(*m_status) : std::string("still running")) << ") ----\n"
              << (captured.empty() ? std::string("(nothing)\n") : captured)
              << (captured.empty() || captured.back() == '\n' ? "" : "\n") << "---- end of " << m_name << " ----"
              << std::endl;
}

std::string ServiceProcess::output() const
{
    std::lock_guard guard(m_lock);
    return m_output;
}

std::string ServiceProcess::notification() const
{
    std::lock_guard guard(m_lock);
    return m_notification;
}

bool ServiceProcess::waitForOutput(const std::string &text, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, deadline, [&] { return m_output.find(text) != std::string::npos; });
}

std::optional<std::string> ServiceProcess::readLine(std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_lock);
    if (!m_changed.wait_for(lock, deadline,
                            [this] { return m_stdout.find('\n') != std::string::npos || m_outputEnded; }))
        return std::nullopt;
    const std::size_t end = m_stdout.find('\n');
    if (end == std::string::npos)
        return std::nullopt;
    std::string line = m_stdout.substr(0, end);
    m_stdout.erase(0, end + 1);
    return line;
}

bool ServiceProcess::writeInput(const std::string &bytes)
{
    std::size_t sent = 0;
    while (m_input >= 0 && sent < bytes.size()) {
        const ssize_t n = ::write(m_input, bytes.data() + sent, bytes.size() - sent);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return m_input >= 0;
}

void ServiceProcess::closeInput()
{
    closeFd(m_input);
}

} // namespace pixkey::test
