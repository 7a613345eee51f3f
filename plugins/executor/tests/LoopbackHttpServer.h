// LoopbackHttpServer: a tiny HTTP/1.0 server on 127.0.0.1 for tests, on a port the system picks.
// Serves fixed answers by path, counts the requests each path received, and can hold a path's
// answer back until the test releases it (a slow server). Every wait inside is bounded.
#pragma once

#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <thread>

class LoopbackHttpServer {
public:
    LoopbackHttpServer();
    ~LoopbackHttpServer();
    LoopbackHttpServer(const LoopbackHttpServer &) = delete;
    LoopbackHttpServer &operator=(const LoopbackHttpServer &) = delete;

    bool isRunning() const { return m_listener >= 0; }
    int port() const { return m_port; }
    std::string url(const std::string &path) const;

    // Answers GET `path` with `status` and `body`. With `held`, the answer waits until release()
    // (or at most 20 s).
    void serve(const std::string &path, int status, const std::string &body, bool held = false);
    void release();

    int requests(const std::string &path) const;
    // Waits (at most `seconds`) until `path` has received a request that is being held.
    bool waitForHeldRequest(const std::string &path, int seconds);

private:
    struct Route {
        int status = 404;
        std::string body;
        bool held = false;
    };

    void run();
    void answer(int client);

    int m_listener = -1;
    int m_port = 0;
    std::thread m_thread;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_stop = false;                 // guarded by m_mutex
    bool m_released = false;             // guarded by m_mutex
    std::map<std::string, Route> m_routes;   // guarded by m_mutex
    std::map<std::string, int> m_requests;   // guarded by m_mutex
    std::map<std::string, int> m_holding;    // guarded by m_mutex: requests waiting for release
};
