// The link end to end over a pseudo-terminal against the keypad emulator.
#include "DeviceLink.h"
#include "FakeDevice.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <future>
#include <unistd.h>

namespace pixkey::test {
namespace {

std::vector<uint8_t> gradientPicture(int seed)
{
    std::vector<uint8_t> p(kPictureBytes);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            uint8_t *px = &p[y * kRowBytes + x * 3];
            px[0] = static_cast<uint8_t>(x * 2 + seed);
            px[1] = static_cast<uint8_t>(y * 2 + seed);
            px[2] = static_cast<uint8_t>((x + y + seed) * 3);
        }
    return p;
}

// What the emulator should show for a device picture: top-down RGB888 after the wire round trip.
std::vector<uint8_t> expectedShown(const PixelTables &t, const std::vector<uint8_t> &picture)
{
    std::vector<uint8_t> rgb(kPictureBytes);
    for (int i = 0; i < 96 * 96; ++i) {
        const uint16_t wire = t.convertPixel(picture[i * 3], picture[i * 3 + 1], picture[i * 3 + 2]);
        KeypadEmulator::rgbFromWire(wire, rgb[i * 3], rgb[i * 3 + 1], rgb[i * 3 + 2]);
    }
    return rgb;
}

class EmulatorLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(keypad.start());

        DeviceLinkOptions o;
        o.timings.ackTimeout = 1000ms;
        o.timings.recoveryWait = 10ms;
        o.timings.syncAnswerWait = 100ms; // generous: this machine may be busy
        o.observer = &observer;
        const auto port = keypad.portVariable();
        link = std::make_unique<DeviceLink>(&listener, std::move(o));
        link->Connect();
        ASSERT_TRUE(eventually([&] { return link->IsConnected(); }));
    }
    void TearDown() override
    {
        link.reset();
    }

    EmulatedKeypad keypad;
    KeypadEmulator *const emulator = &keypad.emulator();
    RecordingListener listener;
    RecordingObserver observer;
    std::unique_ptr<DeviceLink> link;
};

TEST_F(EmulatorLinkTest, picturesArriveAsPainted)
{
    EXPECT_EQ(link->portName(), "keypad");
    const auto first = gradientPicture(0), second = gradientPicture(40);
    EXPECT_EQ(link->SubmitFrame(1, first.data(), true), 0);
    EXPECT_EQ(link->SubmitFrame(3, second.data(), true), 0);
    const PixelTables tables = link->pixelTables();
    EXPECT_EQ(emulator->shownFrameRgb(1), expectedShown(tables, first));
    EXPECT_EQ(emulator->shownFrameRgb(3), expectedShown(tables, second));
    EXPECT_EQ(emulator->shownFrameRgb(2), std::vector<uint8_t>(kPictureBytes, 0));

    // A small change costs only its rows.
    auto changed = first;
    changed[50 * kRowBytes + 10] ^= 0xff;
    const long before = emulator->packetCount(KeypadEmulator::WriteLine);
    EXPECT_EQ(link->SubmitFrame(1, changed.data(), true), 0);
    EXPECT_EQ(emulator->packetCount(KeypadEmulator::WriteLine) - before, 1);
    EXPECT_EQ(emulator->shownFrameRgb(1), expectedShown(tables, changed));
}

TEST_F(EmulatorLinkTest, aSlowKeypadStaysInStep)
{
    // Answers that take several milliseconds must not let the handshake's zeros run ahead.
    emulator->setLatency(std::chrono::microseconds(5000));
    link->Connect(); // resynchronise against the slow keypad
    EXPECT_EQ(link->PostCommand(LinkCommand::SetBrightness, 40, true), 0);
    const auto picture = gradientPicture(21);
    EXPECT_EQ(link->SubmitFrame(2, picture.data(), true), 0);
    EXPECT_EQ(emulator->shownFrameRgb(2), expectedShown(link->pixelTables(), picture));
    EXPECT_EQ(emulator->badChecksumCount(), 0);
    EXPECT_EQ(emulator->brightness(), 40);
    EXPECT_TRUE(observer.errors().empty());
}

TEST_F(EmulatorLinkTest, pressesReachTheListener)
{
    emulator->press(2);
    ASSERT_TRUE(eventually([&] { return listener.presses() == std::vector<int>{2}; }));
    // A press in the middle of an upload is delivered too.
    emulator->pressAfterBytes(3, 1000);
    const auto picture = gradientPicture(7);
    EXPECT_EQ(link->SubmitFrame(2, picture.data(), true), 0);
    ASSERT_TRUE(eventually([&] { return listener.presses() == std::vector<int>{2, 3}; }));
    EXPECT_EQ(emulator->shownFrameRgb(2), expectedShown(link->pixelTables(), picture));
}

TEST_F(EmulatorLinkTest, unplugDuringAnUploadAndReplug)
{
    emulator->setPacing(true); // a whole key takes about 0.2 s on the wire
    const auto picture = gradientPicture(90);
    auto upload = std::async(std::launch::async, [&] { return link->SubmitFrame(1, picture.data(), true); });
    ASSERT_TRUE(emulator->waitForPackets(KeypadEmulator::WriteLine, 10, 5000ms));
    emulator->unplug();
    ASSERT_EQ(upload.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(upload.get(), -1);
    ASSERT_TRUE(eventually([&] { return !link->IsConnected(); }));
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0}));
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0})); // reported lost once

    std::string error;
    ASSERT_TRUE(emulator->replug(&error)) << error;
    emulator->setPacing(false);
    link->Connect();
    ASSERT_TRUE(eventually([&] { return link->IsConnected(); }));
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0, 1}));
    link->RequestRefresh(); // what the application does on every connection
    const auto expected = expectedShown(link->pixelTables(), picture);
    EXPECT_TRUE(emulator->waitUntil([&] { return emulator->shownFrameRgb(1) == expected; }, 5000ms));
}

} // namespace
} // namespace pixkey::test
