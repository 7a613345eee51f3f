// The plug-in against two real phones on the loopback address: the user's phone ("alice"), whose
// control socket the plug-in holds, and a second phone ("bob", with an 18-character display name)
// that the test drives through its own control socket. Both are started once for the program and
// stopped by their pids.
#include "CallsPlugin.h"
#include "FaceSupport.h"
#include "PhoneFixtures.h"

#include <gtest/gtest.h>

#include <memory>

namespace calls {
namespace {

using calls_test::ControlClient;
using calls_test::Face;
using calls_test::Phone;
using namespace std::chrono_literals;

class PhoneCalls : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (pixkey::test::ServiceProcess::find("baresip").empty())
            return;
        s_alice = std::make_unique<Phone>("alice");
        s_bob = std::make_unique<Phone>("bob", "Robert Hollingsley"); // 18 characters
        ASSERT_TRUE(s_alice->start());
        ASSERT_TRUE(s_bob->start());
        s_bobControl = std::make_unique<ControlClient>(s_bob->controlPort());
        ASSERT_TRUE(s_bobControl->connected());
    }

    static void TearDownTestSuite()
    {
        s_bobControl.reset();
        s_bob.reset();
        s_alice.reset();
    }

    void SetUp() override
    {
        if (!s_alice)
            GTEST_SKIP() << "baresip is not installed";
        CallsPlugin::Environment env = CallsPlugin::systemEnvironment();
        env.findPhone = [] { return std::string("/usr/bin/baresip"); };
        const int port = s_alice->controlPort();
        env.endpoint = [port] { return ControlEndpoint{"127.0.0.1", std::uint16_t(port)}; };
        env.startPhone = [this] { ++m_starts; return false; };
        env.link = [](const ControlEndpoint &endpoint) {
            PhoneLink::Options options;
            options.endpoint = endpoint;
            options.reconnectMin = 100ms;
            return std::make_shared<PhoneLink>(options);
        };
        m_plugin = std::make_unique<CallsPlugin>(env);
        m_plugin->OnEvent(PKX_EVENT_ACTIVATE);
        ASSERT_TRUE(waitFace([](const CallsState &s) { return s.attached && s.userStatus == 1; }))
            << "the user's phone did not answer on its control socket";
        EXPECT_TRUE(m_face.shows(kOnline, 24, 24));
    }

    void TearDown() override
    {
        if (!m_plugin)
            return;
        // Leave both phones without calls for the next scenario.
        for (int i = 0; i < 4 && s_bobControl->command("listcalls").find("Active calls (0)") == std::string::npos; ++i)
            s_bobControl->command("hangup");
        if (auto link = m_plugin->link()) {
            for (const auto &call : link->snapshot().calls)
                link->hangUp(call);
            link->waitFor([](const PhoneSnapshot &s) { return s.calls.empty(); }, 5s);
        }
        m_plugin->OnEvent(PKX_EVENT_DEACTIVATE);
        m_plugin.reset();
    }

    // Paints every 20 ms until what the key shows satisfies `test`.
    bool waitFace(const std::function<bool(const CallsState &)> &test, std::chrono::milliseconds deadline = 10s)
    {
        const auto until = std::chrono::steady_clock::now() + deadline;
        do {
            m_plugin->Paint(*m_face.surface());
            if (test(m_plugin->shown()))
                return true;
            std::this_thread::sleep_for(20ms);
        } while (std::chrono::steady_clock::now() < until);
        return false;
    }

    bool ringingFromBob()
    {
        return waitFace([](const CallsState &s) { return s.prompt == "Press to start"; });
    }

    static inline std::unique_ptr<Phone> s_alice, s_bob;
    static inline std::unique_ptr<ControlClient> s_bobControl;
    std::unique_ptr<CallsPlugin> m_plugin;
    Face m_face;
    int m_starts = 0;
};

