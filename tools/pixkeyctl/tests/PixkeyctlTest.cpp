// pixkeyctl end to end: the real command against the keypad emulator.

#include "FrameTransform.h"
#include "KeypadEmulator.h"
#include "PixelTables.h"

#include <gtest/gtest.h>
#include <png.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace std::chrono_literals;
using pixkey::KeypadEmulator;

namespace {

namespace fs = std::filesystem;

struct CtlRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

// A running pixkeyctl with its stdout on a pipe and stderr in a file.
class Child {
public:
    Child(const std::vector<std::string> &args, const std::string &errFile, const char *portEnv)
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 1);
            const int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, 2);
            if (portEnv)
                setenv("PIXKEY_PORT", portEnv, 1);
            else
                unsetenv("PIXKEY_PORT");
            std::vector<char *> argv{const_cast<char *>(PIXKEYCTL_PATH)};
            for (const auto &a : args)
                argv.push_back(const_cast<char *>(a.c_str()));
            argv.push_back(nullptr);
            execv(PIXKEYCTL_PATH, argv.data());
            _exit(127);
        }
        ::close(fds[1]);
        m_out = fds[0];
    }
    ~Child()
    {
        if (m_pid > 0 && m_exit < 0) {
            ::kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        if (m_out >= 0)
            ::close(m_out);
    }

    // Reads stdout until `text` has appeared or `limit` passed.
    bool waitForOutput(const std::string &text, std::chrono::milliseconds limit)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (m_text.find(text) == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                return false;
            pollfd p{m_out, POLLIN, 0};
            if (::poll(&p, 1, static_cast<int>(left.count())) <= 0)
                return false;
            char buf[256];
            const ssize_t n = ::read(m_out, buf, sizeof buf);
            if (n <= 0)
                return false;
            m_text.append(buf, n);
        }
        return true;
    }

    // Waits for the exit (bounded); -1 when it did not end in time, 128 + signal when killed.
    int wait(std::chrono::milliseconds limit = 120s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            int status = 0;
            const pid_t r = waitpid(m_pid, &status, WNOHANG);
            if (r == m_pid) {
                m_exit = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                char buf[256];
                ssize_t n;
                while ((n = ::read(m_out, buf, sizeof buf)) > 0)
                    m_text.append(buf, n);
                return m_exit;
            }
            if (std::chrono::steady_clock::now() > deadline)
                return -1;
            usleep(5000);
        }
    }

    void signal(int sig) { ::kill(m_pid, sig); }
    const std::string &output() const { return m_text; }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_exit = -1;
    std::string m_text;
};

std::string readFile(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

bool writePng(const std::string &path, int w, int h, const std::vector<uint8_t> &rgb)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = w;
    png.height = h;
    png.format = PNG_FORMAT_RGB;
    return png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), w * 3, nullptr) != 0;
}

// A 96x96 picture whose left half is `left` and right half `right`, with a diagonal stripe so that
// every row differs from its neighbours.
std::vector<uint8_t> twoTone(std::array<uint8_t, 3> left, std::array<uint8_t, 3> right)
{
    std::vector<uint8_t> rgb(96 * 96 * 3);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            const auto &c = x < 48 ? left : right;
            for (int i = 0; i < 3; ++i)
                rgb[(y * 96 + x) * 3 + i] = (x == y) ? 255 : c[i];
        }
    return rgb;
}

// What the emulator must show for a 96x96 RGB picture given to key slot with this orientation:
// the face oriented, converted with the default colour tables, line by line in wire order.
std::vector<uint16_t> expectedWire(const std::vector<uint8_t> &rgb, int orientation)
{
    std::vector<uint8_t> face(pixkey::kPictureBytes), picture(pixkey::kPictureBytes);
    for (int i = 0; i < 96 * 96; ++i) {
        face[i * 3] = rgb[i * 3 + 2];
        face[i * 3 + 1] = rgb[i * 3 + 1];
        face[i * 3 + 2] = rgb[i * 3];
    }
    pixkey::orientFace(face.data(), orientation, picture.data());
    pixkey::PixelTables tables;
    std::vector<uint16_t> out(96 * 96);
    uint8_t wire[192];
    for (int line = 0; line < 96; ++line) {
        tables.ConvertLine(&picture[(95 - line) * pixkey::kRowBytes], wire);
        for (int i = 0; i < 96; ++i)
            out[line * 96 + i] = static_cast<uint16_t>(wire[2 * i] << 8 | wire[2 * i + 1]);
    }
    return out;
}

class PixkeyctlTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/pixkeyctl-e2e-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        m_dir = tmpl;
        m_emulator = std::make_unique<KeypadEmulator>(m_dir + "/keypad");
        std::string error;
        ASSERT_TRUE(m_emulator->start(&error)) << error;
        m_red = twoTone({255, 0, 0}, {255, 0, 0});
        m_green = twoTone({0, 200, 0}, {0, 120, 0});
        m_split = twoTone({255, 0, 0}, {0, 0, 255});
        ASSERT_TRUE(writePng(file("red.png"), 96, 96, m_red));
        ASSERT_TRUE(writePng(file("green.png"), 96, 96, m_green));
        ASSERT_TRUE(writePng(file("split.png"), 96, 96, m_split));
    }
    void TearDown() override
    {
        m_emulator.reset();
        fs::remove_all(m_dir);
    }

    std::string file(const std::string &name) const { return m_dir + "/" + name; }
    std::string link() const { return m_emulator->linkPath(); }

    CtlRun run(std::vector<std::string> args, const char *portEnv = nullptr)
    {
        Child child(args, file("stderr.txt"), portEnv);
        CtlRun r;
        r.exitCode = child.wait();
        r.out = child.output();
        r.err = readFile(file("stderr.txt"));
        return r;
    }

    std::string m_dir;
    std::unique_ptr<KeypadEmulator> m_emulator;
    std::vector<uint8_t> m_red, m_green, m_split;
};

TEST_F(PixkeyctlTest, ShowUploadsEachPictureAndShowsItOneKeyAtATime)
{
    const CtlRun r = run({"--port", link(), "show", "1", file("red.png"), "2", file("green.png"), "3", file("split.png")});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(m_emulator->shownFrameRaw(1), expectedWire(m_red, 0));
    EXPECT_EQ(m_emulator->shownFrameRaw(2), expectedWire(m_green, 0));
    EXPECT_EQ(m_emulator->shownFrameRaw(3), expectedWire(m_split, 0));
    EXPECT_TRUE(m_emulator->displayOn());
    EXPECT_EQ(m_emulator->brightness(), 60);

    // The on-connect routine: two DisplayOn and SetBrightness 60 before any line.
    const auto log = m_emulator->packetLog();
    int displayOns = 0;
    bool brightness = false;
    for (const auto &p : log) {
        if (p.command == KeypadEmulator::WriteLine)
            break;
        displayOns += p.command == KeypadEmulator::DisplayOn;
        brightness = brightness || (p.command == KeypadEmulator::SetBrightness && p.arg1 == 60);
    }
    EXPECT_EQ(displayOns, 2);
    EXPECT_TRUE(brightness);
    // Without --hold a key is shown as soon as its lines are in: a ShowFrame comes between lines.
    bool shownBeforeLastLine = false;
    bool seenShow = false;
    for (const auto &p : log) {
        seenShow = seenShow || p.command == KeypadEmulator::ShowFrame;
        shownBeforeLastLine = shownBeforeLastLine || (seenShow && p.command == KeypadEmulator::WriteLine);
    }
    EXPECT_TRUE(shownBeforeLastLine);
}

TEST_F(PixkeyctlTest, HoldShowsAllKeysTogetherAfterTheLastUpload)
{
    const CtlRun r = run({"show", "1", file("red.png"), "--hold", "2", file("green.png"), "3", file("split.png"),
                       "--brightness", "1"},
                      link().c_str());
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(m_emulator->shownFrameRaw(1), expectedWire(m_red, 0));
    EXPECT_EQ(m_emulator->shownFrameRaw(2), expectedWire(m_green, 0));
    EXPECT_EQ(m_emulator->shownFrameRaw(3), expectedWire(m_split, 0));
    EXPECT_EQ(m_emulator->brightness(), 40);

    const auto log = m_emulator->packetLog();
    std::vector<int> shows;
    bool lineAfterShow = false;
    for (const auto &p : log) {
        if (p.command == KeypadEmulator::ShowFrame)
            shows.push_back(p.arg1);
        else if (p.command == KeypadEmulator::WriteLine && !shows.empty())
            lineAfterShow = true;
    }
    EXPECT_FALSE(lineAfterShow) << "no key may be shown before all are uploaded";
    EXPECT_EQ(shows, (std::vector<int>{1, 2, 3}));
}

