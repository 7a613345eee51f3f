// The emulator's side of the wire, driven byte by byte through its pseudo-terminal.

#include "KeypadEmulator.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <gtest/gtest.h>
#include <png.h>

#include <array>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;
using pixkey::KeypadEmulator;

namespace {

namespace fs = std::filesystem;

std::array<uint8_t, 197> makePacket(uint8_t cmd, uint8_t a1 = 0, uint8_t a2 = 0, uint8_t a3 = 0,
                                    const std::vector<uint8_t> &data = {})
{
    std::array<uint8_t, 197> p{};
    p[0] = cmd;
    p[1] = a1;
    p[2] = a2;
    p[3] = a3;
    std::copy(data.begin(), data.end(), p.begin() + 4);
    unsigned sum = 0;
    for (int i = 0; i < 196; ++i)
        sum += p[i];
    p[196] = static_cast<uint8_t>(sum);
    return p;
}

// A host end of the emulated port: raw, with bounded reads.
class HostEnd {
public:
    explicit HostEnd(const std::string &path)
    {
        m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (m_fd >= 0) {
            termios tio{};
            tcgetattr(m_fd, &tio);
            cfmakeraw(&tio);
            tcsetattr(m_fd, TCSANOW, &tio);
        }
    }
    ~HostEnd()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool ok() const { return m_fd >= 0; }
    int fd() const { return m_fd; }

    bool write(const uint8_t *data, size_t n)
    {
        return ::write(m_fd, data, n) == static_cast<ssize_t>(n);
    }
    bool write(const std::array<uint8_t, 197> &p) { return write(p.data(), p.size()); }
    bool writeZeros(size_t n)
    {
        std::vector<uint8_t> z(n, 0);
        return write(z.data(), n);
    }

    // Reads exactly n bytes or fails after `limit`.
    std::vector<uint8_t> read(size_t n, std::chrono::milliseconds limit = 5s)
    {
        std::vector<uint8_t> out;
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (out.size() < n) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            pollfd pfd{m_fd, POLLIN, 0};
            if (::poll(&pfd, 1, static_cast<int>(left.count())) <= 0)
                break;
            uint8_t b[256];
            ssize_t got = ::read(m_fd, b, std::min(sizeof b, n - out.size()));
            if (got <= 0)
                break;
            out.insert(out.end(), b, b + got);
        }
        return out;
    }

    // True when nothing arrives within `quiet`.
    bool silentFor(std::chrono::milliseconds quiet)
    {
        pollfd pfd{m_fd, POLLIN, 0};
        return ::poll(&pfd, 1, static_cast<int>(quiet.count())) == 0;
    }

private:
    int m_fd = -1;
};

class EmulatorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_keypad.start());
        m_host = std::make_unique<HostEnd>(m_emulator->linkPath());
        ASSERT_TRUE(m_host->ok());
    }
    void TearDown() override
    {
        m_host.reset();
    }

    // One line of a solid colour, as wire bytes.
    static std::vector<uint8_t> solidLine(uint16_t pixel)
    {
        std::vector<uint8_t> d(192);
        for (int i = 0; i < 96; ++i) {
            d[2 * i] = static_cast<uint8_t>(pixel >> 8);
            d[2 * i + 1] = static_cast<uint8_t>(pixel);
        }
        return d;
    }

    // Uploads a whole key of one colour, acknowledging each packet, and shows it.
    void uploadSolid(int key, uint16_t pixel, bool show = true)
    {
        for (int line = 0; line < 96; ++line) {
            const int offset = line * 192;
            auto p = makePacket(KeypadEmulator::WriteLine, static_cast<uint8_t>(key),
                                static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset), solidLine(pixel));
            ASSERT_TRUE(m_host->write(p));
            const auto ack = m_host->read(p[196] <= 1 ? 2 : 1);
            ASSERT_FALSE(ack.empty());
            ASSERT_EQ(ack.back(), p[196]);
        }
        if (show) {
            auto p = makePacket(KeypadEmulator::ShowFrame, static_cast<uint8_t>(key));
            ASSERT_TRUE(m_host->write(p));
            ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
        }
    }

    pixkey::test::EmulatedKeypad m_keypad;
    KeypadEmulator *const m_emulator = &m_keypad.emulator();
    std::unique_ptr<HostEnd> m_host;
};

