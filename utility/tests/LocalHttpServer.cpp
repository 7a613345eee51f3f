#include "LocalHttpServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace pixkey::test {

namespace {

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 302: return "Found";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    default: return "Status";
    }
}

int bindLoopback(int *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        throw std::runtime_error("bind failed");
    }
    socklen_t length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    *port = ntohs(address.sin_port);
    return fd;
}

} // namespace

int unusedLoopbackPort()
{
    int port = 0;
    const int fd = bindLoopback(&port);
    ::close(fd);
    return port;
}

LocalHttpServer::LocalHttpServer()
{
    m_listener = bindLoopback(&m_port);
    if (::listen(m_listener, 16) != 0 || ::pipe2(m_wakePipe, O_CLOEXEC) != 0)
        throw std::runtime_error("listen failed");
    m_acceptor = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer()
{
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_stopping = true;
    }
    m_stopped.notify_all();
    const char byte = 1;
    (void)!::write(m_wakePipe[1], &byte, 1);
    m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        workers.swap(m_workers);
    }
    for (std::thread &worker : workers)
        worker.join();
    ::close(m_listener);
    ::close(m_wakePipe[0]);
    ::close(m_wakePipe[1]);
}

void LocalHttpServer::addRoute(const std::string &path, Route route)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_routes[path] = std::move(route);
}

void LocalHttpServer::addAnswer(const std::string &path, int status, const std::string &body,
                                const std::string &extraHeaders)
{
    addRoute(path, [status, body, extraHeaders](int socket, const std::string &, LocalHttpServer &) {
        std::string answer = "HTTP/1.0 " + std::to_string(status) + " " + reason(status) + "\r\n"
            + "Content-Length: " + std::to_string(body.size()) + "\r\n" + extraHeaders
            + "Connection: close\r\n\r\n" + body;
        sendAll(socket, answer);
    });
}

std::string LocalHttpServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void LocalHttpServer::stallUntilStopped()
{
    std::unique_lock<std::mutex> lock(m_lock);
    m_stopped.wait(lock, [this] { return m_stopping.load(); });
}

bool LocalHttpServer::sendAll(int socket, const std::string &bytes)
{
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n = ::send(socket, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        sent += std::size_t(n);
    }
    return true;
}

void LocalHttpServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            break;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        std::lock_guard<std::mutex> guard(m_lock);
        m_workers.emplace_back([this, socket] { serve(socket); });
    }
}

void LocalHttpServer::serve(int socket)
{
    // Read the request head (bounded; a second of silence ends the wait).
    std::string request;
    char buffer[4096];
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        pollfd fd{socket, POLLIN, 0};
        if (::poll(&fd, 1, 5000) <= 0)
            break;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        request.append(buffer, std::size_t(n));
    }
    std::string path;
    const std::size_t space = request.find(' ');
    if (space != std::string::npos)
        path = request.substr(space + 1, request.find(' ', space + 1) - space - 1);
    Route route;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        auto it = m_routes.find(path);
        if (it != m_routes.end())
            route = it->second;
    }
    if (route) {
        route(socket, request, *this);
    } else {
        sendAll(socket, "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n");
    }
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
}

} // namespace pixkey::test