TEST_F(PixkeyctlTest, OrientationTurnsThePictureAndPicksTheKey)
{
    // Turned over: slot 1 is device key 3, and the picture is rotated by 180 degrees.
    CtlRun r = run({"--port", link(), "show", "1", file("split.png"), "--orientation", "1"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(m_emulator->shownFrameRaw(3), expectedWire(m_split, 1));
    const auto rgb = m_emulator->shownFrameRgb(3);
    auto at = [&](int x, int y) { return &rgb[(y * 96 + x) * 3]; };
    EXPECT_GT(at(10, 40)[2], 100) << "the blue right half is now on the left";
    EXPECT_LT(at(10, 40)[0], 50);
    EXPECT_GT(at(85, 40)[0], 100);
    EXPECT_EQ(m_emulator->shownFrameRaw(1), std::vector<uint16_t>(96 * 96, 0));

    // Vertical, the other way: slot 2 stays device key 2, turned 90 degrees clockwise.
    r = run({"--port", link(), "show", "2", file("split.png"), "--orientation", "3"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(m_emulator->shownFrameRaw(2), expectedWire(m_split, 3));
}

TEST_F(PixkeyctlTest, ErrorsAreOneLineWithTheirExitCodes)
{
    // No keypad: no --port, no PIXKEY_PORT, and no adapter on this machine.
    CtlRun r = run({"show", "1", file("red.png")});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find("no keypad"), std::string::npos) << r.err;

    // Missing picture: named, exit 1, the keypad untouched.
    r = run({"--port", link(), "show", "1", file("red.png"), "2", file("nope.png")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(file("nope.png")), std::string::npos) << r.err;
    EXPECT_EQ(m_emulator->totalPackets(), 0);

    // A port that does not exist, one that is not a tty.
    r = run({"--port", file("no-such-port"), "on"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("does not exist"), std::string::npos) << r.err;
    std::ofstream(file("plain-file")) << "x";
    r = run({"on"}, file("plain-file").c_str());
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("not a tty"), std::string::npos) << r.err;

    // A port another program holds.
    {
        const int fd = ::open(link().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
        r = run({"--port", link(), "on"});
        ::close(fd);
    }
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("busy"), std::string::npos) << r.err;

    // Bad arguments: usage and 64, nothing sent.
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{}, {"frobnicate"}, {"show"}, {"show", "1"}, {"show", "4", file("red.png")},
          {"show", "1", file("red.png"), "1", file("green.png")}, {"show", "1", file("red.png"), "--gamma", "x"},
          {"brightness", "3"}, {"brightness"}, {"on", "now"}, {"listen", "1"}, {"--orientation", "9", "on"}}) {
        std::vector<std::string> full{"--port", link()};
        full.insert(full.end(), args.begin(), args.end());
        r = run(full);
        EXPECT_EQ(r.exitCode, 64) << (args.empty() ? "(none)" : args.front()) << ": " << r.err;
        EXPECT_FALSE(r.err.empty());
    }
    EXPECT_EQ(m_emulator->totalPackets(), 0);

    r = run({"--help"});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("pixkeyctl show KEY IMAGE"), std::string::npos);
    EXPECT_NE(r.out.find("pixkeyctl listen"), std::string::npos);
}

TEST_F(PixkeyctlTest, AKeypadThatDoesNotAnswerOrGoesAwayMidUploadIsAnError)
{
    m_emulator->setSilent(true);
    CtlRun r = run({"--port", link(), "on"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("does not answer"), std::string::npos) << r.err;
    m_emulator->setSilent(false);

    // Paced at the wire speed the upload takes about half a second; unplug in the middle of it.
    m_emulator->setPacing(true);
    const long linesBefore = m_emulator->packetCount(KeypadEmulator::WriteLine);
    Child child({"--port", link(), "show", "1", file("red.png"), "2", file("green.png"), "3", file("split.png")},
                file("stderr.txt"), nullptr);
    ASSERT_TRUE(m_emulator->waitForPackets(KeypadEmulator::WriteLine, linesBefore + 40, 60s));
    m_emulator->unplug();
    EXPECT_EQ(child.wait(), 1);
    EXPECT_NE(readFile(file("stderr.txt")).find("lost"), std::string::npos) << readFile(file("stderr.txt"));
}

TEST_F(PixkeyctlTest, OnOffAndBrightness)
{
    CtlRun r = run({"--port", link(), "off"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_FALSE(m_emulator->displayOn());
    r = run({"--port", link(), "brightness", "0"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(m_emulator->brightness(), 20);
    r = run({"--port", link(), "on"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_TRUE(m_emulator->displayOn());
    EXPECT_EQ(m_emulator->packetCount(KeypadEmulator::WriteLine), 0);
}

TEST_F(PixkeyctlTest, ListenPrintsPressesUntilInterruptedAndReportsALostLink)
{
    {
        Child child({"--port", link(), "listen", "--orientation", "1"}, file("stderr.txt"), nullptr);
        // Connected once the handshake's Ping and the first command went through.
        ASSERT_TRUE(m_emulator->waitForPackets(KeypadEmulator::SetBrightness, 1, 30s)) << readFile(file("stderr.txt"));
        m_emulator->press(1);
        ASSERT_TRUE(child.waitForOutput("key 3\n", 30s)) << child.output();
        m_emulator->press(2);
        ASSERT_TRUE(child.waitForOutput("key 2\n", 30s)) << child.output();
        m_emulator->pressBeforeNextAcknowledge(3); // arrives inside the next keep-alive's answer
        ASSERT_TRUE(child.waitForOutput("key 1\n", 30s)) << child.output();
        child.signal(SIGTERM);
        EXPECT_EQ(child.wait(), 0) << readFile(file("stderr.txt"));
        EXPECT_EQ(child.output(), "key 3\nkey 2\nkey 1\n");
    }
    {
        Child child({"--port", link(), "listen"}, file("stderr.txt"), nullptr);
        ASSERT_TRUE(m_emulator->waitForPackets(KeypadEmulator::SetBrightness, 2, 30s));
        child.signal(SIGINT);
        EXPECT_EQ(child.wait(), 0);
    }
    {
        Child child({"--port", link(), "listen"}, file("stderr.txt"), nullptr);
        ASSERT_TRUE(m_emulator->waitForPackets(KeypadEmulator::SetBrightness, 3, 30s));
        m_emulator->unplug();
        EXPECT_EQ(child.wait(), 1);
        EXPECT_NE(readFile(file("stderr.txt")).find("lost"), std::string::npos);
    }
}

} // namespace
