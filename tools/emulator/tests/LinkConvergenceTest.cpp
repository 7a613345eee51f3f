// The host's DeviceLink against the emulator: with the keypad answering late, the link still comes
// up and the keys end up showing exactly what was submitted.

#include "DeviceLink.h"
#include "KeypadEmulator.h"
#include "PixelTables.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>

using namespace std::chrono_literals;
using pixkey::KeypadEmulator;

namespace {

namespace fs = std::filesystem;

class Listener : public pixkey::DeviceListener, public pixkey::LinkObserver {
public:
    void OnKeyPressed(int key) override
    {
        std::lock_guard lk(m_lock);
        m_keys.push_back(key);
        m_changed.notify_all();
    }
    void OnConnectionChanged(int state) override
    {
        std::lock_guard lk(m_lock);
        m_state = state;
        m_changed.notify_all();
    }
    void onLinkError(pixkey::LinkError e) override
    {
        std::lock_guard lk(m_lock);
        if (pixkey::triggersRecovery(e))
            ++m_errors;
    }
    int takeErrors()
    {
        std::lock_guard lk(m_lock);
        return std::exchange(m_errors, 0);
    }
    int errors()
    {
        std::lock_guard lk(m_lock);
        return m_errors;
    }
    bool waitForKeys(size_t n, std::chrono::milliseconds limit)
    {
        std::unique_lock lk(m_lock);
        return m_changed.wait_for(lk, limit, [&] { return m_keys.size() >= n; });
    }
    std::vector<int> keys()
    {
        std::lock_guard lk(m_lock);
        return m_keys;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_keys;
    int m_state = 0;
    int m_errors = 0;
};

// A device picture with a pattern of its own per key: every row and column differs.
std::vector<uint8_t> pattern(int key)
{
    std::vector<uint8_t> p(pixkey::kPictureBytes);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            uint8_t *px = &p[y * pixkey::kRowBytes + x * 3];
            px[0] = static_cast<uint8_t>(x * 2 + key * 40);
            px[1] = static_cast<uint8_t>(y * 2 + key * 20);
            px[2] = static_cast<uint8_t>((x ^ y) + key * 60);
        }
    return p;
}

std::vector<uint16_t> converted(const std::vector<uint8_t> &picture)
{
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

// The start of the emulator's packet log, for failure messages: "cmd(arg1)" per packet, "!" marks a
// bad checksum.
std::string describeLog(const KeypadEmulator &emulator, size_t max = 60)
{
    std::string out;
    const auto log = emulator.packetLog();
    for (size_t i = 0; i < log.size() && i < max; ++i)
        out += std::to_string(log[i].command) + "(" + std::to_string(log[i].arg1) + ")" + (log[i].checksumOk ? " " : "! ");
    return out + "... " + std::to_string(log.size()) + " packets, " + std::to_string(emulator.bytesReceived()) + " bytes";
}

class LinkConvergenceTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_keypad.start());
        m_port = m_keypad.portVariable();
    }
    void TearDown() override
    {
        m_port.reset();
    }

    pixkey::test::EmulatedKeypad m_keypad;
    KeypadEmulator *const m_emulator = &m_keypad.emulator();
    std::unique_ptr<pixkey::test::EmulatedKeypad::PortVariable> m_port;
};

TEST_P(LinkConvergenceTest, LinkComesUpAndKeysShowTheSubmittedPictures)
{
    m_emulator->setLatency(std::chrono::microseconds(GetParam()));
    Listener listener;
    pixkey::DeviceLinkOptions options;
    options.observer = &listener;
    pixkey::DeviceLink link(&listener, std::move(options));

    // The application's routine on connecting, and the pictures.
    link.Connect();
    ASSERT_EQ(link.PostCommand(pixkey::LinkCommand::Ping, 0, true), 0) << describeLog(*m_emulator);
    ASSERT_TRUE(link.IsConnected());
    std::vector<std::vector<uint16_t>> expected;
    std::vector<std::vector<uint8_t>> pictures;
    for (int k = 1; k <= 3; ++k) {
        pictures.push_back(pattern(k));
        expected.push_back(converted(pictures.back()));
    }

    // Uploads go out until a pass meets no link error: lines sent while the two sides were out of
    // step may have gone astray, and a refresh sends them again. The link must settle.
    bool settled = false;
    for (int round = 0; round < 20 && !settled; ++round) {
        listener.takeErrors();
        link.PostCommand(pixkey::LinkCommand::DisplayOn, 0, false);
        link.PostCommand(pixkey::LinkCommand::DisplayOn, 0, false);
        link.PostCommand(pixkey::LinkCommand::SetBrightness, 60, false);
        link.RequestRefresh();
        for (int k = 1; k <= 3; ++k)
            link.SubmitFrame(k, pictures[k - 1].data(), true);
        ASSERT_EQ(link.PostCommand(pixkey::LinkCommand::Ping, 0, true), 0) << "link lost: " << describeLog(*m_emulator);
        settled = listener.errors() == 0;
    }
    ASSERT_TRUE(settled) << "the link kept meeting errors: " << describeLog(*m_emulator);
    for (int k = 1; k <= 3; ++k)
        EXPECT_TRUE(m_emulator->shownFrameRaw(k) == expected[k - 1]) << "key " << k << ": " << describeLog(*m_emulator);
    EXPECT_TRUE(m_emulator->displayOn());
    EXPECT_EQ(m_emulator->brightness(), 60);

    // And presses get through the settled link.
    m_emulator->press(2);
    m_emulator->pressBeforeNextAcknowledge(3);
    link.PostCommand(pixkey::LinkCommand::Ping, 0, true);
    ASSERT_TRUE(listener.waitForKeys(2, 30s));
    EXPECT_EQ(listener.keys(), (std::vector<int>{2, 3}));
}

INSTANTIATE_TEST_SUITE_P(AnswerLatencyUs, LinkConvergenceTest, ::testing::Values(0, 300, 1000, 2000, 3500, 5000));

} // namespace
