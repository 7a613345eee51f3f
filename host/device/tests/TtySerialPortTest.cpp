// The tty port on a pseudo-terminal: opening and its errors, line settings, reads, writes.
#include "TtySerialPort.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <pty.h>
#include <string>
#include <termios.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace pixkey {
namespace {

using namespace std::chrono_literals;

class Pty {
public:
    Pty()
    {
        char name[256];
        if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
            std::abort();
        m_path = name;
        termios t{};
        ::tcgetattr(m_master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(m_master, TCSANOW, &t);
        // Our own slave descriptor would keep the exclusive-use checks from applying to the
        // first open; the port under test opens the path itself.
        ::close(m_slave);
        m_slave = -1;
    }
    ~Pty() { closeMaster(); }
    void closeMaster()
    {
        if (m_master >= 0)
            ::close(m_master);
        m_master = -1;
    }
    int master() const { return m_master; }
    const std::string &path() const { return m_path; }

private:
    int m_master = -1, m_slave = -1;
    std::string m_path;
};

TEST(TtySerialPort, openErrorsSayWhy)
{
    TtySerialPort port;
    EXPECT_FALSE(port.OpenPort("/dev/no-such-keypad"));
    EXPECT_NE(port.lastOpenError().find("does not exist"), std::string::npos) << port.lastOpenError();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.path(), "/dev/no-such-keypad");

    char file[] = "/tmp/pixkey-port-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    EXPECT_FALSE(port.OpenPort(file));
    EXPECT_NE(port.lastOpenError().find("not a tty"), std::string::npos) << port.lastOpenError();
    ::unlink(file);

    TtySerialPort fresh;
    EXPECT_FALSE(fresh.OpenPort(nullptr)); // nothing to reopen
    EXPECT_FALSE(fresh.lastOpenError().empty());
}

TEST(TtySerialPort, permissionMessageNamesTheOwningGroup)
{
    char file[] = "/tmp/pixkey-port-XXXXXX";
    const int fd = ::mkstemp(file);
    ASSERT_GE(fd, 0);
    ::close(fd);
    struct stat st{};
    ASSERT_EQ(::stat(file, &st), 0);
    const group *g = ::getgrgid(st.st_gid);
    const std::string owner = g ? g->gr_name : std::to_string(st.st_gid);
    const std::string text = TtySerialPort::openErrorText(file, EACCES);
    ::unlink(file);
    EXPECT_NE(text.find("permission denied"), std::string::npos) << text;
    EXPECT_NE(text.find("\"" + owner + "\""), std::string::npos) << text;
    // The other way out, and one sentence for both: a tray tip or a terminal line.
    EXPECT_NE(text.find("udev rule"), std::string::npos) << text;
    EXPECT_EQ(text.find(". "), std::string::npos) << "one sentence: " << text;
    EXPECT_EQ(text.find(';'), std::string::npos) << "one sentence: " << text;
    // Without a file to look at, the usual group is suggested.
    EXPECT_NE(TtySerialPort::openErrorText("/dev/gone", EACCES).find("\"dialout\""), std::string::npos);
    EXPECT_NE(TtySerialPort::openErrorText("/dev/x", EBUSY).find("busy"), std::string::npos);
}

TEST(TtySerialPort, rawLineAtOneMegabaud)
{
    Pty pty;
    TtySerialPort port;
    ASSERT_TRUE(port.OpenPort(pty.path().c_str())) << port.lastOpenError();
    EXPECT_EQ(port.lastOpenError(), "");
    termios t{};
    ASSERT_EQ(::tcgetattr(port.pollFd(), &t), 0);
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B1000000));
    EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(t.c_cflag & (PARENB | CSTOPB), 0u);
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | ICRNL | ISTRIP), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
}

TEST(TtySerialPort, secondOpenIsBusy)
{
    Pty pty;
    TtySerialPort first, second;
    ASSERT_TRUE(first.OpenPort(pty.path().c_str()));
    EXPECT_FALSE(second.OpenPort(pty.path().c_str()));
    EXPECT_NE(second.lastOpenError().find("busy"), std::string::npos) << second.lastOpenError();
    first.ClosePort();
    EXPECT_TRUE(second.OpenPort(nullptr)) << second.lastOpenError(); // free again, same path
}

