// Several configurators in one process, each with its own DesktopHook on a shared temporary
// runtime folder (no display): counting, broadcasts, show-window requests, stale sockets, broken
// peers and untrusted folders.
#include <pixkey/pxkhk/DesktopHook.h>

#include "PeerFolder.h"
#include "PeerFrame.h"
#include "RecordingSink.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <stdexcept>
#include <cstring>
#include <filesystem>
#include <memory>

#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using pixkey::DesktopHook;
using pixkey::PeerFolder;
using pixkey::PeerFrame;
using pixkey::PeerMessage;
using pixkey::test::RecordingSink;

namespace {

constexpr std::uint32_t kAddPluginFile = 0x400 + 16;
constexpr std::uint32_t kAdoptProfile = 0x400 + 20;

class PxkhkPeers : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pxkhk-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_base = pattern;
        m_folder = m_base + "/pixkey";
    }
    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(m_base, ignored);
    }

    std::unique_ptr<DesktopHook> makeHook(std::chrono::milliseconds peerTimeout = 2000ms)
    {
        DesktopHook::Options options;
        options.runtimeFolder = m_folder;
        options.useDisplay = false;
        options.peerTimeout = peerTimeout;
        return std::make_unique<DesktopHook>(options);
    }

    std::vector<std::string> socketFiles() const { return PeerFolder(m_folder).sockets(); }

    // A raw connection to the only socket in the folder other than `except`.
    int connectRaw(const std::string &socketPath)
    {
        int fd = -1;
        EXPECT_EQ(PeerFolder::connect(socketPath, 1000ms, fd), PeerFolder::Probe::Live);
        return fd;
    }

    // Whether the receiver closed `fd` within 10 s (reads until end of file).
    static bool closedByPeer(int fd)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 100) <= 0)
                continue;
            char buffer[64];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n == 0 || (n < 0 && errno != EAGAIN))
                return true;
        }
        return false;
    }

    std::string m_base;
    std::string m_folder;
};

} // namespace

TEST_F(PxkhkPeers, CountFollowsHookingOfOneTwoThreeConfigurators)
{
    RecordingSink sa, sb, sc;
    auto a = makeHook(), b = makeHook(), c = makeHook();
    ASSERT_TRUE(a->peersAvailable());
    EXPECT_EQ(a->GetConfiguratorsCount(), 0) << "nobody hooked yet";

    ASSERT_TRUE(a->Hook(&sa));
    EXPECT_EQ(a->GetConfiguratorsCount(), 1);
    EXPECT_EQ(b->GetConfiguratorsCount(), 1) << "an unhooked process sees the running one";

    ASSERT_TRUE(b->Hook(&sb));
    EXPECT_EQ(a->GetConfiguratorsCount(), 2);
    ASSERT_TRUE(c->Hook(&sc));
    EXPECT_EQ(a->GetConfiguratorsCount(), 3);
    EXPECT_EQ(c->GetConfiguratorsCount(), 3);
    EXPECT_EQ(socketFiles().size(), 3u);

    EXPECT_TRUE(c->Hook(&sc)) << "hooking again keeps one socket";
    EXPECT_EQ(socketFiles().size(), 3u);

    c->UnHook();
    EXPECT_EQ(a->GetConfiguratorsCount(), 2);
    EXPECT_EQ(c->GetConfiguratorsCount(), 2);
    b.reset(); // destroying a hooked configurator unhooks it
    EXPECT_EQ(a->GetConfiguratorsCount(), 1);
    EXPECT_EQ(socketFiles().size(), 1u);
}

