// swayCommand: runs a sway command over its IPC socket, as swaymsg does, and returns sway's JSON
// answer (empty when there was none within five seconds). For the tests that move the focus.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

namespace pixkey::test {

inline std::string swayCommand(const std::string &socketPath, const std::string &command, std::uint32_t type = 0)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path)
        return {};
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    timeval bound{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    std::string answer;
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0) {
        std::string message = "i3-ipc";
        const std::uint32_t length = std::uint32_t(command.size());
        message.append(reinterpret_cast<const char *>(&length), 4);
        message.append(reinterpret_cast<const char *>(&type), 4);
        message += command;
        if (::send(fd, message.data(), message.size(), MSG_NOSIGNAL) == ssize_t(message.size())) {
            std::string bytes;
            char buffer[4096];
            std::uint32_t wanted = 0;
            for (;;) {
                const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
                if (n <= 0)
                    break;
                bytes.append(buffer, std::size_t(n));
                if (bytes.size() >= 14) {
                    std::memcpy(&wanted, bytes.data() + 6, 4);
                    if (bytes.size() >= 14 + wanted) {
                        answer = bytes.substr(14, wanted);
                        break;
                    }
                }
            }
        }
    }
    ::close(fd);
    return answer;
}

} // namespace pixkey::test
