// LocalHttpServer: a small HTTP/1.0 server on 127.0.0.1 for the download tests. Each connection
// is answered by the route its path names; routes may stall until the server stops, so time-outs
// can be tested without waiting on a clock.
#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace pixkey::test {

class LocalHttpServer {
public:
    // A route gets the request head and writes the whole answer (status line, headers, body) to the socket.
    using Route = std::function<void(int socket, const std::string &request, LocalHttpServer &server)>;

    LocalHttpServer();
    ~LocalHttpServer(); // stops: stalled routes wake up, every thread is joined

    void addRoute(const std::string &path, Route route);
    // Convenience: a complete answer with the given status and body.
    void addAnswer(const std::string &path, int status, const std::string &body,
                   const std::string &extraHeaders = std::string());

    int port() const { return m_port; }
    std::string url(const std::string &path) const;

    // For routes: blocks until the server stops.
    void stallUntilStopped();
    bool stopping() const { return m_stopping; }
    static bool sendAll(int socket, const std::string &bytes);

private:
    void acceptLoop();
    void serve(int socket);

    int m_listener = -1;
    int m_port = 0;
    int m_wakePipe[2] = {-1, -1};
    std::atomic<bool> m_stopping{false};
    std::mutex m_lock;                   // guards m_routes, m_workers
    std::condition_variable m_stopped;   // signalled (with m_lock) when stopping
    std::map<std::string, Route> m_routes;
    std::vector<std::thread> m_workers;
    std::thread m_acceptor;
};

// A port on 127.0.0.1 on which nothing listens (bound, then closed again).
int unusedLoopbackPort();

} // namespace pixkey::test
