#include <pixkey/test/LocalHttpServer.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace pixkey::test {

namespace {

using Clock = std::chrono::steady_clock;

const char *reason(int status)
{
    switch (status) {
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 303: return "See Other";
    case 304: return "Not Modified";
    case 307: return "Temporary Redirect";
    case 308: return "Permanent Redirect";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 500: return "Internal Server Error";
    case 503: return "Service Unavailable";
    default: return "Status";
    }
}

int bindLoopback(int *port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        throw std::runtime_error("LocalHttpServer: no socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0
        || ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        ::close(fd);
        throw std::runtime_error("LocalHttpServer: cannot bind 127.0.0.1");
    }
    *port = ntohs(address.sin_port);
    return fd;
}

std::string lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

} // namespace

std::string HttpRequest::path() const
{
    return target.substr(0, target.find('?'));
}

std::string HttpRequest::query() const
{
    const std::size_t mark = target.find('?');
    return mark == std::string::npos ? std::string() : target.substr(mark + 1);
}

std::string HttpRequest::header(const std::string &name) const
{
    const std::string wanted = lower(name) + ":";
    std::size_t start = head.find("\r\n");
    while (start != std::string::npos) {
        start += 2;
        const std::size_t end = head.find("\r\n", start);
        const std::string line = head.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (lower(line.substr(0, wanted.size())) == wanted) {
            std::string value = line.substr(wanted.size());
            value.erase(0, value.find_first_not_of(" \t"));
            value.erase(value.find_last_not_of(" \t") + 1);
            return value;
        }
        start = end;
    }
    return std::string();
}

HttpAnswer &HttpAnswer::header(std::string name, std::string value)
{
    headers.emplace_back(std::move(name), std::move(value));
    return *this;
}

HttpAnswer HttpAnswer::text(int status, std::string body, std::string contentType)
{
    HttpAnswer answer;
    answer.status = status;
    answer.body = std::move(body);
    if (!contentType.empty())
        answer.header("Content-Type", std::move(contentType));
    return answer;
}

HttpAnswer HttpAnswer::redirect(std::string location, int status)
{
    HttpAnswer answer;
    answer.status = status;
    answer.header("Location", std::move(location));
    return answer;
}

HttpAnswer HttpAnswer::hanging()
{
    HttpAnswer answer;
    answer.hang = Hang::BeforeHead;
    return answer;
}

HttpAnswer HttpAnswer::slow(std::chrono::milliseconds delay, HttpAnswer answer)
{
    answer.delay = delay;
    return answer;
}

HttpAnswer HttpAnswer::whenReleased(HttpAnswer answer)
{
    answer.held = true;
    return answer;
}

HttpAnswer HttpAnswer::oversized(std::uint64_t bytes, bool announceLength, std::string contentType, std::string block)
{
    HttpAnswer answer = text(200, std::string(), std::move(contentType));
    answer.streamBytes = bytes;
    answer.announceLength = announceLength;
    if (!block.empty())
        answer.streamBlock = std::move(block);
    return answer;
}

HttpAnswer HttpAnswer::endlessBody(std::string contentType)
{
    HttpAnswer answer = text(200, std::string(), std::move(contentType));
    answer.endless = true;
    answer.announceLength = false;
    return answer;
}

HttpAnswer HttpAnswer::rawBytes(std::string bytes)
{
    HttpAnswer answer;
    answer.raw = std::move(bytes);
    return answer;
}

LocalHttpServer::LocalHttpServer()
{
    m_listener = bindLoopback(&m_port);
    if (::listen(m_listener, 64) != 0 || ::pipe2(m_stopPipe, O_CLOEXEC) != 0) {
        ::close(m_listener);
        throw std::runtime_error("LocalHttpServer: cannot listen");
    }
    m_acceptor = std::thread([this] { acceptLoop(); });
}

LocalHttpServer::~LocalHttpServer()
{
    stop();
    ::close(m_listener);
    ::close(m_stopPipe[0]);
    ::close(m_stopPipe[1]);
}