TEST_F(PxkhkPeers, BroadcastReachesEveryOtherConfiguratorButNotTheSender)
{
    RecordingSink sa, sb, sc;
    auto a = makeHook(), b = makeHook(), c = makeHook();
    ASSERT_TRUE(a->Hook(&sa));
    ASSERT_TRUE(b->Hook(&sb));
    ASSERT_TRUE(c->Hook(&sc));

    const std::string path = "/home/user/Plug-ins with spaces/\xc3\xa9l\xc3\xa8ve's \"clock\".pkx";
    EXPECT_EQ(a->BroadcastMessage(kAddPluginFile, 0, 0, path), 2);

    for (RecordingSink *sink : {&sb, &sc}) {
        const auto r = sink->waitUntil([](const auto &r) { return !r.messages.empty(); });
        ASSERT_EQ(r.messages.size(), 1u);
        EXPECT_EQ(r.messages[0].message, kAddPluginFile);
        EXPECT_EQ(r.messages[0].path, path);
    }
    // b's message to a marks the end of anything a could have received from itself.
    EXPECT_EQ(b->BroadcastMessage(kAdoptProfile, -5, std::int64_t(0x4B) * 65536 + 3), 2);
    const auto r = sa.waitUntil([](const auto &r) { return !r.messages.empty(); });
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].message, kAdoptProfile);
    EXPECT_EQ(r.messages[0].wParam, -5);
    EXPECT_EQ(r.messages[0].lParam, 0x4B0003);
    EXPECT_TRUE(r.messages[0].path.empty());

    // An unhooked process (a second copy starting up) reaches all running ones.
    auto starting = makeHook();
    EXPECT_EQ(starting->ShowConfiguratorWindows(), 3);
    for (RecordingSink *sink : {&sa, &sb, &sc})
        EXPECT_EQ(sink->waitUntil([](const auto &r) { return r.showWindow == 1; }).showWindow, 1);

    // After UnHook nothing is delivered any more.
    ASSERT_EQ(sc.waitUntil([](const auto &r) { return r.messages.size() == 2; }).messages.size(), 2u)
        << "c has a's and b's messages";
    c->UnHook();
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 0, 0), 1);
    sb.waitUntil([](const auto &r) { return r.messages.size() == 2; });
    EXPECT_EQ(sc.snapshot().messages.size(), 2u);
}

TEST_F(PxkhkPeers, PathsAtTheLimitTravelIntactAndLongerOnesAreNotSent)
{
    RecordingSink sb;
    auto a = makeHook(), b = makeHook();
    ASSERT_TRUE(b->Hook(&sb));

    std::string longest = "/";
    while (longest.size() < PeerMessage::kMaxPathLength)
        longest += char('a' + longest.size() % 26);
    EXPECT_EQ(a->BroadcastMessage(kAddPluginFile, 0, 0, longest), 1);
    const auto r = sb.waitUntil([](const auto &r) { return !r.messages.empty(); });
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].path, longest);

    EXPECT_EQ(a->BroadcastMessage(kAddPluginFile, 0, 0, longest + "x"), 0);
    EXPECT_EQ(a->BroadcastMessage(kAddPluginFile, 0, 0, std::string("/a\0b.pkx", 8)), 0);
}

TEST_F(PxkhkPeers, SocketOfADeadConfiguratorIsRemovedAndNotCounted)
{
    RecordingSink sa;
    auto a = makeHook(), b = makeHook();
    ASSERT_TRUE(a->Hook(&sa));

    // What a crashed copy leaves: a bound socket file that nobody listens on any more.
    const std::string stale = m_folder + "/cfg-999999-0.sock";
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strcpy(address.sun_path, stale.c_str());
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ::close(fd);
    ASSERT_EQ(socketFiles().size(), 2u);

    EXPECT_EQ(b->GetConfiguratorsCount(), 1);
    EXPECT_FALSE(std::filesystem::exists(stale));
    // A regular file under a configurator's name is neither counted nor removed.
    const std::string odd = m_folder + "/cfg-1-1.sock";
    { std::FILE *f = std::fopen(odd.c_str(), "w"); ASSERT_NE(f, nullptr); std::fclose(f); }
    EXPECT_EQ(b->GetConfiguratorsCount(), 1);
    EXPECT_EQ(b->BroadcastMessage(kAdoptProfile, 0, 0), 1);
    EXPECT_TRUE(std::filesystem::exists(odd));
}

