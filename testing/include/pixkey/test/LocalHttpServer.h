// LocalHttpServer: an HTTP/1.0 server inside the test process, for code that downloads.
//
// Starts: in the constructor, listening on 127.0.0.1 only, on a port the kernel picks (port(),
// url(path)); one thread accepts, one thread serves each connection (one request, then the
// connection closes).
// Ready: as soon as the constructor returns (the socket listens before it does).
// Stops: stop() or the destructor: held, slow and hanging answers and streamed bodies end at once,
// every thread is joined.
//
// Answers are chosen by the request target: an exact match (path with query) first, then the path
// without its query, then the fallback, else 404. An answer may be slow, held until release(),
// hang, redirect, declare a charset, stream an oversized or endless body without holding it in
// memory, or be raw bytes (a broken server).
//
// Threads: every member may be called from any thread; handlers run on the connection threads.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace pixkey::test {

// One request as received: the request line's parts and the whole head.
struct HttpRequest {
    std::string method;  // "GET"
    std::string target;  // path with query, as sent: "/feed.xml?page=2"
    std::string head;    // request line and headers, up to the blank line
    std::string path() const;  // target without the query
    std::string query() const; // after '?', or empty
    // The value of a header (name compared without case), or empty.
    std::string header(const std::string &name) const;
};

// What the server answers. Build it field by field or with the helpers below.
struct HttpAnswer {
    enum class Hang {
        No,
        BeforeHead, // say nothing until the client hangs up or the server stops
        AfterBody,  // send the answer, then keep the connection open until the server stops
    };

    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers; // sent in order, e.g. Content-Type
    std::string body;
    bool announceLength = true;       // send Content-Length
    std::int64_t contentLength = -1;  // announce this length instead of the real one (a lying server)
    std::chrono::milliseconds delay{0}; // slow: silent this long after the request, then answers
    bool held = false;                // silent until release() (or stop), then answers
    Hang hang = Hang::No;
    // Streamed body: `streamBytes` bytes made of `streamBlock` repeated (a body far larger than
    // memory may be); `endless` streams until the client hangs up or the server stops. Either
    // replaces `body`.
    std::uint64_t streamBytes = 0;
    bool endless = false;
    std::string streamBlock = std::string(64 * 1024, 'x');
    std::string raw; // when set, exactly these bytes are sent instead of an answer

    HttpAnswer &header(std::string name, std::string value);

    // `status` with `body` of `contentType` (its charset declared in it, e.g. "text/html; charset=windows-1251").
    static HttpAnswer text(int status, std::string body, std::string contentType = "text/plain; charset=utf-8");
    // 3xx with Location.
    static HttpAnswer redirect(std::string location, int status = 302);
    // Reads the request and never answers.
    static HttpAnswer hanging();
    // `answer` after `delay`.
    static HttpAnswer slow(std::chrono::milliseconds delay, HttpAnswer answer);
    // `answer` once the test calls LocalHttpServer::release().
    static HttpAnswer whenReleased(HttpAnswer answer);
    // A 200 whose body is `bytes` long, streamed; `block` is repeated to fill it.
    static HttpAnswer oversized(std::uint64_t bytes, bool announceLength = true,
                                std::string contentType = "application/octet-stream",
                                std::string block = std::string(64 * 1024, 'x'));
    // A 200 without length whose body never ends.
    static HttpAnswer endlessBody(std::string contentType = "application/octet-stream");
    // Exactly `bytes`, then the connection closes.
    static HttpAnswer rawBytes(std::string bytes);
};

class LocalHttpServer {
public:
    using Handler = std::function<HttpAnswer(const HttpRequest &)>;

    LocalHttpServer(); // throws std::runtime_error when no loopback socket can be had
    ~LocalHttpServer();
    LocalHttpServer(const LocalHttpServer &) = delete;
    LocalHttpServer &operator=(const LocalHttpServer &) = delete;

    int port() const { return m_port; }
    std::string host() const;                       // "127.0.0.1:PORT"
    std::string url(const std::string &path) const; // "http://127.0.0.1:PORT" + path

    // The same answer to every request for `path`.
    void answer(const std::string &path, HttpAnswer answer);
    void answer(const std::string &path, int status, std::string body,
                std::string contentType = "text/plain; charset=utf-8");
    // An answer made per request.
    void route(const std::string &path, Handler handler);
    // For every path without its own answer (instead of 404).
    void fallback(Handler handler);
    void fallback(HttpAnswer answer);

    // Lets held answers go (and every later one).
    void release();
    // Ends every connection and joins the threads; later requests are refused.
    void stop();
    bool stopping() const { return m_stopping; }

    int requestCount() const;
    // Requests whose target, or whose path without the query, is `path`.
    int requestCount(const std::string &path) const;
    std::vector<std::string> requestTargets() const; // in order of arrival
    std::vector<HttpRequest> requests() const;
    // Waits until `path` has received `count` requests.
    bool waitForRequests(const std::string &path, int count,
                         std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;
    // Waits until a request for `path` is being held.
    bool waitForHeld(const std::string &path, std::chrono::milliseconds deadline = std::chrono::seconds(10)) const;

    // A port on 127.0.0.1 on which nothing listens (bound, then closed again).
    static int unusedPort();

private:
    void acceptLoop();
    void serve(int socket);
    Handler handlerFor(const HttpRequest &request) const;
    bool waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline);
    bool send(int socket, const char *data, std::size_t size);
    bool sendAnswer(int socket, const HttpAnswer &answer);

    int m_listener = -1;
    int m_port = 0;
    int m_stopPipe[2] = {-1, -1}; // readable once stopping
    std::atomic<bool> m_stopping{false};
    std::thread m_acceptor;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    std::map<std::string, Handler> m_handlers; // guarded by m_lock
    Handler m_fallback;                        // guarded by m_lock
    bool m_released = false;                   // guarded by m_lock
    std::vector<HttpRequest> m_requests;       // guarded by m_lock
    std::map<std::string, int> m_holding;      // guarded by m_lock: held requests by target
    std::vector<std::thread> m_workers;        // guarded by m_lock
};

} // namespace pixkey::test