TEST_F(EmulatorTest, AcknowledgesWithChecksumAndZeroPrefixForZeroAndOne)
{
    // Ping: checksum 0, answered 0x00 0x00.
    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::Ping)));
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x00, 0x00}));

    // WriteLine to key 0 at offset 0 with no data: checksum 1, answered 0x00 0x01.
    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::WriteLine)));
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x00, 0x01}));

    // SetBrightness 20: checksum 29, answered by the bare checksum, and the level taken.
    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::SetBrightness, 20)));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{29});
    EXPECT_TRUE(m_host->silentFor(20ms));
    EXPECT_EQ(m_emulator->brightness(), 20);

    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::DisplayOff)));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{3});
    EXPECT_FALSE(m_emulator->displayOn());

    EXPECT_EQ(m_emulator->packetCount(KeypadEmulator::Ping), 1);
    EXPECT_EQ(m_emulator->packetCount(KeypadEmulator::SetBrightness), 1);
    EXPECT_EQ(m_emulator->totalPackets(), 4);
    const auto log = m_emulator->packetLog();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[2].command, KeypadEmulator::SetBrightness);
    EXPECT_EQ(log[2].arg1, 20);
    EXPECT_TRUE(log[2].checksumOk);
    EXPECT_LE(log[0].time, log[3].time);
}

TEST_F(EmulatorTest, BadChecksumIsAnsweredWithZeroAndAnotherByteAndHasNoEffect)
{
    for (uint8_t wrong : {uint8_t(0x00), uint8_t(0x45 ^ 0x80), uint8_t(0xBA), uint8_t(0x46)}) {
        auto p = makePacket(KeypadEmulator::SetBrightness, 60); // checksum 69
        p[196] = wrong;
        ASSERT_TRUE(m_host->write(p));
        const auto answer = m_host->read(2);
        ASSERT_EQ(answer.size(), 2u);
        EXPECT_EQ(answer[0], 0x00);
        EXPECT_NE(answer[1], wrong) << "must not look like an acknowledgement of what was received";
        EXPECT_NE(answer[1], 69) << "must not look like an acknowledgement of what the host sent";
    }
    EXPECT_EQ(m_emulator->brightness(), 60);
    EXPECT_EQ(m_emulator->badChecksumCount(), 4);
    EXPECT_FALSE(m_emulator->packetLog().back().checksumOk);
}

TEST_F(EmulatorTest, LinesGoToMemoryAndShowFrameCopiesThemToTheScreen)
{
    // Line 0 of key 2: pixel 0 red, the rest black; line 95 at offset 0x47 0x40 all blue.
    std::vector<uint8_t> line0(192, 0);
    line0[0] = 0xF8;
    line0[1] = 0x00;
    auto p = makePacket(KeypadEmulator::WriteLine, 2, 0, 0, line0);
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    p = makePacket(KeypadEmulator::WriteLine, 2, 0x47, 0x40, solidLine(0x001F));
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    // A line for key 4 changes nothing, one that runs past the end of memory is cut; both are
    // still acknowledged.
    p = makePacket(KeypadEmulator::WriteLine, 4, 0, 0, solidLine(0xFFFF));
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    p = makePacket(KeypadEmulator::WriteLine, 1, 0x47, 0xFE, solidLine(0xFFFF));
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});

    const auto memory = m_emulator->frameMemory(2);
    ASSERT_EQ(memory.size(), 9216u);
    EXPECT_EQ(memory[0], 0xF800);
    EXPECT_EQ(memory[1], 0x0000);
    EXPECT_EQ(memory[95 * 96 + 10], 0x001F);
    EXPECT_EQ(m_emulator->shownFrameRaw(2)[0], 0) << "not shown before ShowFrame";
    EXPECT_EQ(m_emulator->frameMemory(1)[9215], 0xFFFF) << "the part of the line that fits";
    EXPECT_EQ(m_emulator->frameMemory(3)[0], 0);

    p = makePacket(KeypadEmulator::ShowFrame, 2);
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    EXPECT_EQ(m_emulator->shownFrameRaw(2), memory);

    // Line 0, first pixel = bottom-right corner of the picture; line 95 = top row.
    const auto rgb = m_emulator->shownFrameRgb(2);
    ASSERT_EQ(rgb.size(), 27648u);
    const uint8_t *bottomRight = &rgb[(95 * 96 + 95) * 3];
    EXPECT_EQ(bottomRight[0], 255);
    EXPECT_EQ(bottomRight[1], 0);
    EXPECT_EQ(bottomRight[2], 0);
    EXPECT_EQ(rgb[(0 * 96 + 40) * 3 + 2], 255) << "top row blue";
    EXPECT_EQ(rgb[(95 * 96 + 94) * 3 + 0], 0);
    EXPECT_TRUE(m_emulator->shownFrameRgb(0).empty());
    EXPECT_TRUE(m_emulator->shownFrameRaw(4).empty());
}