TEST(TtySerialPort, bytesBothWays)
{
    Pty pty;
    TtySerialPort port;
    ASSERT_TRUE(port.OpenPort(pty.path().c_str()));

    // Every byte value passes untranslated.
    std::vector<uint8_t> out(256);
    for (int i = 0; i < 256; ++i)
        out[i] = static_cast<uint8_t>(i);
    size_t written = 0;
    ASSERT_TRUE(port.WriteBytes(out.data(), out.size(), written));
    EXPECT_EQ(written, out.size());
    std::vector<uint8_t> in;
    while (in.size() < out.size()) {
        uint8_t buf[256];
        const ssize_t n = ::read(pty.master(), buf, sizeof buf);
        ASSERT_GT(n, 0);
        in.insert(in.end(), buf, buf + n);
    }
    EXPECT_EQ(in, out);

    uint8_t b = 0;
    bool got = true;
    port.SetReadTimeout(0ms);
    EXPECT_TRUE(port.ReadByte(b, got));
    EXPECT_FALSE(got); // nothing there: back at once
    port.SetReadTimeout(20ms);
    EXPECT_TRUE(port.ReadByte(b, got));
    EXPECT_FALSE(got);

    const uint8_t reply[] = {0x00, 0x0d, 0x11, 0xff};
    ASSERT_EQ(::write(pty.master(), reply, sizeof reply), 4);
    port.SetReadTimeout(1000ms);
    for (uint8_t expected : reply) {
        ASSERT_TRUE(port.ReadByte(b, got));
        ASSERT_TRUE(got);
        EXPECT_EQ(b, expected);
    }
}

TEST(TtySerialPort, waitsForAnAnswerThatComesLater)
{
    Pty pty;
    TtySerialPort port;
    ASSERT_TRUE(port.OpenPort(pty.path().c_str()));
    uint8_t b = 0;
    bool got = true;
    // A wait that runs out is a time-out, not a hang-up; 250 ms is two tenths in the tty layer
    // and the rest in poll.
    for (auto timeout : {100ms, 250ms}) {
        const auto t0 = std::chrono::steady_clock::now();
        EXPECT_TRUE(port.readByteWithin(b, got, timeout));
        EXPECT_FALSE(got);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, timeout - 10ms);
    }
    // An answer written while the port waits in the blocking read arrives at once.
    std::thread answer([&pty] {
        std::this_thread::sleep_for(20ms);
        const uint8_t a = 0xa5;
        EXPECT_EQ(::write(pty.master(), &a, 1), 1);
    });
    port.SetReadTimeout(5000ms);
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_TRUE(port.ReadByte(b, got));
    answer.join();
    EXPECT_TRUE(got);
    EXPECT_EQ(b, 0xa5);
    EXPECT_LT(std::chrono::steady_clock::now() - t0, 4000ms);
    // The same port still writes: the reading descriptor did not take over the line.
    const uint8_t packet[3] = {1, 2, 3};
    size_t written = 0;
    ASSERT_TRUE(port.WriteBytes(packet, sizeof packet, written));
    EXPECT_EQ(written, 3u);
}

TEST(TtySerialPort, writeLimitAndHangUp)
{
    Pty pty;
    TtySerialPort port;
    ASSERT_TRUE(port.OpenPort(pty.path().c_str()));
    port.setWriteLimit(50ms);
    // Nobody reads the other end: the write stops at the limit and says how far it got.
    std::vector<uint8_t> lots(1 << 20, 0x5a);
    size_t written = 0;
    EXPECT_TRUE(port.WriteBytes(lots.data(), lots.size(), written));
    EXPECT_LT(written, lots.size());

    // The other end goes away: reads and writes fail instead of waiting.
    pty.closeMaster();
    uint8_t b;
    bool got;
    port.SetReadTimeout(1000ms);
    EXPECT_FALSE(port.ReadByte(b, got)); // a wait would end with true and nothing got
    const uint8_t zero = 0;
    EXPECT_FALSE(port.WriteBytes(&zero, 1, written));

    port.ClosePort();
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.pollFd(), -1);
    EXPECT_FALSE(port.WriteBytes(&zero, 1, written));
    EXPECT_FALSE(port.ReadByte(b, got));
}

} // namespace
} // namespace pixkey
