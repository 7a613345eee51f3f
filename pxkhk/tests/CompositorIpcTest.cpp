// The sway and Hyprland IPC back ends against scripted stand-ins of their sockets, for what the
// real compositors cannot be made to show (garbage, a message split anywhere, a slow or broken
// answer) and for Hyprland, which is not packaged here.
#include "BackendDriver.h"
#include "HyprlandIpc.h"
#include "IpcStream.h"
#include "Json.h"
#include "SwayIpc.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace pixkey;
using pixkey::test::BackendDriver;

namespace {

// A listening unix socket in a folder of the test's own.
class StandIn {
public:
    explicit StandIn(const std::string &path) : m_path(path)
    {
        m_listen = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(m_listen, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(m_listen, 8);
    }
    ~StandIn()
    {
        if (m_peer >= 0)
            ::close(m_peer);
        ::close(m_listen);
    }
    // The next connection (waits up to 10 s); -1 when none came.
    int accept()
    {
        pollfd p{m_listen, POLLIN, 0};
        if (::poll(&p, 1, 10000) <= 0)
            return -1;
        return ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
    }
    bool acceptPeer()
    {
        m_peer = accept();
        return m_peer >= 0;
    }
    void write(const std::string &bytes) { ASSERT_EQ(::send(m_peer, bytes.data(), bytes.size(), MSG_NOSIGNAL), ssize_t(bytes.size())); }
    void hangUp()
    {
        ::close(m_peer);
        m_peer = -1;
    }
    // What the back end sent so far (reads without waiting).
    std::string received()
    {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(m_peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            m_received.append(buffer, std::size_t(n));
        return m_received;
    }

private:
    std::string m_path;
    int m_listen = -1;
    int m_peer = -1;
    std::string m_received;
};

class PxkhkCompositorIpc : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pxkhk-ipc-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder;
};

std::string windowEvent(const std::string &change, int id, int pid, const std::string &appId)
{
    return SwayIpc::frame(0x80000003u, R"({"change":")" + change + R"(","container":{"id":)" + std::to_string(id)
                                           + R"(,"type":"con","pid":)" + std::to_string(pid) + R"(,"app_id":")" + appId
                                           + R"(","focused":true}})");
}

} // namespace

TEST(PxkhkJson, ReadsWhatCompositorsSendAndRefusesWhatIsBroken)
{
    const auto value = JsonValue::parse(R"( {"id": 12, "name": "caf\u00e9 \ud83d\ude00", "pid": -3, "ok": true,
                                             "nodes": [ {"x": 1.5}, null ], "e": 2e3 } )");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ((*value)["id"].integer(), 12);
    EXPECT_EQ((*value)["name"].string(), "caf\xC3\xA9 \xF0\x9F\x98\x80");
    EXPECT_EQ((*value)["pid"].integer(), -3);
    EXPECT_TRUE((*value)["ok"].boolean());
    EXPECT_EQ((*value)["nodes"].elements().size(), 2u);
    EXPECT_EQ((*value)["nodes"].elements()[0]["x"].integer(7), 7) << "not a whole number";
    EXPECT_EQ((*value)["e"].integer(), 2000);
    EXPECT_EQ((*value)["missing"]["deeper"].string("none"), "none");

    for (const char *broken : {"", "{", "{\"a\":}", "[1,]", "{\"a\":1} x", "\"\\x\"", "\"\\ud83d\"", "01x", "nul",
                               "\"line\nbreak\"", "1e999"})
        EXPECT_FALSE(JsonValue::parse(broken).has_value()) << broken;
    EXPECT_FALSE(JsonValue::parse(std::string(100000, '[') + std::string(100000, ']')).has_value())
        << "nesting is bounded, so a hostile peer cannot exhaust the stack";
}