TEST_F(EmulatorTest, PressesArriveMidPacketAndBeforeAnAcknowledgement)
{
    // A press while the device holds the first 100 bytes of a packet.
    const auto p = makePacket(KeypadEmulator::SetBrightness, 40); // checksum 49
    ASSERT_TRUE(m_host->write(p.data(), 100));
    ASSERT_TRUE(m_emulator->waitUntil([&] { return m_emulator->bytesReceived() == 100; }, 5s));
    m_emulator->press(2);
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x01, 0x02}));
    ASSERT_TRUE(m_host->write(p.data() + 100, 97));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{49});

    // A press scheduled after 150 more bytes lands between the bytes of the next packet.
    m_emulator->pressAfterBytes(3, 150);
    ASSERT_TRUE(m_host->write(p.data(), 149));
    EXPECT_TRUE(m_host->silentFor(20ms));
    ASSERT_TRUE(m_host->write(p.data() + 149, 1));
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x01, 0x03}));
    ASSERT_TRUE(m_host->write(p.data() + 150, 47));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{49});

    // Presses queued for the next acknowledgement come right before it, bad key numbers as given.
    m_emulator->pressBeforeNextAcknowledge(1);
    m_emulator->pressBeforeNextAcknowledge(0);
    ASSERT_TRUE(m_host->write(p));
    EXPECT_EQ(m_host->read(5), (std::vector<uint8_t>{0x01, 0x01, 0x01, 0x00, 49}));
}

TEST_F(EmulatorTest, ZerosAfterACompletedPacketStartTheNextOne)
{
    // A handshake that overshoots: 197 zeros complete a Ping, 5 more start the next packet.
    ASSERT_TRUE(m_host->writeZeros(202));
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x00, 0x00}));
    EXPECT_TRUE(m_host->silentFor(20ms));

    // The host's DisplayOff (checksum 3) now completes the device's packet after 192 of its
    // bytes: the device sees a Ping whose checksum byte is a zero of the data and that sums to 3.
    // Its answer must not read as an acknowledgement of the DisplayOff.
    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::DisplayOff)));
    const auto first = m_host->read(2);
    ASSERT_EQ(first.size(), 2u);
    EXPECT_EQ(first[0], 0x00);
    EXPECT_NE(first[1], 3);
    EXPECT_EQ(m_emulator->packetCount(KeypadEmulator::Ping), 2);
    EXPECT_EQ(m_emulator->packetCount(KeypadEmulator::DisplayOff), 0);
    EXPECT_TRUE(m_emulator->displayOn());

    // The last 5 bytes of the DisplayOff began another packet; a handshake's zeros complete it
    // (again answered as bad), and then the device is back in step.
    ASSERT_TRUE(m_host->writeZeros(192));
    const auto second = m_host->read(2);
    ASSERT_EQ(second.size(), 2u);
    EXPECT_EQ(second[0], 0x00);
    EXPECT_NE(second[1], 0x00);
    ASSERT_TRUE(m_host->write(makePacket(KeypadEmulator::DisplayOff)));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{3});
    EXPECT_FALSE(m_emulator->displayOn());
    EXPECT_EQ(m_emulator->bytesReceived(), 202 + 197 + 192 + 197);
}

