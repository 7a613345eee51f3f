// The query (phone snapshot -> what the key shows) and the drawing of every state at its places.
#include "CallsFace.h"
#include "CallsState.h"
#include "FaceSupport.h"

#include <gtest/gtest.h>

namespace calls {
namespace {

using calls_test::Face;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

PhoneCall call(CallStatus status, bool incoming, std::string uri, std::string name = {})
{
    PhoneCall c;
    c.id = uri;
    c.status = status;
    c.incoming = incoming;
    c.peerUri = std::move(uri);
    c.displayName = std::move(name);
    return c;
}

PhoneSnapshot attached(std::vector<PhoneCall> calls = {})
{
    PhoneSnapshot phone;
    phone.attached = true;
    phone.userStatus = 1;
    phone.calls = std::move(calls);
    return phone;
}

TEST(Query, WithoutThePhoneOrItsSocket)
{
    const auto now = Clock::now();
    auto result = queryState(false, attached(), now);
    EXPECT_TRUE(result.state.noAutomation);
    EXPECT_FALSE(result.state.attached);

    result = queryState(true, PhoneSnapshot{}, now);
    EXPECT_EQ(result.state, CallsState{});
    EXPECT_FALSE(result.currentCall);
}

TEST(Query, CallsBeforeConnection)
{
    const auto now = Clock::now();
    auto result = queryState(true, attached({call(CallStatus::Ringing, true, "sip:bob@h", "Bob")}), now);
    EXPECT_EQ(result.state.callPicture, kIncoming);
    EXPECT_EQ(result.state.prompt, "Press to start");
    EXPECT_EQ(result.state.promptIcon, kReceiverGreen);
    EXPECT_EQ(result.state.partner, "Bob");
    EXPECT_EQ(result.state.duration, "");

    for (CallStatus status : {CallStatus::Calling, CallStatus::Ringing}) {
        result = queryState(true, attached({call(status, false, "sip:carol@h")}), now);
        EXPECT_EQ(result.state.callPicture, kOutgoing);
        EXPECT_EQ(result.state.prompt, "Press to end");
        EXPECT_EQ(result.state.promptIcon, kReceiverRed);
        EXPECT_EQ(result.state.partner, "carol");
    }
}

TEST(Query, ARingingCallWinsOverOneInProgress)
{
    const auto now = Clock::now();
    auto running = call(CallStatus::InProgress, true, "sip:bob@h", "Bob");
    running.at = now;
    const auto result = queryState(
        true, attached({running, call(CallStatus::Ringing, true, "sip:carol@h", "Carol"), call(CallStatus::Ringing, true, "sip:dan@h")}),
        now);
    EXPECT_EQ(result.state.callPicture, kIncoming);
    EXPECT_EQ(result.state.prompt, "Press to start");
    EXPECT_EQ(result.state.partner, "Carol");
    ASSERT_TRUE(result.currentCall);
    EXPECT_EQ(result.currentCall->peerUri, "sip:carol@h");
    EXPECT_EQ(result.state.duration, "") << "no running time before the call is answered";
}

TEST(Query, KindsOfCallInProgress)
{
    const auto now = Clock::now();
    struct Case {
        std::vector<PhoneCall> calls;
        int picture;
    } cases[] = {
        {{call(CallStatus::InProgress, true, "sip:bob@h")}, kPersonCall},
        {{call(CallStatus::InProgress, false, "tel:+4930123")}, kTelephoneCall},
        {{call(CallStatus::InProgress, true, "sip:0301234@gw")}, kTelephoneCall},
        {{call(CallStatus::InProgress, true, "sip:bob@h"), call(CallStatus::InProgress, true, "sip:carol@h")}, kConferenceCall},
        {{call(CallStatus::InProgress, true, "sip:bob@h"), call(CallStatus::InProgress, true, "sip:c@h"),
          call(CallStatus::Ringing, true, "sip:dan@h")}, kIncomingConference},
    };
    for (auto &c : cases) {
        for (auto &p : c.calls)
            p.at = now;
        const auto result = queryState(true, attached(c.calls), now);
        EXPECT_EQ(result.state.callPicture, c.picture) << c.calls.size() << " calls";
    }
}

TEST(Query, RunningTimeAdvancesFromTheListedTime)
{
    const auto listedAt = Clock::now();
    auto running = call(CallStatus::InProgress, true, "sip:bob@h");
    running.seconds = 180;
    running.at = listedAt;
    EXPECT_EQ(queryState(true, attached({running}), listedAt + 5s).state.duration, "03:05");
    running.seconds = 3720;
    EXPECT_EQ(queryState(true, attached({running}), listedAt + 3s).state.duration, "1:02:03");
    EXPECT_EQ(queryState(true, attached({running}), listedAt - 10s).state.duration, "1:02:00")
        << "a clock before the listing does not run time backwards";
    running.onHold = true;
    EXPECT_EQ(queryState(true, attached({running}), listedAt).state.extraText, kOnHoldText);
}

TEST(Query, StatusAndEventsWithoutACall)
{
    const auto now = Clock::now();
    struct Case {
        int missed, voicemails, picture;
        const char *text;
    } cases[] = {
        {0, 0, 0, "0"}, {2, 0, kMissedCalls, "2"}, {0, 1, kVoicemails, "1"}, {2, 1, kSeveralEvents, "3"},
    };
    for (const auto &c : cases) {
        PhoneSnapshot phone = attached();
        phone.missedCalls = c.missed;
        phone.voicemails = c.voicemails;
        const auto state = queryState(true, phone, now).state;
        EXPECT_EQ(state.eventsPicture, c.picture) << c.missed << "/" << c.voicemails;
        EXPECT_EQ(state.eventsText, c.text);
        EXPECT_EQ(state.callPicture, 0);
    }
    for (auto [status, picture] : std::vector<std::pair<int, int>>{{-1, kOffline}, {0, kOffline}, {1, kOnline}, {2, kAway},
                                                                   {3, kNotAvailable}, {4, kDoNotDisturb}, {5, kInvisible},
                                                                   {6, kOffline}, {7, kOpenToContact}, {99, kOffline}})
        EXPECT_EQ(statusPicture(status), picture) << status;
}

// --- drawing -------------------------------------------------------------------------------------

class Drawing : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(face.loadFont()); }
    CallsFace face;
    Face key;
};