TEST_F(PxkhkPeers, GarbageOversizedAndTruncatedFramesAreDroppedWithoutStallingTheReceiver)
{
    RecordingSink sb;
    auto a = makeHook(), b = makeHook(300ms);
    ASSERT_TRUE(b->Hook(&sb));
    const std::string target = socketFiles().at(0);

    // Garbage: the receiver hangs up at once.
    int fd = connectRaw(target);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::send(fd, "HELLO, ANYBODY THERE?\n", 22, MSG_NOSIGNAL), 22);
    EXPECT_TRUE(closedByPeer(fd));
    ::close(fd);

    // An absurd length: refused with the header, not read to the end.
    PeerMessage m;
    m.message = kAddPluginFile;
    m.path = "x";
    std::string frame = PeerFrame::encode(PeerFrame::Kind::Message, m);
    std::string huge = frame.substr(0, PeerFrame::kHeaderSize);
    huge.replace(PeerFrame::kHeaderSize - 4, 4, "\xff\xff\xff\x7f");
    fd = connectRaw(target);
    ASSERT_EQ(::send(fd, huge.data(), huge.size(), MSG_NOSIGNAL), ssize_t(huge.size()));
    EXPECT_TRUE(closedByPeer(fd));
    ::close(fd);

    // A peer that closes mid-message delivers nothing.
    fd = connectRaw(target);
    ASSERT_EQ(::send(fd, frame.data(), frame.size() - 1, MSG_NOSIGNAL), ssize_t(frame.size() - 1));
    ::close(fd);

    // A peer that stops mid-message and stays: others still get through meanwhile, and the
    // receiver gives up on it after its time-out.
    const int slow = connectRaw(target);
    ASSERT_EQ(::send(slow, frame.data(), 10, MSG_NOSIGNAL), 10);
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 1, 2), 1);
    auto r = sb.waitUntil([](const auto &r) { return !r.messages.empty(); });
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].message, kAdoptProfile) << "only the well-formed message arrives";
    EXPECT_TRUE(closedByPeer(slow));
    ::close(slow);

    EXPECT_EQ(a->GetConfiguratorsCount(), 1);
    EXPECT_EQ(sb.snapshot().messages.size(), 1u);
}

TEST_F(PxkhkPeers, SinkMayCallBackIntoTheHookFromItsCallback)
{
    RecordingSink sb;
    auto a = makeHook(), b = makeHook();
    int countInside = -1;
    bool hookInside = true;
    sb.setReentry([&] {
        countInside = b->GetConfiguratorsCount();
        testing::internal::CaptureStderr();
        hookInside = b->Hook(&sb); // refused: it would wait for its own thread
        b->UnHook();               // refused as well
        testing::internal::GetCapturedStderr();
    });
    ASSERT_TRUE(a->Hook(nullptr)); // hooked without a sink: counted, receives nothing
    ASSERT_TRUE(b->Hook(&sb));
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 0, 0), 1);
    ASSERT_EQ(sb.waitUntil([](const auto &r) { return !r.messages.empty(); }).messages.size(), 1u);
    EXPECT_EQ(countInside, 2);
    EXPECT_FALSE(hookInside);
    EXPECT_EQ(b->BroadcastMessage(kAdoptProfile, 0, 0), 1) << "a sink-less configurator still takes messages";
}

TEST_F(PxkhkPeers, ACallbackThatThrowsLosesItsMessageOnly)
{
    RecordingSink sb;
    std::atomic<int> calls{0};
    sb.setReentry([&] {
        if (calls++ == 0)
            throw std::runtime_error("receiver failed");
    });
    auto a = makeHook(), b = makeHook();
    ASSERT_TRUE(b->Hook(&sb));
    testing::internal::CaptureStderr();
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 1, 0), 1);
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 2, 0), 1);
    const auto r = sb.waitUntil([](const auto &r) { return !r.messages.empty(); });
    const std::string printed = testing::internal::GetCapturedStderr();
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].wParam, 2);
    EXPECT_NE(printed.find("receiver failed"), std::string::npos) << printed;
}