TEST_F(EmulatorTest, FaultsSilenceBadAcknowledgementsAndGarbage)
{
    const auto p = makePacket(KeypadEmulator::SetBrightness, 60); // checksum 69
    m_emulator->setSilent(true);
    ASSERT_TRUE(m_host->write(p));
    ASSERT_TRUE(m_emulator->waitForPackets(KeypadEmulator::SetBrightness, 1, 5s));
    EXPECT_TRUE(m_host->silentFor(50ms));
    m_emulator->setSilent(false);

    m_emulator->setBadAcknowledgements(1);
    ASSERT_TRUE(m_host->write(p));
    const auto bad = m_host->read(2);
    ASSERT_EQ(bad.size(), 2u);
    EXPECT_EQ(bad[0], 0x00);
    EXPECT_NE(bad[1], 69);
    ASSERT_TRUE(m_host->write(p));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{69}) << "only the given number of bad answers";

    m_emulator->setGarbageBeforeAcknowledgements(1, 5);
    ASSERT_TRUE(m_host->write(p));
    const auto noisy = m_host->read(6);
    ASSERT_EQ(noisy.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_GT(noisy[i], 0x01);
        EXPECT_NE(noisy[i], 69);
    }
    EXPECT_EQ(noisy[5], 69);

    m_emulator->sendGarbage({0xAA, 0x55});
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0xAA, 0x55}));
}

TEST_F(EmulatorTest, UnplugRemovesTheLinkAndReplugBringsAFreshDeviceUnderTheSamePath)
{
    uploadSolid(1, 0xFFFF);
    ASSERT_EQ(m_emulator->shownFrameRaw(1)[500], 0xFFFF);
    const std::string link = m_emulator->linkPath();

    m_emulator->unplug();
    EXPECT_FALSE(m_emulator->isPlugged());
    struct stat st{};
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link path vanishes";
    const auto ping = makePacket(KeypadEmulator::Ping);
    // The old device end is dead: writing fails, or nothing ever answers.
    if (m_host->write(ping)) {
        const auto r = m_host->read(1, 100ms);
        EXPECT_TRUE(r.empty());
    }
    EXPECT_TRUE(::access(link.c_str(), F_OK) != 0);

    std::string error;
    ASSERT_TRUE(m_emulator->replug(&error)) << error;
    EXPECT_TRUE(m_emulator->isPlugged());
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(fs::read_symlink(link).string(), m_emulator->devicePath());

    m_host = std::make_unique<HostEnd>(link);
    ASSERT_TRUE(m_host->ok());
    ASSERT_TRUE(m_host->write(ping));
    EXPECT_EQ(m_host->read(2), (std::vector<uint8_t>{0x00, 0x00}));
    EXPECT_EQ(m_emulator->shownFrameRaw(1)[500], 0) << "a replugged keypad starts black";

    m_emulator->stop();
    EXPECT_NE(::lstat(link.c_str(), &st), 0) << "the link is removed on stop";
}

TEST_F(EmulatorTest, LatencyAndPacingDelayTheAnswer)
{
    using Clock = std::chrono::steady_clock;
    const auto p = makePacket(KeypadEmulator::SetBrightness, 60);

    m_emulator->setLatency(30ms);
    auto t0 = Clock::now();
    ASSERT_TRUE(m_host->write(p));
    EXPECT_EQ(m_host->read(1), std::vector<uint8_t>{69});
    EXPECT_GE(Clock::now() - t0, 30ms);

    // Paced, 50 packets written at once take at least 50 x 197 bytes x 10 us on the wire.
    m_emulator->setLatency(0ms);
    m_emulator->setPacing(true);
    std::vector<uint8_t> burst;
    for (int i = 0; i < 50; ++i)
        burst.insert(burst.end(), p.begin(), p.end());
    t0 = Clock::now();
    ASSERT_TRUE(m_host->write(burst.data(), burst.size()));
    EXPECT_EQ(m_host->read(50, 10s), std::vector<uint8_t>(50, 69));
    EXPECT_GE(Clock::now() - t0, std::chrono::microseconds(50 * 197 * 10));
}

// Reads a PNG into RGB888.
std::vector<uint8_t> readPng(const std::string &path, int &width, int &height)
{
    png_image img{};
    img.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&img, path.c_str()))
        return {};
    img.format = PNG_FORMAT_RGB;
    std::vector<uint8_t> out(PNG_IMAGE_SIZE(img));
    if (!png_image_finish_read(&img, nullptr, out.data(), 0, nullptr))
        return {};
    width = static_cast<int>(img.width);
    height = static_cast<int>(img.height);
    return out;
}

