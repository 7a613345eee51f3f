// Frame slots and the worker: change detection, round robin, hold-and-show, waiting callers,
// keep-alive and shutdown.
#include "FrameTransform.h"
#include "LinkTestFixture.h"

#include <future>
#include <thread>

namespace pixkey::test {
namespace {

// The command bytes of the packets after the handshake, with consecutive repeats folded and
// keep-alives left out: e.g. "W1 W2 S1 S2" for lines of key 1, lines of key 2, ShowFrame 1, 2.
std::string sequence(const std::vector<LinkPacket> &packets)
{
    std::string out, last;
    for (const LinkPacket &p : packets) {
        std::string item;
        if (p[0] == static_cast<uint8_t>(LinkCommand::WriteLine))
            item = "W" + std::to_string(p[1]);
        else if (p[0] == static_cast<uint8_t>(LinkCommand::ShowFrame))
            item = "S" + std::to_string(p[1]);
        else
            continue;
        if (item == last && item[0] == 'W')
            continue;
        if (!out.empty())
            out += ' ';
        out += item;
        last = item;
    }
    return out;
}

std::vector<uint8_t> wireLine(const PixelTables &t, const std::vector<uint8_t> &picture, int row)
{
    std::vector<uint8_t> wire(192);
    t.ConvertLine(picture.data() + row * kRowBytes, wire.data());
    return wire;
}

std::vector<uint8_t> dataOf(const LinkPacket &p) { return std::vector<uint8_t>(p.begin() + 4, p.begin() + 196); }

TEST_F(LinkTest, onlyTheChangedBandIsUploaded)
{
    connect();
    device->clearLog();
    auto picture = solidPicture(0, 0, 0);
    for (int row = 10; row <= 20; ++row)
        for (int x = 0; x < kRowBytes; ++x)
            picture[row * kRowBytes + x] = static_cast<uint8_t>(row * 11 + x);
    EXPECT_EQ(link->SubmitFrame(1, picture.data(), true), 0);

    const auto sent = lines();
    ASSERT_EQ(sent.size(), 11u);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(sent[i], std::make_pair(1, 75 + i)); // rows 20..10 as wire lines 75..85
    EXPECT_EQ(sequence(device->packets()), "W1 S1");
    const auto packets = device->packets(LinkCommand::WriteLine);
    EXPECT_EQ(dataOf(packets[0]), wireLine(link->pixelTables(), picture, 20));
    EXPECT_EQ(dataOf(packets[10]), wireLine(link->pixelTables(), picture, 10));

    // The same picture again: nothing to do, even when waiting.
    EXPECT_EQ(link->SubmitFrame(1, picture.data(), true), 0);
    EXPECT_EQ(lines().size(), 11u);
}

TEST_F(LinkTest, submissionsAreChecked)
{
    makeLink();
    const auto picture = solidPicture(1, 2, 3);
    EXPECT_EQ(link->SubmitFrame(0, picture.data(), false), -1);
    EXPECT_EQ(link->SubmitFrame(4, picture.data(), true), -1);
    EXPECT_EQ(link->SubmitFrame(2, nullptr, true), -1);
}

TEST_F(LinkTest, whileDisconnectedWorkIsConsumedAndFails)
{
    makeLink();
    const auto picture = solidPicture(10, 200, 30);
    EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOn, 0, true), -1);
    EXPECT_EQ(link->SubmitFrame(2, picture.data(), true), -1);
    EXPECT_TRUE(device->packets().empty());

    // The failed picture counts as shown; a refresh after connecting sends it whole.
    connect();
    device->clearLog();
    link->RequestRefresh();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 3; }));
    EXPECT_EQ(sequence(device->packets()), "W1 S1 W2 S2 W3 S3");
    const auto packets = device->packets(LinkCommand::WriteLine);
    ASSERT_EQ(packets.size(), 3u * 96);
    EXPECT_EQ(dataOf(packets[96 + 40]), wireLine(link->pixelTables(), picture, 55));
}

TEST_F(LinkTest, supersededAndRevertedPicturesCostNothing)
{
    connect();
    const auto black = solidPicture(0, 0, 0);
    const auto white = solidPicture(255, 255, 255);
    device->gateNext(LinkCommand::DisplayOff);
    link->PostCommand(LinkCommand::DisplayOff, 0, false);
    ASSERT_TRUE(device->waitGated());

    // A waiting submission is answered 0 as soon as a newer picture replaces it.
    auto waiting = std::async(std::launch::async, [&] { return link->SubmitFrame(2, white.data(), true); });
    ASSERT_TRUE(eventually([&] { return link->waitingCallers() == 1; }));
    EXPECT_EQ(waiting.wait_for(0ms), std::future_status::timeout);
    EXPECT_EQ(link->SubmitFrame(2, black.data(), false), 0); // back to what the key shows
    ASSERT_EQ(waiting.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(waiting.get(), 0);

    device->release();
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), 0);
    EXPECT_TRUE(lines().empty());

    // The dropped white picture must not come back with a refresh.
    link->SetGamma(1.0);
    link->RequestRefresh();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 3; }));
    for (const LinkPacket &p : device->packets(LinkCommand::WriteLine))
        ASSERT_EQ(dataOf(p), std::vector<uint8_t>(192, 0)) << "key " << int(p[1]);
}

