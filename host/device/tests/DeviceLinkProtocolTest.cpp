// The link protocol through a scripted keypad: handshake, acknowledgements, key reports,
// recovery and discovery.
#include "LinkTestFixture.h"

namespace pixkey::test {
namespace {

using E = LinkError;

TEST_F(LinkTest, handshakeConnectsAfterOnePacketOfZeros)
{
    connect();
    EXPECT_EQ(device->bytesWritten(), 197u);
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
    EXPECT_EQ(link->portName(), "fake0");
    // Connecting an open link resynchronises without a second notification.
    link->Connect();
    ASSERT_TRUE(eventually([&] { return device->bytesWritten() == 2 * 197u; }));
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), 0);
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
    EXPECT_TRUE(observer.errors().empty());
}

TEST_F(LinkTest, handshakeGivesUpAfterItsBudget)
{
    device->setSilent(true);
    makeLink();
    link->Connect();
    // The failed handshake runs the recovery, whose handshake fails too.
    ASSERT_TRUE(eventually([&] { return observer.errors().size() == 2; }));
    EXPECT_EQ(observer.errors(), (std::vector<E>{E::SyncFailed, E::SyncFailed}));
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_EQ(device->bytesWritten(), 2 * 302u); // each attempt: more than 300 zeros, then stop
    EXPECT_FALSE(link->IsConnected());
    EXPECT_TRUE(listener.changes().empty()); // never up, so never reported lost
    EXPECT_EQ(device->opens(), 2);
}

TEST_F(LinkTest, handshakeBudgetRestartsOnAnAnswer)
{
    // Nothing for 250 bytes, one stray answer, then a proper acknowledgement 200 bytes later:
    // without the restart the budget would have run out at 302 bytes.
    device->setByteHook([](uint64_t index, uint8_t) -> std::vector<uint8_t> {
        if (index == 249)
            return {0x55};
        if (index == 449)
            return {0x00, 0x00};
        return {};
    });
    connect();
    EXPECT_EQ(device->bytesWritten(), 450u);
    EXPECT_TRUE(observer.errors().empty());
}

TEST_F(LinkTest, handshakeIsNotHeldUpByKeyReports)
{
    // A key pressed during the handshake restarts the count, but the zeros that follow keep the
    // short wait until the packet may be complete: with the answer wait after every one of them,
    // these 150 zeros would take 150 x 400 ms.
    timings.syncAnswerWait = 400ms;
    device->setByteHook([](uint64_t index, uint8_t) -> std::vector<uint8_t> {
        if (index == 9)
            return {0x01, 0x02};
        if (index == 159)
            return {0x00, 0x00};
        return {};
    });
    makeLink();
    link->Connect();
    EXPECT_TRUE(eventually([&] { return link->IsConnected(); }, 20000ms));
    EXPECT_EQ(device->bytesWritten(), 160u);
}

TEST_F(LinkTest, handshakeAgainstEndlessNoiseEnds)
{
    // A device that answers every hundredth byte with noise would restart the budget forever.
    device->setByteHook([](uint64_t index, uint8_t) -> std::vector<uint8_t> {
        return index % 100 == 99 ? std::vector<uint8_t>{0x55} : std::vector<uint8_t>{};
    });
    timings.syncEarlyWait = timings.syncAnswerWait = 0ms;
    timings.syncTotalBudget = 1000;
    makeLink();
    link->Connect();
    ASSERT_TRUE(eventually([&] { return observer.errors().size() == 2; }));
    EXPECT_EQ(observer.errors(), (std::vector<E>{E::SyncFailed, E::SyncFailed}));
    EXPECT_LE(device->bytesWritten(), 2u * (timings.syncTotalBudget + 2));
    EXPECT_FALSE(link->IsConnected());
}

