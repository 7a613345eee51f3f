// LocalHttpServer: a tiny HTTP/1.0 server on 127.0.0.1 for the weather tests. One connection at a
// time on its own thread; answers every request with the reply set last. Stops in its destructor.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class LocalHttpServer {
public:
    enum class Mode {
        Answer, // status line, Content-Length and the body
        Silent, // read the request, then say nothing until the client gives up
        Flood,  // a 200 with a body of `floodBytes` bytes, sent as fast as the client takes it,
                // its length announced or not (then the body runs until the connection closes)
    };

    LocalHttpServer();
    ~LocalHttpServer();

    int port() const { return m_port; }
    std::string host() const { return "127.0.0.1:" + std::to_string(m_port); }

    void answer(int status, std::string body);
    void silent();
    void flood(std::size_t bytes, bool announceLength = true);

    // Request paths received so far.
    std::vector<std::string> paths() const;

private:
    void run();
    void serve(int client);

    int m_listener = -1;
    int m_port = 0;
    std::atomic<bool> m_stop{false};
    mutable std::mutex m_lock;
    Mode m_mode = Mode::Answer;        // guarded by m_lock
    int m_status = 200;                // guarded by m_lock
    std::string m_body;                // guarded by m_lock
    std::size_t m_floodBytes = 0;      // guarded by m_lock
    bool m_announceLength = true;      // guarded by m_lock
    std::vector<std::string> m_paths;  // guarded by m_lock
    std::thread m_thread;
};