TEST_F(PxkhkCompositorIpc, SwayFocusEventsSplitAnywhereAreReadWhole)
{
    StandIn sway(folder + "/sway.sock");
    SwayIpc backend(folder + "/sway.sock");
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(sway.acceptPeer());
    BackendDriver events;
    // It subscribes, then asks for the tree.
    events.runWhileUsable(backend, [&] { return sway.received().size() >= 2 * 14; });
    const std::string asked = sway.received();
    EXPECT_NE(asked.find(R"(["window","workspace"])"), std::string::npos);

    sway.write(SwayIpc::frame(2, R"({"success":true})"));
    sway.write(SwayIpc::frame(4, R"({"id":1,"type":"root","nodes":[{"id":3,"type":"workspace","nodes":[
        {"id":7,"type":"con","pid":700,"app_id":"editor","focused":true}],"floating_nodes":[]}]})"));
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return !events.foreground.empty(); }));
    EXPECT_EQ(events.foreground, (std::vector<std::pair<unsigned long, int>>{{7, 1}}));
    EXPECT_EQ(backend.processIdOfWindow(7), 700);

    // One event written a byte at a time, the next two in one write.
    const std::string focus = windowEvent("focus", 9, 900, "viewer");
    for (char c : focus)
        sway.write(std::string(1, c));
    sway.write(windowEvent("title", 9, 900, "viewer") + windowEvent("close", 9, 900, "viewer"));
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 4; }));
    EXPECT_EQ(events.foreground, (std::vector<std::pair<unsigned long, int>>{{7, 1}, {7, 0}, {9, 1}, {9, 0}}));
    EXPECT_EQ(backend.applicationIdOfWindow(7), "editor");
    EXPECT_EQ(backend.processIdOfWindow(9), 0) << "closed windows are forgotten";

    sway.hangUp();
    events.runWhileUsable(backend, [] { return false; });
    EXPECT_FALSE(backend.usable()) << "sway went away";
}

TEST_F(PxkhkCompositorIpc, SwayGarbageDropsTheBackEndWithALine)
{
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"not framed", "HTTP/1.1 200 OK\r\n\r\nhello there"},
        {"too long", SwayIpc::frame(0x80000003u, "").replace(6, 4, std::string("\xff\xff\xff\x7f", 4))},
        {"not JSON", SwayIpc::frame(0x80000003u, "{\"change\": focus}")},
        {"subscription refused", SwayIpc::frame(2, R"({"success":false})")},
    };
    for (const auto &[what, bytes] : cases) {
        StandIn sway(folder + "/garbage.sock");
        SwayIpc backend(folder + "/garbage.sock");
        std::string error;
        ASSERT_TRUE(backend.open(error)) << error;
        ASSERT_TRUE(sway.acceptPeer());
        testing::internal::CaptureStderr();
        sway.write(bytes);
        BackendDriver events;
        events.runWhileUsable(backend, [] { return false; });
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(backend.usable()) << what;
        EXPECT_NE(printed.find("pxkhk: sway IPC:"), std::string::npos) << what << ": " << printed;
        EXPECT_TRUE(events.foreground.empty()) << what;
        EXPECT_TRUE(backend.capabilities().empty()) << what;
        std::filesystem::remove(folder + "/garbage.sock");
    }
}

