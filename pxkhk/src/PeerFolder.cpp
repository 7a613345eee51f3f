#include "PeerFolder.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pixkey {

namespace {

constexpr const char *kPrefix = "cfg-";
constexpr const char *kSuffix = ".sock";

std::atomic<unsigned> nextSocketNumber{0};

bool fillAddress(const std::string &path, sockaddr_un &address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

bool isConfiguratorName(const char *name)
{
    const std::size_t length = std::strlen(name);
    const std::size_t prefix = std::strlen(kPrefix), suffix = std::strlen(kSuffix);
    return length > prefix + suffix && std::strncmp(name, kPrefix, prefix) == 0
        && std::strcmp(name + length - suffix, kSuffix) == 0;
}

} // namespace

PeerFolder::PeerFolder(std::string folder) : m_path(std::move(folder))
{
    if (!m_path.empty())
        return;
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        m_path = std::string(runtime) + "/pixkey";
    else
        m_path = "/tmp/pixkey-" + std::to_string(::geteuid());
}

bool PeerFolder::prepare(std::string &error) const
{
    if (::mkdir(m_path.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "cannot create " + m_path + ": " + std::strerror(errno);
        return false;
    }
    struct stat info {};
    if (::lstat(m_path.c_str(), &info) != 0) {
        error = "cannot examine " + m_path + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(info.st_mode)) {
        error = m_path + " is not a directory";
        return false;
    }
    if (info.st_uid != ::geteuid()) {
        error = m_path + " belongs to another user";
        return false;
    }
    if ((info.st_mode & 0077) != 0 || (info.st_mode & 0700) != 0700) {
        error = m_path + " must have mode 0700";
        return false;
    }
    return true;
}

std::vector<std::string> PeerFolder::sockets() const
{
    std::vector<std::string> result;
    DIR *dir = ::opendir(m_path.c_str());
    if (!dir)
        return result;
    while (const dirent *entry = ::readdir(dir)) {
        if (isConfiguratorName(entry->d_name))
            result.push_back(m_path + "/" + entry->d_name);
    }
    ::closedir(dir);
    std::sort(result.begin(), result.end());
    return result;
}

int PeerFolder::listen(std::string &socketPath, std::string &error) const
{
    const std::string tag = std::to_string(::getpid()) + "-" + std::to_string(nextSocketNumber++);
    const std::string temporary = m_path + "/tmp-" + tag;
    const std::string final = m_path + "/" + kPrefix + tag + kSuffix;
    sockaddr_un address;
    // The final name must fit too, since peers connect to it.
    sockaddr_un finalAddress;
    if (!fillAddress(final, finalAddress) || !fillAddress(temporary, address)) {
        error = "socket path too long in " + m_path;
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + std::strerror(errno);
        return -1;
    }
    ::unlink(temporary.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(fd, 16) != 0 || ::rename(temporary.c_str(), final.c_str()) != 0) {
        error = "cannot listen in " + m_path + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
        ::close(fd);
        return -1;
    }
    socketPath = final;
    return fd;
}

bool PeerFolder::sameUser(int fd)
{
    ucred credentials {};
    socklen_t length = sizeof credentials;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    return credentials.uid == ::geteuid();
}

PeerFolder::Probe PeerFolder::connect(const std::string &socketPath, std::chrono::milliseconds timeout, int &fd)
{
    fd = -1;
    struct stat info {};
    if (::lstat(socketPath.c_str(), &info) != 0 || !S_ISSOCK(info.st_mode) || info.st_uid != ::geteuid())
        return Probe::Unreachable;
    sockaddr_un address;
    if (!fillAddress(socketPath, address))
        return Probe::Unreachable;

    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const int s = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s < 0)
            return Probe::Unreachable;
        if (::connect(s, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
            if (!sameUser(s)) {
                ::close(s);
                return Probe::Unreachable;
            }
            fd = s;
            return Probe::Live;
        }
        const int failure = errno;
        ::close(s);
        if (failure == ECONNREFUSED) {
            ::unlink(socketPath.c_str());
            return Probe::Stale;
        }
        // A full backlog: the listener is alive but busy; try again for a while.
        if (failure != EAGAIN || std::chrono::steady_clock::now() >= deadline)
            return Probe::Unreachable;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

} // namespace pixkey
