// The loopback HTTP server seen from a plain socket client: routing, counting, and the misbehaving
// answers other tests rely on (slow, held, hanging, redirect, oversized, endless, raw).
#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>

using namespace std::chrono_literals;
using pixkey::test::HttpAnswer;
using pixkey::test::HttpRequest;
using pixkey::test::LocalHttpServer;

namespace {

struct Reply {
    std::string head;
    std::string body;
    std::uint64_t bodyBytes = 0; // counted, not kept, beyond `keep`
    bool closed = false;         // the server closed the connection
    bool timedOut = false;
};

int connectTo(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(std::uint16_t(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Sends a GET and reads until the server closes or `silence` passes without a byte; keeps at most
// `keep` bytes of the body.
Reply get(int port, const std::string &target, std::chrono::milliseconds silence = 10s, std::size_t keep = 1 << 20,
          const std::string &extraHeaders = {})
{
    Reply reply;
    const int fd = connectTo(port);
    if (fd < 0)
        return reply;
    const std::string request = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n" + extraHeaders + "\r\n";
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[65536];
    for (;;) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, int(silence.count())) <= 0) {
            reply.timedOut = true;
            break;
        }
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) {
            reply.closed = true;
            break;
        }
        const std::size_t headEnd = all.find("\r\n\r\n");
        if (headEnd == std::string::npos || all.size() < headEnd + 4 + keep)
            all.append(buffer, std::size_t(n));
        reply.bodyBytes += std::uint64_t(n);
    }
    ::close(fd);
    const std::size_t headEnd = all.find("\r\n\r\n");
    reply.head = all.substr(0, headEnd);
    if (headEnd != std::string::npos) {
        reply.body = all.substr(headEnd + 4);
        reply.bodyBytes -= headEnd + 4;
    }
    return reply;
}

TEST(LocalHttpServer, RoutesByTargetThenPathThenFallbackAndCounts)
{
    LocalHttpServer server;
    server.answer("/a", 200, "plain a");
    server.answer("/a?x=1", 201, "query a");
    server.answer("/latin", HttpAnswer::text(200, "\xe9t\xe9", "text/html; charset=ISO-8859-1"));
    server.route("/echo", [](const HttpRequest &request) {
        return HttpAnswer::text(200, request.method + " " + request.query() + " " + request.header("x-token"));
    });

    Reply a = get(server.port(), "/a");
    EXPECT_EQ(a.head.substr(0, 15), "HTTP/1.0 200 OK");
    EXPECT_EQ(a.body, "plain a");
    EXPECT_NE(a.head.find("Content-Length: 7"), std::string::npos);
    EXPECT_EQ(get(server.port(), "/a?x=1").body, "query a");
    EXPECT_EQ(get(server.port(), "/a?y=2").body, "plain a") << "an unknown query falls back to the path";
    EXPECT_NE(get(server.port(), "/latin").head.find("Content-Type: text/html; charset=ISO-8859-1"), std::string::npos);
    EXPECT_EQ(get(server.port(), "/echo?q=5", 10s, 1 << 20, "X-Token:  secret \r\n").body, "GET q=5 secret");
    EXPECT_EQ(get(server.port(), "/nothing").head.substr(0, 12), "HTTP/1.0 404");

    server.fallback(HttpAnswer::text(500, "everything else"));
    EXPECT_EQ(get(server.port(), "/nothing").body, "everything else");

    EXPECT_EQ(server.requestCount(), 7);
    EXPECT_EQ(server.requestCount("/a"), 3);
    EXPECT_EQ(server.requestCount("/a?x=1"), 1);
    EXPECT_EQ(server.requestCount("/nothing"), 2);
    EXPECT_EQ(server.requestTargets().front(), "/a");
    EXPECT_EQ(server.requestTargets().back(), "/nothing");
}

TEST(LocalHttpServer, RedirectCarriesLocationAndStatus)
{
    LocalHttpServer server;
    server.answer("/old", HttpAnswer::redirect(server.url("/new"), 301));
    const Reply reply = get(server.port(), "/old");
    EXPECT_EQ(reply.head.substr(0, 12), "HTTP/1.0 301");
    EXPECT_NE(reply.head.find("Location: " + server.url("/new")), std::string::npos);
}

