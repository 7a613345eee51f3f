#include "IpcStream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace pixkey {

bool IpcStream::connect(const std::string &path, std::string &error)
{
    close();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) {
        error = "no usable socket path \"" + path + "\"";
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("no socket: ") + std::strerror(errno);
        return false;
    }
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 && errno != EINPROGRESS
        && errno != EAGAIN) {
        error = "cannot connect to " + path + ": " + std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void IpcStream::close()
{
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_out.clear();
}

short IpcStream::events() const
{
    return short(POLLIN | (m_out.empty() ? 0 : POLLOUT));
}

IpcStream::Status IpcStream::pump(std::string &in, std::size_t limit, std::string &error)
{
    if (m_fd < 0)
        return Status::Closed;
    while (!m_out.empty()) {
        const ssize_t n = ::send(m_fd, m_out.data(), m_out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            m_out.erase(0, std::size_t(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTCONN))
            break; // the rest when the socket takes it (or the connect completes)
        error = std::string("cannot send: ") + std::strerror(errno);
        return Status::Failed;
    }
    char buffer[16384];
    while (in.size() < limit) {
        const ssize_t n = ::recv(m_fd, buffer, std::min(sizeof buffer, limit - in.size()), MSG_DONTWAIT);
        if (n > 0) {
            in.append(buffer, std::size_t(n));
            continue;
        }
        if (n == 0)
            return Status::Closed;
        if (errno == EINTR)
            continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ENOTCONN)
            return Status::Open;
        error = std::string("cannot read: ") + std::strerror(errno);
        return Status::Failed;
    }
    return Status::Open;
}

} // namespace pixkey