TEST_F(PxkhkCompositorIpc, HyprlandActivationIsReportedWithTheProcessIdFromTheRequestSocket)
{
    StandIn events2(folder + "/.socket2.sock");
    // The request socket answers each connection with the next scripted answer (none: hang up).
    std::mutex lock;
    std::vector<std::string> answers = {R"({})"}, requests;
    std::atomic<bool> stop{false};
    StandIn requestSocket(folder + "/.socket.sock");
    std::thread server([&] {
        while (!stop) {
            const int fd = requestSocket.accept();
            if (fd < 0)
                continue;
            timeval bound{2, 0}; // a connection that sends nothing cannot hold the stand-in
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &bound, sizeof bound);
            char buffer[256];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            std::string answer;
            {
                std::lock_guard<std::mutex> guard(lock);
                requests.emplace_back(buffer, std::size_t(std::max<ssize_t>(n, 0)));
                if (!answers.empty()) {
                    answer = answers.front();
                    answers.erase(answers.begin());
                }
            }
            if (answer != "hang")
                ::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL);
            else
                std::this_thread::sleep_for(1500ms); // longer than the back end waits
            ::close(fd);
        }
    });
    const auto answer = [&](const std::string &text) {
        std::lock_guard<std::mutex> guard(lock);
        answers.push_back(text);
    };

    HyprlandIpc backend(HyprlandIpc::Options{"sig", "", folder});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(events2.acceptPeer());
    BackendDriver events;

    answer(R"({"address":"0x5a5a01","pid":4242,"class":"editor","title":"notes"})");
    events2.write("activewindow>>editor,notes\nactivewindowv2>>5a5a01\n");
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return !events.foreground.empty(); }));
    EXPECT_EQ(events.foreground, (std::vector<std::pair<unsigned long, int>>{{0x5a5a01, 1}}));
    EXPECT_EQ(backend.processIdOfWindow(0x5a5a01), 4242);
    EXPECT_EQ(backend.applicationIdOfWindow(0x5a5a01), "editor");
    {
        std::lock_guard<std::mutex> guard(lock);
        ASSERT_FALSE(requests.empty());
        EXPECT_EQ(requests.back(), "j/activewindow");
    }

    // No answer in time: reported anyway, with the class from the event and no process.
    answer("hang");
    events2.write("activewindow>>viewer,pictures\nactivewindowv2>>5a5a02\n");
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 3; }));
    EXPECT_EQ(events.foreground[1], std::make_pair(0x5a5a01ul, 0));
    EXPECT_EQ(events.foreground[2], std::make_pair(0x5a5a02ul, 1));
    EXPECT_EQ(backend.processIdOfWindow(0x5a5a02), 0);
    EXPECT_EQ(backend.applicationIdOfWindow(0x5a5a02), "viewer");

    // The answer names another window (focus moved on meanwhile): its process is not taken for
    // the one the event named.
    answer(R"({"address":"0x5a5a99","pid":9999,"class":"other"})");
    events2.write("activewindow>>editor,notes\nactivewindowv2>>5a5a01\n");
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 5; }));
    EXPECT_EQ(events.foreground[4], std::make_pair(0x5a5a01ul, 1));
    EXPECT_EQ(backend.processIdOfWindow(0x5a5a01), 0);
    EXPECT_EQ(backend.applicationIdOfWindow(0x5a5a01), "editor");

    // Focus on nothing, then a window closed that is not in front: one change only.
    events2.write("activewindow>>,\nactivewindowv2>>\nclosewindow>>5a5a01\n");
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 6; }));
    EXPECT_EQ(events.foreground.size(), 6u);
    EXPECT_EQ(events.foreground.back(), std::make_pair(0x5a5a01ul, 0));
    EXPECT_EQ(backend.activeWindow(), 0u);

    // A line that is no event: dropped with a line, no crash.
    testing::internal::CaptureStderr();
    events2.write("this is not an event\n");
    events.runWhileUsable(backend, [] { return false; });
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(backend.usable());
    EXPECT_NE(printed.find("pxkhk: Hyprland IPC:"), std::string::npos) << printed;

    stop = true;
    {
        // Wake the server's accept with a last connection, closed at once.
        IpcStream wake;
        wake.connect(folder + "/.socket.sock", error);
    }
    server.join();
}

TEST_F(PxkhkCompositorIpc, HyprlandWithoutItsSocketsDoesNotOpen)
{
    HyprlandIpc missing(HyprlandIpc::Options{"sig", folder, ""});
    std::string error;
    EXPECT_FALSE(missing.open(error));
    EXPECT_NE(error.find("sig"), std::string::npos) << error;
    HyprlandIpc hostile(HyprlandIpc::Options{"../../etc", folder, ""});
    EXPECT_FALSE(hostile.open(error));
}