void LocalHttpServer::stop()
{
    {
        std::lock_guard guard(m_lock);
        if (m_stopping.exchange(true))
            return;
    }
    m_changed.notify_all();
    const char byte = 1;
    (void)!::write(m_stopPipe[1], &byte, 1);
    m_acceptor.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard guard(m_lock);
        workers.swap(m_workers);
    }
    for (std::thread &worker : workers)
        worker.join();
}

std::string LocalHttpServer::host() const
{
    return "127.0.0.1:" + std::to_string(m_port);
}

std::string LocalHttpServer::url(const std::string &path) const
{
    return "http://" + host() + path;
}

void LocalHttpServer::answer(const std::string &path, HttpAnswer answer)
{
    route(path, [answer = std::move(answer)](const HttpRequest &) { return answer; });
}

void LocalHttpServer::answer(const std::string &path, int status, std::string body, std::string contentType)
{
    answer(path, HttpAnswer::text(status, std::move(body), std::move(contentType)));
}

void LocalHttpServer::route(const std::string &path, Handler handler)
{
    std::lock_guard guard(m_lock);
    m_handlers[path] = std::move(handler);
}

void LocalHttpServer::fallback(Handler handler)
{
    std::lock_guard guard(m_lock);
    m_fallback = std::move(handler);
}

void LocalHttpServer::fallback(HttpAnswer answer)
{
    fallback([answer = std::move(answer)](const HttpRequest &) { return answer; });
}

void LocalHttpServer::release()
{
    {
        std::lock_guard guard(m_lock);
        m_released = true;
    }
    m_changed.notify_all();
}

int LocalHttpServer::requestCount() const
{
    std::lock_guard guard(m_lock);
    return int(m_requests.size());
}

int LocalHttpServer::requestCount(const std::string &path) const
{
    std::lock_guard guard(m_lock);
    return int(std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const HttpRequest &r) { return r.target == path || r.path() == path; }));
}

std::vector<std::string> LocalHttpServer::requestTargets() const
{
    std::lock_guard guard(m_lock);
    std::vector<std::string> targets;
    for (const HttpRequest &request : m_requests)
        targets.push_back(request.target);
    return targets;
}

std::vector<HttpRequest> LocalHttpServer::requests() const
{
    std::lock_guard guard(m_lock);
    return m_requests;
}

bool LocalHttpServer::waitForRequests(const std::string &path, int count, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, deadline, [&] {
        return std::count_if(m_requests.begin(), m_requests.end(),
                             [&](const HttpRequest &r) { return r.target == path || r.path() == path; })
               >= count;
    });
}

bool LocalHttpServer::waitForHeld(const std::string &path, std::chrono::milliseconds deadline) const
{
    std::unique_lock lock(m_lock);
    return m_changed.wait_for(lock, deadline, [&] {
        for (const auto &[target, count] : m_holding)
            if (count > 0 && (target == path || target.substr(0, target.find('?')) == path))
                return true;
        return false;
    });
}

int LocalHttpServer::unusedPort()
{
    int port = 0;
    ::close(bindLoopback(&port));
    return port;
}