TEST_F(LinkTest, refreshUsesTheNewTables)
{
    connect();
    const auto picture = solidPicture(90, 140, 190);
    EXPECT_EQ(link->SubmitFrame(3, picture.data(), true), 0);
    link->SetGamma(1.3);
    link->SetWhiteBalance(6500);
    device->clearLog();
    link->RequestRefresh();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 3; }));
    PixelTables expected;
    expected.SetGamma(1.3);
    expected.SetWhiteBalance(6500);
    const auto packets = device->packets(LinkCommand::WriteLine);
    ASSERT_EQ(packets.size(), 3u * 96);
    EXPECT_EQ(dataOf(packets[2 * 96]), wireLine(expected, picture, 95));
}

TEST_F(LinkTest, keysAreServedRoundRobin)
{
    connect();
    device->clearLog();
    device->gateNext(LinkCommand::WriteLine);
    const auto a = solidPicture(1, 1, 1), b = solidPicture(2, 2, 2);
    link->SubmitFrame(1, a.data(), false);
    ASSERT_TRUE(device->waitGated());
    link->SubmitFrame(3, a.data(), false);
    link->SubmitFrame(2, a.data(), false);
    link->SubmitFrame(1, b.data(), false);
    device->release();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 4; }));
    EXPECT_EQ(sequence(device->packets()), "W1 S1 W2 S2 W3 S3 W1 S1");
}

TEST_F(LinkTest, heldKeysAreShownTogether)
{
    connect();
    device->clearLog();
    device->gateNext(LinkCommand::DisplayOn);
    link->PostCommand(LinkCommand::DisplayOn, 0, false);
    ASSERT_TRUE(device->waitGated());
    link->HoldDisplayUntilAllSent();
    const auto a = solidPicture(5, 6, 7), b = solidPicture(8, 9, 10), c = solidPicture(11, 12, 13);
    link->SubmitFrame(3, c.data(), false);
    link->SubmitFrame(1, a.data(), false);
    link->SubmitFrame(2, b.data(), false);
    device->release();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 3; }));
    EXPECT_EQ(sequence(device->packets()), "W1 W2 W3 S1 S2 S3");

    // Afterwards uploads are shown at once again.
    link->SubmitFrame(2, a.data(), true);
    EXPECT_EQ(sequence(device->packets()), "W1 W2 W3 S1 S2 S3 W2 S2");
}

TEST_F(LinkTest, aHoldWithNothingToHoldReleasesKeysUploadedUnderTheLastOne)
{
    // Two switches in a row: the second holds the display while the first one's upload of key 1
    // is on the wire, and its own pictures equal what is being uploaded, so nothing new comes.
    // Key 1 must still be shown.
    connect();
    device->clearLog();
    const auto a = solidPicture(5, 6, 7);
    device->gateNext(LinkCommand::WriteLine);
    link->HoldDisplayUntilAllSent();
    link->SubmitFrame(1, a.data(), false);
    ASSERT_TRUE(device->waitGated());
    link->HoldDisplayUntilAllSent();
    link->SubmitFrame(1, a.data(), false);
    device->release();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 1; }));
    EXPECT_EQ(sequence(device->packets()), "W1 S1");

    // And the next upload is live again.
    const auto b = solidPicture(8, 9, 10);
    EXPECT_EQ(link->SubmitFrame(2, b.data(), true), 0);
    EXPECT_EQ(sequence(device->packets()), "W1 S1 W2 S2");
}

TEST_F(LinkTest, holdingTwoOfThreeKeysShowsWhenThoseTwoAreDone)
{
    connect();
    device->clearLog();
    device->gateNext(LinkCommand::DisplayOn);
    link->PostCommand(LinkCommand::DisplayOn, 0, false);
    ASSERT_TRUE(device->waitGated());
    link->HoldDisplayUntilAllSent();
    const auto a = solidPicture(50, 60, 70);
    link->SubmitFrame(3, a.data(), false);
    link->SubmitFrame(1, a.data(), false);
    device->release();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 2; }));
    EXPECT_EQ(sequence(device->packets()), "W1 W3 S1 S3");
}