TEST_F(LinkTest, replyParsing)
{
    struct Case {
        const char *name;
        LinkCommand cmd;
        uint8_t a1;
        std::vector<uint8_t> answer;
        std::vector<int> presses;
        std::vector<E> errors;
    } cases[] = {
        {"ping acknowledged 00 00", LinkCommand::Ping, 0, {0x00, 0x00}, {}, {}},
        {"plain checksum", LinkCommand::SetBrightness, 60, {69}, {}, {}},
        {"noise before the checksum", LinkCommand::SetBrightness, 20, {0x33, 0x44, 29}, {}, {}},
        {"key report first", LinkCommand::Ping, 0, {0x01, 0x02, 0x00, 0x00}, {2}, {}},
        {"bad key number", LinkCommand::Ping, 0, {0x01, 0x00, 0x00, 0x00}, {}, {E::BadKeyNumber}},
        {"checksum 01 in its 00 form", LinkCommand::Ping, 1, {0x00, 0x01}, {}, {}},
        {"bare 01 starts a key report", LinkCommand::Ping, 1, {0x01, 0x01, 0x00, 0x01}, {1}, {}},
        {"two reports", LinkCommand::DisplayOn, 0, {0x01, 0x03, 0x01, 0x01, 0x02}, {3, 1}, {}},
    };
    connect();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        scriptAnswers({c.answer});
        observer.clear();
        const size_t before = listener.presses().size();
        EXPECT_EQ(link->PostCommand(c.cmd, c.a1, true), 0);
        const auto presses = listener.presses();
        EXPECT_EQ(std::vector<int>(presses.begin() + before, presses.end()), c.presses);
        EXPECT_EQ(observer.errors(), c.errors);
    }
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
}

TEST_F(LinkTest, badAcknowledgeResynchronisesWithoutResending)
{
    connect();
    const uint64_t before = device->bytesWritten();
    scriptAnswers({{0x00, 0x42}});
    EXPECT_EQ(link->PostCommand(LinkCommand::SetBrightness, 60, true), 0);
    EXPECT_EQ(observer.errors(), std::vector<E>{E::BadAcknowledge});
    EXPECT_EQ(device->packetCount(LinkCommand::SetBrightness), 1u);
    EXPECT_EQ(device->bytesWritten() - before, 197u + 197u); // the packet, then a handshake
    EXPECT_TRUE(link->IsConnected());
    EXPECT_EQ(device->opens(), 1); // resynchronised on the open port
}

TEST_F(LinkTest, silenceLosesTheLinkOnce)
{
    connect();
    device->setSilent(true);
    EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOff, 0, true), -1);
    EXPECT_EQ(observer.errors(), (std::vector<E>{E::ReadTimeout, E::SyncFailed}));
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0}));
    EXPECT_EQ(device->opens(), 2); // reopened once, same path
    EXPECT_EQ(device->packetCount(LinkCommand::DisplayOff), 1u); // later attempts fail at once
    EXPECT_FALSE(link->IsConnected());

    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0}));

    // Only a new Connect brings it back.
    device->setSilent(false);
    connect();
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0, 1}));
}

TEST_F(LinkTest, oneLostAcknowledgementIsRecoveredAndRetried)
{
    connect();
    scriptAnswers({{}});
    EXPECT_EQ(link->PostCommand(LinkCommand::DisplayOff, 0, true), 0);
    EXPECT_EQ(observer.errors(), std::vector<E>{E::ReadTimeout});
    EXPECT_EQ(device->packetCount(LinkCommand::DisplayOff), 2u);
    EXPECT_EQ(device->opens(), 2);
    EXPECT_EQ(listener.changes(), std::vector<int>{1});
}

TEST_F(LinkTest, aPacketIsTriedThreeTimes)
{
    connect();
    scriptAnswers({{}, {0x00, 0x00}, {}, {0x00, 0x00}, {}}); // packet, handshake, packet, ...
    EXPECT_EQ(link->PostCommand(LinkCommand::SetBrightness, 40, true), -1);
    EXPECT_EQ(device->packetCount(LinkCommand::SetBrightness), 3u);
    EXPECT_EQ(observer.errors(), (std::vector<E>{E::ReadTimeout, E::ReadTimeout, E::ReadTimeout}));
    EXPECT_TRUE(link->IsConnected()); // each recovery itself succeeded
}

