#include "LoopbackHttpServer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>

LoopbackHttpServer::LoopbackHttpServer()
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (m_listener < 0)
        return;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::listen(m_listener, 16) != 0
        || ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(m_listener);
        m_listener = -1;
        return;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

LoopbackHttpServer::~LoopbackHttpServer()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        m_released = true;
    }
    m_changed.notify_all();
    if (m_thread.joinable())
        m_thread.join();
    if (m_listener >= 0)
        ::close(m_listener);
}

std::string LoopbackHttpServer::url(const std::string &path) const
{
    return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void LoopbackHttpServer::serve(const std::string &path, int status, const std::string &body, bool held)
{
    std::lock_guard lock(m_mutex);
    m_routes[path] = Route{status, body, held};
}

void LoopbackHttpServer::release()
{
    {
        std::lock_guard lock(m_mutex);
        m_released = true;
    }
    m_changed.notify_all();
}

int LoopbackHttpServer::requests(const std::string &path) const
{
    std::lock_guard lock(m_mutex);
    const auto it = m_requests.find(path);
    return it == m_requests.end() ? 0 : it->second;
}

bool LoopbackHttpServer::waitForHeldRequest(const std::string &path, int seconds)
{
    std::unique_lock lock(m_mutex);
    return m_changed.wait_for(lock, std::chrono::seconds(seconds), [&] { return m_holding[path] > 0; });
}

void LoopbackHttpServer::run()
{
    for (;;) {
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
        }
        pollfd fd{m_listener, POLLIN, 0};
        if (::poll(&fd, 1, 50) <= 0)
            continue;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        // One connection at a time is all the tests need; a held answer holds the others back.
        answer(client);
        ::close(client);
    }
}

void LoopbackHttpServer::answer(int client)
{
    std::string request;
    char buffer[2048];
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (request.find("\r\n\r\n") == std::string::npos && request.size() < 65536) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fd{client, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0)
            return;
        const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0)
            return;
        request.append(buffer, static_cast<std::size_t>(got));
    }
    // "GET /path HTTP/1.1"
    const std::size_t first = request.find(' ');
    const std::size_t second = first == std::string::npos ? first : request.find(' ', first + 1);
    if (second == std::string::npos)
        return;
    const std::string path = request.substr(first + 1, second - first - 1);

    Route route;
    {
        std::unique_lock lock(m_mutex);
        ++m_requests[path];
        const auto it = m_routes.find(path);
        if (it != m_routes.end())
            route = it->second;
        if (route.held) {
            ++m_holding[path];
            m_changed.notify_all();
            m_changed.wait_for(lock, std::chrono::seconds(20), [this] { return m_released; });
            --m_holding[path];
        }
    }

    std::string reply = "HTTP/1.0 " + std::to_string(route.status) + (route.status == 200 ? " OK" : " Error")
                        + "\r\nContent-Type: application/octet-stream\r\nContent-Length: "
                        + std::to_string(route.body.size()) + "\r\nConnection: close\r\n\r\n" + route.body;
    std::size_t sent = 0;
    while (sent < reply.size()) {
        const ssize_t n = ::send(client, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<std::size_t>(n);
    }
}