TEST_F(Drawing, EveryPictureIsThereWithItsSize)
{
    const std::pair<int, int> sizes[] = {
        {8019, 48}, {8020, 48}, {8015, 48}, {8018, 48}, {8016, 48}, {8017, 48}, {8014, 48},
        {8032, 48}, {8031, 48}, {8034, 48}, {8021, 48}, {8026, 32}, {8027, 32}, {8030, 32},
        {8028, 32}, {8033, 32}, {8029, 32}, {8022, 16}, {8023, 16}};
    for (auto [number, size] : sizes) {
        const QImage picture = loadPicture(number);
        EXPECT_EQ(picture.size(), QSize(size, size)) << number;
    }
    EXPECT_TRUE(loadPicture(1234).isNull());
}

TEST_F(Drawing, NotAttachedAndNotInstalled)
{
    CallsState state;
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.shows(kOffline, 24, 24));
    EXPECT_FALSE(key.litIn(0, 0, 96, 20)) << "no text while the phone is only not answering";

    state.noAutomation = true;
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.shows(kOffline, 24, 24));
    EXPECT_TRUE(key.litIn(0, 4, 60, 12)) << "\"Calls 3+ required\" at the top left";
    EXPECT_FALSE(key.litIn(0, 0, 96, 4));
}

TEST_F(Drawing, ACallAtItsPlaces)
{
    CallsState state;
    state.attached = true;
    state.callPicture = kPersonCall;
    state.partner = "Bob";
    state.duration = "03:05";
    state.prompt = "Press to end";
    state.promptIcon = kReceiverRed;
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.shows(kPersonCall, 32, 16));
    EXPECT_TRUE(key.shows(kReceiverRed, 0, 80));
    EXPECT_TRUE(key.litIn(30, 0, 36, 14)) << "running time centred at the top";
    EXPECT_FALSE(key.litIn(0, 0, 20, 14));
    EXPECT_TRUE(key.litIn(36, 48, 24, 14)) << "partner centred under the picture";
    EXPECT_TRUE(key.litIn(20, 80, 60, 14)) << "prompt right of its icon";

    state.extraText = kOnHoldText;
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.litIn(0, 0, 12, 14)) << "running time at the left with an extra text";
    EXPECT_TRUE(key.litIn(84, 0, 12, 14)) << "extra text ending at the right edge";
}

TEST_F(Drawing, StatusOrEventsWithoutACall)
{
    CallsState state;
    state.attached = true;
    state.userStatus = 3;
    state.eventsText = "0";
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.shows(kNotAvailable, 24, 24));
    EXPECT_FALSE(key.litIn(0, 0, 96, 24)) << "no count without events";

    state.eventsText = "3";
    state.eventsPicture = kSeveralEvents;
    face.draw(state, *key.surface());
    EXPECT_TRUE(key.shows(kSeveralEvents, 24, 24));
    EXPECT_TRUE(key.litIn(40, 4, 16, 14)) << "count centred above the picture";
}

} // namespace
} // namespace calls
