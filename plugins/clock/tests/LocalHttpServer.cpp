#include "LocalHttpServer.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace {

// Waits up to 50 ms for `events` on `fd`; false on timeout.
bool ready(int fd, short events)
{
    pollfd p{fd, events, 0};
    return ::poll(&p, 1, 50) > 0;
}

bool sendAll(int fd, const char *data, std::size_t size, const std::atomic<bool> &stop)
{
    while (size > 0) {
        if (stop)
            return false;
        if (!ready(fd, POLLOUT))
            continue;
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

} // namespace

LocalHttpServer::LocalHttpServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM, 0);
    if (m_listener < 0)
        throw std::runtime_error("socket");
    int yes = 1;
    ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 8) != 0)
        throw std::runtime_error("bind/listen");
    socklen_t length = sizeof address;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length);
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

LocalHttpServer::~LocalHttpServer()
{
    m_stop = true;
    m_thread.join();
    ::close(m_listener);
}

void LocalHttpServer::answer(int status, std::string body)
{
    std::lock_guard lock(m_lock);
    m_mode = Mode::Answer;
    m_status = status;
    m_body = std::move(body);
}

void LocalHttpServer::silent()
{
    std::lock_guard lock(m_lock);
    m_mode = Mode::Silent;
}

void LocalHttpServer::flood(std::size_t bytes, bool announceLength)
{
    std::lock_guard lock(m_lock);
    m_mode = Mode::Flood;
    m_floodBytes = bytes;
    m_announceLength = announceLength;
}

std::vector<std::string> LocalHttpServer::paths() const
{
    std::lock_guard lock(m_lock);
    return m_paths;
}

void LocalHttpServer::run()
{
    while (!m_stop) {
        if (!ready(m_listener, POLLIN))
            continue;
        const int client = ::accept(m_listener, nullptr, nullptr);
        if (client < 0)
            continue;
        serve(client);
        ::close(client);
    }
}

void LocalHttpServer::serve(int client)
{
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        if (m_stop)
            return;
        if (!ready(client, POLLIN))
            continue;
        const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
        if (n <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(n));
    }
    Mode mode;
    int status;
    std::string body;
    std::size_t floodBytes;
    bool announceLength;
    {
        std::lock_guard lock(m_lock);
        const auto space = request.find(' ');
        const auto end = request.find(' ', space + 1);
        if (space != std::string::npos && end != std::string::npos)
            m_paths.push_back(request.substr(space + 1, end - space - 1));
        mode = m_mode;
        status = m_status;
        body = m_body;
        floodBytes = m_floodBytes;
        announceLength = m_announceLength;
    }

    if (mode == Mode::Silent) {
        // Hold the connection open, saying nothing, until the client hangs up or the test ends.
        while (!m_stop) {
            if (ready(client, POLLIN) && ::recv(client, buffer, sizeof buffer, 0) <= 0)
                return;
        }
        return;
    }
    if (mode == Mode::Flood) {
        const std::string head = "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n" +
                                 (announceLength ? "Content-Length: " + std::to_string(floodBytes) + "\r\n"
                                                 : std::string()) +
                                 "\r\n";
        if (!sendAll(client, head.data(), head.size(), m_stop))
            return;
        std::string chunk(64 * 1024, 'x');
        std::memcpy(chunk.data(), "<TEMPERATURE max=\"1\" min=\"1\"/>", 30);
        for (std::size_t sent = 0; sent < floodBytes; sent += chunk.size()) {
            if (!sendAll(client, chunk.data(), std::min(chunk.size(), floodBytes - sent), m_stop))
                return;
        }
        return;
    }
    const std::string reply = "HTTP/1.0 " + std::to_string(status) + " " + reason(status) +
                              "\r\nContent-Type: text/xml\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
    sendAll(client, reply.data(), reply.size(), m_stop);
}