TEST_F(PhoneCalls, IncomingCallIsAnsweredTimedAndEndedByPresses)
{
    s_bobControl->command("dial", s_alice->uri());
    ASSERT_TRUE(ringingFromBob());
    const CallsState ringing = m_plugin->shown();
    EXPECT_EQ(ringing.callPicture, kIncoming);
    EXPECT_EQ(ringing.partner, "bob") << "an 18-character display name gives way to the user part";
    EXPECT_EQ(ringing.duration, "");
    EXPECT_TRUE(m_face.shows(kIncoming, 32, 16));
    EXPECT_TRUE(m_face.shows(kReceiverGreen, 0, 80));

    m_plugin->OnKeyDown();
    EXPECT_TRUE(s_bobControl->waitForEvent({"CALL_ESTABLISHED"})) << "the caller's phone reports the call established";
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.prompt == "Press to end" && !s.duration.empty(); }));
    EXPECT_EQ(m_plugin->shown().callPicture, kPersonCall);
    EXPECT_TRUE(m_face.shows(kPersonCall, 32, 16));
    EXPECT_TRUE(m_face.shows(kReceiverRed, 0, 80));
    EXPECT_TRUE(waitFace([](const CallsState &s) { return s.duration == "00:02"; })) << "the running time counts";

    m_plugin->OnKeyDown();
    EXPECT_TRUE(s_bobControl->waitForEvent({"CALL_CLOSED"}));
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == 0; }));
    EXPECT_EQ(m_plugin->shown().eventsText, "0") << "an answered call is not a missed one";
    EXPECT_TRUE(m_face.shows(kOnline, 24, 24));
}

TEST_F(PhoneCalls, OutgoingCallIsCancelledByAPressBeforeItIsAnswered)
{
    m_plugin->link()->dial(s_bob->uri());
    ASSERT_TRUE(s_bobControl->waitForEvent({"CALL_INCOMING"}));
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == kOutgoing; }));
    EXPECT_EQ(m_plugin->shown().prompt, "Press to end");
    EXPECT_EQ(m_plugin->shown().partner, "bob");
    EXPECT_TRUE(m_face.shows(kOutgoing, 32, 16));

    m_plugin->OnKeyDown();
    EXPECT_TRUE(s_bobControl->waitForEvent({"CALL_CLOSED"})) << "the called phone stops ringing";
    EXPECT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == 0 && s.eventsText == "0"; }));
}

TEST_F(PhoneCalls, OutgoingCallNobodyAnswersEndsWithAPress)
{
    // Nothing listens there: the call stays "calling" without ever ringing.
    m_plugin->link()->dial("sip:nobody@127.0.0.1:" + std::to_string(calls_test::unusedUdpPort()));
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == kOutgoing; }));
    EXPECT_EQ(m_plugin->shown().prompt, "Press to end");
    m_plugin->OnKeyDown();
    EXPECT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == 0; })) << "the press ended the call";
}

TEST_F(PhoneCalls, ACallTheCallerGivesUpIsMissedUntilTheNextPress)
{
    s_bobControl->command("dial", s_alice->uri());
    ASSERT_TRUE(ringingFromBob());
    s_bobControl->command("hangup");
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.eventsPicture == kMissedCalls; }));
    EXPECT_EQ(m_plugin->shown().eventsText, "1");
    EXPECT_TRUE(m_face.shows(kMissedCalls, 24, 24));

    m_plugin->OnKeyDown();
    EXPECT_TRUE(waitFace([](const CallsState &s) { return s.eventsPicture == 0 && s.eventsText == "0"; }));
    EXPECT_EQ(m_starts, 0) << "a running phone is not started again";
}

TEST_F(PhoneCalls, ACallTheUserRefusesOnThePhoneIsNotMissed)
{
    s_bobControl->command("dial", s_alice->uri());
    ASSERT_TRUE(ringingFromBob());
    // The user rejects it on the phone itself (here through the plug-in's connection).
    for (const auto &call : m_plugin->link()->snapshot().calls)
        m_plugin->link()->hangUp(call);
    EXPECT_TRUE(s_bobControl->waitForEvent({"CALL_CLOSED"}));
    ASSERT_TRUE(waitFace([](const CallsState &s) { return s.callPicture == 0; }));
    EXPECT_EQ(m_plugin->shown().eventsText, "0");
}

} // namespace
} // namespace calls
