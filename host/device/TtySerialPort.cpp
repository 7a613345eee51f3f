#include "TtySerialPort.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace pixkey {

namespace {

using Clock = std::chrono::steady_clock;

int remainingMs(Clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(std::min<long long>(left, 1 << 30));
}

std::string groupOwning(const std::string &path)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0)
        return {};
    struct group gr{};
    struct group *found = nullptr;
    char buffer[1024];
    if (getgrgid_r(st.st_gid, &gr, buffer, sizeof buffer, &found) != 0 || !found)
        return std::to_string(st.st_gid);
    return found->gr_name;
}

} // namespace

std::string TtySerialPort::openErrorText(const std::string &path, int error)
{
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return path + " does not exist";
    case EACCES:
    case EPERM: {
        std::string group = groupOwning(path);
        if (group.empty())
            group = "dialout";
        // Both ways out in one sentence: the package's udev rule, which gives the user at the
        // seat the adapter, or membership of the group that owns the port.
        const bool ruleInstalled = ::access("/usr/lib/udev/rules.d/70-pixkey-mini.rules", F_OK) == 0 ||
                                   ::access("/lib/udev/rules.d/70-pixkey-mini.rules", F_OK) == 0;
        const std::string rule = ruleInstalled
            ? "plug the keypad in again so that the udev rule of the pixkey-mini package gives it to the "
              "user at the seat"
            : "install the pixkey-mini package, whose udev rule gives the keypad to the user at the seat, "
              "and plug the keypad in again";
        return "permission denied for " + path + ": " + rule + ", or add your user to the group \"" + group +
               "\" that owns the port and log in again";
    }
    case EBUSY:
    case EWOULDBLOCK:
        return path + " is busy: another program is using it";
    default:
        return "cannot open " + path + ": " + std::strerror(error);
    }
}

TtySerialPort::~TtySerialPort() { ClosePort(); }

bool TtySerialPort::openPath(const std::string &path)
{
    // Non-blocking, so that the open does not wait for a carrier and every wait below is a poll().
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        m_lastOpenError = openErrorText(path, errno);
        return false;
    }
    if (!::isatty(fd)) {
        ::close(fd);
        m_lastOpenError = path + " is not a serial device (not a tty)";
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        ::close(fd);
        m_lastOpenError = openErrorText(path, error == EWOULDBLOCK ? EBUSY : error);
        return false;
    }
    // The second descriptor is opened before TIOCEXCL, which would refuse it. It is opened
    // non-blocking like the first, so that the open itself cannot wait for a carrier, and made
    // blocking afterwards. Without it every wait is a poll.
    int waitFd = m_waitInRead ? ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC) : -1;
    if (waitFd >= 0) {
        const int flags = ::fcntl(waitFd, F_GETFL);
        if (flags < 0 || ::fcntl(waitFd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
            ::close(waitFd);
            waitFd = -1;
        }
    }
    ::ioctl(fd, TIOCEXCL); // later opens by others fail with EBUSY while we hold it

    termios t{};
    if (::tcgetattr(fd, &t) == 0) {
        // Raw 8N1 at 1,000,000 baud. Hardware flow control stays as the driver has it; CREAD and
        // CLOCAL are what a raw three-wire link needs to receive and to ignore modem lines.
        const tcflag_t flow = t.c_cflag & CRTSCTS;
        ::cfmakeraw(&t);
        t.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
        t.c_cflag |= CS8 | CREAD | CLOCAL | flow;
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = 0;
        ::cfsetispeed(&t, B1000000);
        ::cfsetospeed(&t, B1000000);
        (void)::tcsetattr(fd, TCSANOW, &t); // a driver that refuses keeps its own settings
    }
    m_fd = fd;
    m_waitFd = waitFd;
    m_vtime = -1;
    return true;
}

void TtySerialPort::ClosePort()
{
    if (m_fd < 0)
        return;
    ::ioctl(m_fd, TIOCNXCL);
    if (m_waitFd >= 0)
        ::close(m_waitFd);
    ::close(m_fd); // also drops the flock
    m_fd = m_waitFd = -1;
    m_vtime = -1;
}

bool TtySerialPort::WriteBytes(const uint8_t *bytes, size_t n, size_t &written)
{
    written = 0;
    if (m_fd < 0)
        return false;
    const auto deadline = Clock::now() + writeLimit();
    while (written < n) {
        const ssize_t r = ::write(m_fd, bytes + written, n - written);
        if (r > 0) {
            written += static_cast<size_t>(r);
            continue;
        }
        if (r < 0 && errno == EINTR)
            continue;
        if (r < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p{m_fd, POLLOUT, 0};
        const int ms = remainingMs(deadline);
        if (ms == 0)
            return true; // the write limit ran out; the caller sees the short count
        const int pr = ::poll(&p, 1, ms);
        if (pr < 0 && errno != EINTR)
            return false;
        if (pr > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)) && !(p.revents & POLLOUT))
            return false;
    }
    return true;
}

bool TtySerialPort::waitOnBlockingRead(uint8_t &byte, bool &got, int tenths)
{
    got = false;
    if (m_vtime != tenths) {
        termios t{};
        if (::tcgetattr(m_fd, &t) != 0)
            return true; // the caller's poll does the waiting
        t.c_cc[VMIN] = 0;
        t.c_cc[VTIME] = static_cast<cc_t>(tenths);
        if (::tcsetattr(m_fd, TCSANOW, &t) != 0)
            return true;
        m_vtime = tenths;
    }
    for (int retry = 0;; ++retry) {
        const ssize_t r = ::read(m_waitFd, &byte, 1);
        if (r == 1) {
            got = true;
            return true;
        }
        if (r < 0)
            // Interrupted: the caller's poll waits out the rest. Anything else means the device
            // is gone (a pseudo-terminal whose other end closed says EIO).
            return errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK;
        // Nothing within VTIME, or a driver that reports a hang-up as end of file: ask poll which.
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 0) < 0)
            return errno == EINTR;
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL))
            return false;
        if (!(p.revents & POLLIN) || retry > 0)
            return true; // the time ran out (a byte that came just then is read by the next call)
    }
}

bool TtySerialPort::readByteWithin(uint8_t &byte, bool &got, std::chrono::milliseconds timeout)
{
    got = false;
    if (m_fd < 0)
        return false;
    const auto deadline = Clock::now() + timeout;
    // Waits of a tenth of a second and more, such as for the answer to a packet, wait in the
    // blocking read; what VTIME cannot express (the rest below a tenth, or beyond 25.5 s) is
    // waited for by the poll below.
    if (m_waitFd >= 0 && timeout >= std::chrono::milliseconds(100)) {
        const int tenths = static_cast<int>(std::min<long long>(timeout.count() / 100, 255));
        if (!waitOnBlockingRead(byte, got, tenths))
            return false;
        if (got)
            return true;
    }
    for (;;) {
        pollfd p{m_fd, POLLIN, 0};
        const int pr = ::poll(&p, 1, remainingMs(deadline));
        if (pr < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (pr == 0)
            return true;
        if (!(p.revents & POLLIN))
            return false; // hung up or in error without data: the device is gone
        const ssize_t r = ::read(m_fd, &byte, 1);
        if (r == 1) {
            got = true;
            return true;
        }
        if (r == 0)
            return false; // end of file: hung up
        if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) {
            if (remainingMs(deadline) == 0)
                return true;
            continue;
        }
        return false;
    }
}

} // namespace pixkey