TEST_F(EmulatorTest, PngShowsTheThreeKeysDimmedByBrightnessAndBlackWhenOff)
{
    uploadSolid(1, 0xF800);          // red
    uploadSolid(2, 0x07E0);          // green
    uploadSolid(3, 0x001F, false);   // blue, uploaded but not shown
    const std::string png = m_keypad.folder() + "/keys.png";
    std::string error;
    ASSERT_TRUE(m_emulator->writePng(png, &error)) << error;

    int w = 0, h = 0;
    auto rgb = readPng(png, w, h);
    ASSERT_FALSE(rgb.empty());
    ASSERT_GT(w, 3 * 96);
    ASSERT_GT(h, 96);
    auto pixelAt = [&](int key, int dx, int dy) {
        const int x0 = KeypadEmulator::kPngMargin + (key - 1) * (96 + KeypadEmulator::kPngGap);
        const uint8_t *px = &rgb[((KeypadEmulator::kPngMargin + dy) * w + x0 + dx) * 3];
        return std::array<int, 3>{px[0], px[1], px[2]};
    };
    EXPECT_EQ(pixelAt(1, 48, 48), (std::array<int, 3>{255, 0, 0}));
    EXPECT_EQ(pixelAt(2, 0, 0), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(pixelAt(2, 95, 95), (std::array<int, 3>{0, 255, 0}));
    EXPECT_EQ(pixelAt(3, 48, 48), (std::array<int, 3>{0, 0, 0}));
    const uint8_t *corner = &rgb[0];
    EXPECT_LT(corner[0] + corner[1] + corner[2], 3 * 80) << "a dark keypad body";

    auto p = makePacket(KeypadEmulator::SetBrightness, 20);
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    ASSERT_TRUE(m_emulator->writePng(png, &error)) << error;
    rgb = readPng(png, w, h);
    EXPECT_EQ(pixelAt(1, 48, 48), (std::array<int, 3>{85, 0, 0}));

    p = makePacket(KeypadEmulator::DisplayOff);
    ASSERT_TRUE(m_host->write(p));
    ASSERT_EQ(m_host->read(1), std::vector<uint8_t>{p[196]});
    ASSERT_TRUE(m_emulator->writePng(png, &error)) << error;
    rgb = readPng(png, w, h);
    EXPECT_EQ(pixelAt(1, 48, 48), (std::array<int, 3>{0, 0, 0}));
    EXPECT_EQ(pixelAt(2, 48, 48), (std::array<int, 3>{0, 0, 0}));

    EXPECT_FALSE(m_emulator->writePng(m_keypad.folder() + "/missing/dir/keys.png", &error));
    EXPECT_FALSE(error.empty());
}

TEST(EmulatorStartTest, StartFailsCleanlyWhenTheLinkCannotBeMadeAndNeverClobbersAFile)
{
    KeypadEmulator emulator("/nonexistent-dir-for-pixkey/keypad");
    std::string error;
    EXPECT_FALSE(emulator.start(&error));
    EXPECT_NE(error.find("/nonexistent-dir-for-pixkey/keypad"), std::string::npos);
    EXPECT_FALSE(emulator.isRunning());
    EXPECT_FALSE(emulator.replug(&error));

    char tmpl[] = "/tmp/pixkey-emu-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    {
        // A user's file at the path stays as it is.
        std::ofstream(dir + "/notes.txt") << "keep me";
        KeypadEmulator onFile(dir + "/notes.txt");
        EXPECT_FALSE(onFile.start(&error));
        EXPECT_NE(error.find("not a link"), std::string::npos) << error;
        std::ifstream in(dir + "/notes.txt");
        std::string text;
        std::getline(in, text);
        EXPECT_EQ(text, "keep me");

        // A stale link of a killed emulator is replaced.
        ASSERT_EQ(::symlink("/dev/pts/does-not-exist", (dir + "/keypad").c_str()), 0);
        KeypadEmulator onStale(dir + "/keypad");
        ASSERT_TRUE(onStale.start(&error)) << error;
        EXPECT_EQ(fs::read_symlink(dir + "/keypad").string(), onStale.devicePath());
    }
    fs::remove_all(dir);
}

TEST(EmulatorStartTest, WireColoursWidenByBitReplication)
{
    uint8_t r, g, b;
    KeypadEmulator::rgbFromWire(0xFFFF, r, g, b);
    EXPECT_EQ((std::array<int, 3>{r, g, b}), (std::array<int, 3>{255, 255, 255}));
    KeypadEmulator::rgbFromWire(0x8410, r, g, b); // 16, 32, 16
    EXPECT_EQ((std::array<int, 3>{r, g, b}), (std::array<int, 3>{132, 130, 132}));
}

} // namespace