TEST_F(LinkTest, waitingCallsOnTheWorkerThread)
{
    connect();
    const auto picture = solidPicture(0, 0, 255);
    std::atomic<int> submitted{99}, posted{99};
    listener.onPress = [&](int) {
        submitted = link->SubmitFrame(1, picture.data(), true);
        posted = link->PostCommand(LinkCommand::SetBrightness, 40, true);
    };
    device->send({0x01, 0x01});
    ASSERT_TRUE(eventually([&] { return posted.load() != 99; }));
    EXPECT_EQ(submitted.load(), -1);
    EXPECT_EQ(posted.load(), 0); // sent directly
    EXPECT_EQ(device->packetCount(LinkCommand::SetBrightness), 1u);
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), 0);
    EXPECT_TRUE(lines().empty()); // the refused picture was not submitted
}

TEST_F(LinkTest, disconnectClosesQuietly)
{
    connect();
    link->Disconnect();
    EXPECT_FALSE(link->IsConnected());
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
    EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOff, 0, true), -1);
    link->Disconnect();
    connect();
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 1}));
}

TEST_F(LinkTest, disconnectFromTheListenerMidPacketStaysDisconnected)
{
    connect();
    listener.onPress = [&](int) { link->Disconnect(); };
    scriptAnswers({{0x01, 0x02, 0x00, 0x00}}); // a press arrives before the acknowledgement
    EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOff, 0, true), -1);
    EXPECT_FALSE(link->IsConnected());
    EXPECT_EQ(device->opens(), 1); // the failed read on the closed port did not reopen it
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
    EXPECT_EQ(device->packetCount(LinkCommand::DisplayOff), 1u);
}

TEST_F(LinkTest, blankGoesToTheOrientedKey)
{
    connect();
    const auto white = solidPicture(255, 255, 255);
    EXPECT_EQ(link->SubmitFrame(3, white.data(), true), 0);
    device->clearLog();
    SendBlank(*link, 1, 0); // turned over: slot 0 is key 3
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::ShowFrame) == 1; }));
    EXPECT_EQ(sequence(device->packets()), "W3 S3");
    for (const LinkPacket &p : device->packets(LinkCommand::WriteLine))
        ASSERT_EQ(dataOf(p), std::vector<uint8_t>(192, 0));
}

TEST_F(LinkTest, keepAliveFollowsTheClock)
{
    connect();
    device->clearLog();
    // A command the worker answers is served after the keep-alive's clock reading was renewed.
    const auto settle = [&] { EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOff, 0, true), 0); };

    clock->advance(1000ms);
    settle();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->packetCount(LinkCommand::Ping), 0u); // not more than a second yet

    clock->advance(1ms);
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::Ping) == 1; }));
    settle();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(device->packetCount(LinkCommand::Ping), 1u); // the clock stands still: once only

    clock->advance(1001ms);
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::Ping) == 2; }));
    settle();

    clock->advance(60000ms); // asleep for a minute
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::DisplayOn) == 1; }));
    EXPECT_EQ(device->packetCount(LinkCommand::Ping), 2u);

    // While down there is no keep-alive, and the pause counts when the link is back.
    link->Disconnect();
    device->clearLog();
    clock->advance(9000ms);
    std::this_thread::sleep_for(20ms);
    EXPECT_TRUE(device->packets().empty());
    connect();
    ASSERT_TRUE(eventually([&] { return device->packetCount(LinkCommand::DisplayOn) == 1; }));
    EXPECT_EQ(device->packetCount(LinkCommand::DisplayOff), 0u);
}

TEST_F(LinkTest, destructionAnswersEveryWaiter)
{
    connect();
    device->gateNext(LinkCommand::DisplayOff);
    link->PostCommand(LinkCommand::DisplayOff, 0, false);
    ASSERT_TRUE(device->waitGated());
    const auto picture = solidPicture(3, 3, 3);
    std::unique_ptr<DeviceLink> owned = std::move(link);
    DeviceLink *raw = owned.get();
    auto frame = std::async(std::launch::async, [&] { return raw->SubmitFrame(2, picture.data(), true); });
    auto command = std::async(std::launch::async, [&] { return raw->PostCommand(LinkCommand::SetBrightness, 60, true); });
    ASSERT_TRUE(eventually([&] { return raw->waitingCallers() == 2; }));
    std::this_thread::sleep_for(10ms); // let both settle into their wait
    auto destroyed = std::async(std::launch::async, [&] { owned.reset(); });
    std::this_thread::sleep_for(20ms);
    device->unplug(); // whatever the worker still sends now fails
    device->release();
    ASSERT_EQ(destroyed.wait_for(10s), std::future_status::ready);
    ASSERT_EQ(frame.wait_for(5s), std::future_status::ready);
    ASSERT_EQ(command.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(frame.get(), -1);
    EXPECT_EQ(command.get(), -1);
}

} // namespace
} // namespace pixkey::test