void LocalHttpServer::acceptLoop()
{
    while (!m_stopping) {
        pollfd fds[2] = {{m_listener, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            break;
        const int socket = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (socket < 0)
            continue;
        std::lock_guard guard(m_lock);
        m_workers.emplace_back([this, socket] { serve(socket); });
    }
}

LocalHttpServer::Handler LocalHttpServer::handlerFor(const HttpRequest &request) const
{
    std::lock_guard guard(m_lock);
    auto it = m_handlers.find(request.target);
    if (it == m_handlers.end())
        it = m_handlers.find(request.path());
    if (it != m_handlers.end())
        return it->second;
    return m_fallback;
}

bool LocalHttpServer::waitUntil(const std::function<bool()> &done, std::chrono::milliseconds deadline)
{
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, deadline, [&] { return m_stopping || done(); });
    return !m_stopping;
}

bool LocalHttpServer::send(int socket, const char *data, std::size_t size)
{
    while (size > 0) {
        pollfd fds[2] = {{socket, POLLOUT, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0)
            continue;
        if (fds[1].revents)
            return false;
        if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
        const ssize_t n = ::send(socket, data, size, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

bool LocalHttpServer::sendAnswer(int socket, const HttpAnswer &answer)
{
    if (!answer.raw.empty())
        return send(socket, answer.raw.data(), answer.raw.size());
    const bool streamed = answer.endless || answer.streamBytes > 0;
    std::string head = "HTTP/1.0 " + std::to_string(answer.status) + " " + reason(answer.status) + "\r\n";
    for (const auto &[name, value] : answer.headers)
        head += name + ": " + value + "\r\n";
    if (answer.contentLength >= 0)
        head += "Content-Length: " + std::to_string(answer.contentLength) + "\r\n";
    else if (answer.announceLength && !answer.endless)
        head += "Content-Length: " + std::to_string(streamed ? answer.streamBytes : answer.body.size()) + "\r\n";
    head += "Connection: close\r\n\r\n";
    if (!streamed)
        head += answer.body;
    if (!send(socket, head.data(), head.size()))
        return false;
    if (!streamed)
        return true;
    // Built once per answer, sent again and again: the body never exists in full.
    std::string chunk = answer.streamBlock.empty() ? std::string(1, 'x') : answer.streamBlock;
    while (chunk.size() < 64 * 1024)
        chunk += chunk;
    for (std::uint64_t sent = 0; answer.endless || sent < answer.streamBytes;) {
        const std::size_t size = answer.endless ? chunk.size() : std::size_t(std::min<std::uint64_t>(chunk.size(), answer.streamBytes - sent));
        if (!send(socket, chunk.data(), size))
            return false;
        sent += size;
    }
    return true;
}

void LocalHttpServer::serve(int socket)
{
    // The request head, bounded in size and time.
    std::string received;
    char buffer[4096];
    const auto headDeadline = Clock::now() + std::chrono::seconds(10);
    while (received.find("\r\n\r\n") == std::string::npos && received.size() < 65536 && !m_stopping) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(headDeadline - Clock::now()).count();
        pollfd fds[2] = {{socket, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
        if (left <= 0 || ::poll(fds, 2, int(left)) <= 0 || fds[1].revents)
            break;
        const ssize_t n = ::recv(socket, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, std::size_t(n));
    }
    HttpRequest request;
    request.head = received.substr(0, received.find("\r\n\r\n"));
    const std::size_t space = request.head.find(' ');
    const std::size_t second = space == std::string::npos ? space : request.head.find(' ', space + 1);
    if (second != std::string::npos) {
        request.method = request.head.substr(0, space);
        request.target = request.head.substr(space + 1, second - space - 1);
    }
    if (request.target.empty() || m_stopping) {
        ::close(socket);
        return;
    }
    const Handler handler = handlerFor(request);
    HttpAnswer answer = handler ? handler(request) : HttpAnswer::text(404, std::string(), std::string());
    {
        std::lock_guard guard(m_lock);
        m_requests.push_back(request);
        if (answer.held)
            ++m_holding[request.target];
    }
    m_changed.notify_all();

    bool go = true;
    if (answer.held) {
        go = waitUntil([this] { return m_released; }, std::chrono::hours(1));
        {
            std::lock_guard guard(m_lock);
            --m_holding[request.target];
        }
        m_changed.notify_all();
    }
    if (go && answer.delay.count() > 0)
        go = waitUntil([] { return false; }, answer.delay);
    if (go && answer.hang == HttpAnswer::Hang::BeforeHead) {
        // Until the client hangs up or the server stops.
        for (;;) {
            pollfd fds[2] = {{socket, POLLIN, 0}, {m_stopPipe[0], POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0)
                continue;
            if (fds[1].revents || ::recv(socket, buffer, sizeof buffer, 0) <= 0)
                break;
        }
        go = false;
    }
    if (go && sendAnswer(socket, answer) && answer.hang == HttpAnswer::Hang::AfterBody)
        waitUntil([] { return false; }, std::chrono::hours(1));
    ::shutdown(socket, SHUT_RDWR);
    ::close(socket);
}

} // namespace pixkey::test