TEST_F(LinkTest, keyReportsWhileIdle)
{
    connect();
    device->send({0x01, 0x03});
    ASSERT_TRUE(eventually([&] { return listener.presses() == std::vector<int>{3}; }));
    device->send({0x01, 0x00, 0x01, 0x07, 0x55, 0x02, 0x01, 0x02}); // bad keys and noise dropped
    ASSERT_TRUE(eventually([&] { return listener.presses().size() == 2; }));
    EXPECT_EQ(listener.presses(), (std::vector<int>{3, 2}));
    EXPECT_TRUE(observer.errors().empty()); // outside an acknowledgement, no BadKeyNumber
}

TEST_F(LinkTest, halfAKeyReportTimesOutAndRecovers)
{
    connect();
    device->send({0x01});
    ASSERT_TRUE(eventually([&] { return device->opens() == 2; }));
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), 0);
    EXPECT_EQ(observer.errors(), std::vector<E>{E::ReadTimeout});
    EXPECT_TRUE(link->IsConnected());
}

TEST_F(LinkTest, unplugAndReplug)
{
    connect();
    device->unplug();
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_EQ(observer.errors(), (std::vector<E>{E::WriteFailed, E::WriteFailed}));
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0}));
    EXPECT_NE(link->lastOpenError(), "");
    device->replug();
    connect();
    EXPECT_EQ(listener.changes(), (std::vector<int>{1, 0, 1}));
    EXPECT_EQ(link->lastOpenError(), "");
}

TEST_F(LinkTest, discoveryTakesTheFirstPortThatOpens)
{
    device->setPaths({"/dev/ttyUSB1", "/dev/ttyUSB2"});
    makeLink(true, {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2"});
    connect();
    EXPECT_EQ(link->portName(), "ttyUSB1");
    EXPECT_EQ(link->lastOpenError(), "");
    EXPECT_EQ(device->opens(), 1);
}

TEST_F(LinkTest, discoveryWithoutAnyAdapter)
{
    makeLink(false, {});
    EXPECT_EQ(link->portName(), "");
    link->Connect();
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_EQ(observer.errors(), std::vector<E>{E::NoAdapterKey});
    EXPECT_EQ(device->opens(), 0);
    EXPECT_NE(link->lastOpenError().find("067b:2303"), std::string::npos);
    EXPECT_FALSE(link->IsConnected());
}

TEST_F(LinkTest, discoveryWhenNoRegisteredPortOpens)
{
    device->setPaths({});
    makeLink(true, {"/dev/ttyUSB4", "/dev/ttyUSB7"});
    link->Connect();
    EXPECT_EQ(link->PostCommand(LinkCommand::Ping, 0, true), -1);
    EXPECT_TRUE(observer.errors().empty()); // nothing reported, link stays down
    EXPECT_NE(link->lastOpenError().find("/dev/ttyUSB4"), std::string::npos);
    EXPECT_NE(link->lastOpenError().find("/dev/ttyUSB7"), std::string::npos);
    EXPECT_TRUE(listener.changes().empty());
}

TEST_F(LinkTest, portFromTheEnvironmentReplacesDiscovery)
{
    device->setPaths({"/tmp/keypad"});
    ::setenv("PIXKEY_PORT", "/tmp/keypad", 1);
    makeLink(true, {"/dev/fake0"});
    ::unsetenv("PIXKEY_PORT");
    connect();
    EXPECT_EQ(link->portName(), "keypad");
    EXPECT_EQ(locator->calls.load(), 0);
}

TEST_F(LinkTest, portFromTheOptionsReplacesDiscoveryAndTheEnvironment)
{
    device->setPaths({"/tmp/given"});
    ::setenv("PIXKEY_PORT", "/tmp/elsewhere", 1);
    portPath = "/tmp/given";
    makeLink(true, {"/dev/fake0"});
    ::unsetenv("PIXKEY_PORT");
    connect();
    EXPECT_EQ(link->portName(), "given");
    EXPECT_EQ(locator->calls.load(), 0);
}

} // namespace
} // namespace pixkey::test