TEST_F(PxkhkPeers, UntrustedFoldersAreRefused)
{
    // Group and others may enter: refused, no socket is created in it.
    ASSERT_EQ(::mkdir(m_folder.c_str(), 0755), 0);
    ::chmod(m_folder.c_str(), 0755);
    testing::internal::CaptureStderr();
    auto a = makeHook();
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_FALSE(a->peersAvailable());
    EXPECT_NE(printed.find("0700"), std::string::npos) << printed;
    RecordingSink sa;
    EXPECT_FALSE(a->Hook(&sa));
    EXPECT_TRUE(socketFiles().empty());
    EXPECT_EQ(a->GetConfiguratorsCount(), 1) << "still a running configurator itself";
    EXPECT_EQ(a->BroadcastMessage(kAdoptProfile, 0, 0), 0);
    a.reset();

    // A link to a good folder is not followed.
    const std::string real = m_base + "/real";
    ASSERT_EQ(::mkdir(real.c_str(), 0700), 0);
    std::filesystem::remove(m_folder);
    std::filesystem::create_directory_symlink(real, m_folder);
    testing::internal::CaptureStderr();
    auto b = makeHook();
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(b->peersAvailable());
    b.reset();

    // A missing folder is created private.
    std::filesystem::remove(m_folder);
    auto c = makeHook();
    EXPECT_TRUE(c->peersAvailable());
    struct stat info {};
    ASSERT_EQ(::lstat(m_folder.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST(PxkhkPeerFolder, RuntimeFolderOrPrivateTmpFolder)
{
    const char *saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string previous = saved ? saved : "";
    ::setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(PeerFolder("").path(), "/run/user/4242/pixkey");
    ::unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(PeerFolder("").path(), "/tmp/pixkey-" + std::to_string(::geteuid()));
    EXPECT_EQ(PeerFolder("/x/y").path(), "/x/y");
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", previous.c_str(), 1);
}

TEST(PxkhkNoDisplay, DesktopFeaturesReportOffAndPeersStillWork)
{
    char pattern[] = "/tmp/pxkhk-test-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    DesktopHook::Options options;
    options.runtimeFolder = std::string(pattern) + "/pixkey";
    options.displayName = ":65000"; // no server there
    testing::internal::CaptureStderr();
    {
        DesktopHook hook(options);
        const std::string printed = testing::internal::GetCapturedStderr();
        // Why the display is missing, then a line for each capability that is off.
        EXPECT_EQ(std::count(printed.begin(), printed.end(), '\n'), 5) << printed;
        EXPECT_NE(printed.find("cannot open X display :65000"), std::string::npos) << printed;
        for (const char *capability : {"Active window unavailable", "Switch hotkey unavailable", "Modifier rows unavailable", "Idle time unavailable"})
            EXPECT_NE(printed.find(capability), std::string::npos) << printed;
        for (const pixkey::CapabilityReport &report : hook.capabilities())
            EXPECT_EQ(report.state, pixkey::CapabilityState::Unavailable) << report.how;
        EXPECT_FALSE(hook.desktopAvailable());
        EXPECT_FALSE(hook.RegisterHotkey(1, DesktopHook::Ctrl, 0x4B));
        EXPECT_FALSE(hook.UnregisterHotkey(1));
        EXPECT_FALSE(hook.idleTime().has_value());
        EXPECT_EQ(hook.processIdOfWindow(0x400001), 0);
        EXPECT_EQ(hook.executableNameOfWindow(0x400001), "");

        RecordingSink sink;
        EXPECT_TRUE(hook.Hook(&sink));
        EXPECT_EQ(hook.GetConfiguratorsCount(), 1);
        hook.UnHook();
    }
    std::filesystem::remove_all(pattern);
}

TEST(PxkhkExecutableName, OfLiveGoneAndInvalidProcesses)
{
    EXPECT_EQ(DesktopHook::executableNameOfProcess(::getpid()), "pxkhk_peer_test");
    EXPECT_EQ(DesktopHook::executableNameOfProcess(0), "");
    EXPECT_EQ(DesktopHook::executableNameOfProcess(-3), "");

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        ::_exit(0);
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    EXPECT_EQ(DesktopHook::executableNameOfProcess(child), "") << "a reaped process has no name";
}