TEST(LocalHttpServer, SlowAnswerComesAfterItsDelay)
{
    LocalHttpServer server;
    server.answer("/slow", HttpAnswer::slow(300ms, HttpAnswer::text(200, "late")));
    const auto start = std::chrono::steady_clock::now();
    const Reply reply = get(server.port(), "/slow");
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
    EXPECT_EQ(reply.body, "late");
}

TEST(LocalHttpServer, HeldAnswerWaitsForRelease)
{
    LocalHttpServer server;
    server.answer("/held", HttpAnswer::whenReleased(HttpAnswer::text(200, "released")));
    auto reply = std::async(std::launch::async, [&] { return get(server.port(), "/held"); });
    ASSERT_TRUE(server.waitForHeld("/held"));
    EXPECT_EQ(reply.wait_for(100ms), std::future_status::timeout);
    server.release();
    EXPECT_EQ(reply.get().body, "released");
}

TEST(LocalHttpServer, HangingAnswersSayNothingUntilTheServerStops)
{
    LocalHttpServer server;
    server.answer("/hang", HttpAnswer::hanging());
    HttpAnswer partial = HttpAnswer::text(200, "partial");
    partial.contentLength = 100;
    partial.hang = HttpAnswer::Hang::AfterBody;
    server.answer("/partial", partial);

    const Reply silent = get(server.port(), "/hang", 300ms);
    EXPECT_TRUE(silent.timedOut);
    EXPECT_TRUE(silent.head.empty());
    const Reply cut = get(server.port(), "/partial", 300ms);
    EXPECT_TRUE(cut.timedOut);
    EXPECT_NE(cut.head.find("Content-Length: 100"), std::string::npos);
    EXPECT_EQ(cut.body, "partial");

    // Stopping ends a hanging connection at once.
    auto waiting = std::async(std::launch::async, [&] { return get(server.port(), "/hang", 30s); });
    ASSERT_TRUE(server.waitForRequests("/hang", 2));
    const auto start = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_TRUE(waiting.get().closed);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
}

TEST(LocalHttpServer, OversizedBodiesAreStreamedInFull)
{
    LocalHttpServer server;
    const std::uint64_t size = 20u * 1024 * 1024 + 3;
    server.answer("/big", HttpAnswer::oversized(size, true, "text/xml", "<a/>"));
    server.answer("/unannounced", HttpAnswer::oversized(70000, false));

    const Reply big = get(server.port(), "/big", 10s, 16);
    EXPECT_TRUE(big.closed);
    EXPECT_NE(big.head.find("Content-Length: " + std::to_string(size)), std::string::npos);
    EXPECT_EQ(big.bodyBytes, size);
    EXPECT_EQ(big.body.substr(0, 8), "<a/><a/>");
    const Reply unannounced = get(server.port(), "/unannounced");
    EXPECT_EQ(unannounced.head.find("Content-Length"), std::string::npos);
    EXPECT_EQ(unannounced.bodyBytes, 70000u);
}

TEST(LocalHttpServer, EndlessBodyRunsUntilTheClientHangsUp)
{
    LocalHttpServer server;
    server.answer("/endless", HttpAnswer::endlessBody());
    const int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /endless HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(fd, request.data(), request.size(), MSG_NOSIGNAL), ssize_t(request.size()));
    std::uint64_t received = 0;
    char buffer[65536];
    while (received < 4u * 1024 * 1024) {
        pollfd p{fd, POLLIN, 0};
        ASSERT_GT(::poll(&p, 1, 10000), 0);
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        ASSERT_GT(n, 0) << "the body ended after " << received << " bytes";
        received += std::uint64_t(n);
    }
    ::close(fd); // the server's thread notices and ends; the destructor would hang otherwise
}

TEST(LocalHttpServer, RawBytesAndUnusedPort)
{
    LocalHttpServer server;
    server.answer("/broken", HttpAnswer::rawBytes("NONSENSE\r\n"));
    const int fd = connectTo(server.port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /broken HTTP/1.0\r\n\r\n";
    (void)!::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string all;
    char buffer[64];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;)
        all.append(buffer, std::size_t(n));
    ::close(fd);
    EXPECT_EQ(all, "NONSENSE\r\n");

    EXPECT_EQ(connectTo(LocalHttpServer::unusedPort()), -1);
}

} // namespace
