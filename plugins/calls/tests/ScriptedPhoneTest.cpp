// The link and the plug-in against a control socket the test plays: what a real phone cannot be
// made to say on demand (voicemail notices, registration failures, garbage, a gigabyte length
// prefix, silence), and how the link takes events, lists and a lost connection.
#include "CallsPlugin.h"
#include "FaceSupport.h"
#include "PhoneFixtures.h"

#include <gtest/gtest.h>

#include <atomic>

// Qt's raster engine and its allocations run inside uninstrumented Qt libraries; only the calls Qt
// itself makes are ignored, races in the link and the plug-in are still reported.
extern "C" const char *__tsan_default_suppressions()
{
    return "called_from_lib:libQt6Gui.so\n"
           "called_from_lib:libQt6Core.so\n";
}

namespace calls {
namespace {

using calls_test::Face;
using calls_test::ScriptedPhone;
using namespace std::chrono_literals;

const char *kNoCalls = "\n--- Active calls (0) ---\n\n";
const char *kOneAccount = "\n--- User Agents (1) ---\n> sip:alice@127.0.0.1:5060   \n\n";

// Answers reginfo and listcalls with what the test sets.
struct Script {
    std::mutex lock;
    std::string calls = kNoCalls;
    std::string accounts = kOneAccount;
    std::atomic<bool> silent{false};

    ScriptedPhone::Answer answer()
    {
        return [this](const std::string &command) -> std::optional<std::string> {
            if (silent)
                return std::nullopt;
            std::lock_guard guard(lock);
            if (command == "listcalls")
                return calls;
            if (command == "reginfo")
                return accounts;
            return std::string();
        };
    }
    void setCalls(std::string text)
    {
        std::lock_guard guard(lock);
        calls = std::move(text);
    }
};

std::shared_ptr<PhoneLink> linkTo(int port, std::chrono::milliseconds commandTimeout = 3000ms)
{
    PhoneLink::Options options;
    options.endpoint = ControlEndpoint{"127.0.0.1", std::uint16_t(port)};
    options.reconnectMin = 50ms;
    options.reconnectMax = 200ms;
    options.commandTimeout = commandTimeout;
    return std::make_shared<PhoneLink>(options);
}

bool attachedWith(const std::shared_ptr<PhoneLink> &link, const std::function<bool(const PhoneSnapshot &)> &test = {})
{
    const auto s = link->waitFor([&](const PhoneSnapshot &s) { return s.attached && (!test || test(s)); }, 10s);
    return s.attached && (!test || test(s));
}

std::string incoming(const std::string &id, const std::string &uri, const std::string &name = {})
{
    std::string fields = "\"direction\":\"incoming\",\"id\":\"" + id + "\",\"peeruri\":\"" + uri + "\"";
    if (!name.empty())
        fields += ",\"peerdisplayname\":\"" + name + "\"";
    return fields;
}

TEST(ScriptedLink, MissedCallsAndVoicemailsGiveTheRedFlagAndTheirSum)
{
    Script script;
    ScriptedPhone phone(script.answer());
    CallsPlugin::Environment env = CallsPlugin::systemEnvironment();
    env.findPhone = [] { return std::string("/usr/bin/baresip"); };
    env.endpoint = [&] { return ControlEndpoint{"127.0.0.1", std::uint16_t(phone.port())}; };
    env.link = [](const ControlEndpoint &e) { return linkTo(e.port); };
    env.startPhone = [] { return false; };
    CallsPlugin plugin(env);
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    auto link = plugin.link();
    ASSERT_TRUE(attachedWith(link));
    Face face;

    // Two calls ring and are given up by their callers; the list says so too.
    for (int missed : {1, 2}) {
        const std::string id = "c" + std::to_string(missed);
        script.setCalls(std::string("\n--- Active calls (1) ---\n> [line 1]  0:00:00   INCOMING   sip:bob@h\n"));
        phone.sendEvent("call", "CALL_INCOMING", incoming(id, "sip:bob@h", "Bob"));
        ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.calls.size() == 1 && s.calls[0].line == 1; }));
        script.setCalls(kNoCalls);
        phone.sendEvent("call", "CALL_CLOSED", incoming(id, "sip:bob@h") + ",\"param\":\"Connection reset by peer\"");
        ASSERT_TRUE(attachedWith(link, [&](const PhoneSnapshot &s) { return s.missedCalls == missed && s.calls.empty(); }));
    }
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.missedCalls == 2 && s.calls.empty(); }));
    EXPECT_EQ(plugin.Paint(*face.surface()), 1);
    EXPECT_EQ(plugin.shown().eventsText, "2");
    EXPECT_TRUE(face.shows(kMissedCalls, 24, 24));

    phone.sendEvent("mwi", "MWI_NOTIFY", "\"param\":\"Messages-Waiting: yes\\r\\nVoice-Message: 1/4\\r\\n\"");
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.voicemails == 1; }));
    EXPECT_EQ(plugin.Paint(*face.surface()), 1);
    EXPECT_EQ(plugin.shown().eventsText, "3");
    EXPECT_TRUE(face.shows(kSeveralEvents, 24, 24));
    EXPECT_TRUE(face.litIn(40, 4, 16, 14));
    EXPECT_EQ(plugin.Paint(*face.surface()), 0) << "nothing changed: no new face";

    // A press clears the missed calls; one voicemail is left, with the same count as one missed
    // call had: the picture must change all the same.
    plugin.OnKeyDown();
    EXPECT_EQ(plugin.Paint(*face.surface()), 1);
    EXPECT_EQ(plugin.shown().eventsText, "1");
    EXPECT_TRUE(face.shows(kVoicemails, 24, 24));

    script.setCalls(std::string("\n--- Active calls (1) ---\n> [line 1]  0:00:00   INCOMING   sip:bob@h\n"));
    phone.sendEvent("call", "CALL_INCOMING", incoming("c3", "sip:bob@h"));
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.calls.size() == 1 && s.calls[0].line == 1; }));
    phone.sendEvent("mwi", "MWI_NOTIFY", "\"param\":\"Voice-Message: 0/5\"");
    script.setCalls(kNoCalls);
    phone.sendEvent("call", "CALL_CLOSED", incoming("c3", "sip:bob@h") + ",\"param\":\"Connection reset by peer\"");
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.voicemails == 0 && s.missedCalls == 1; }));
    EXPECT_EQ(plugin.Paint(*face.surface()), 1);
    EXPECT_EQ(plugin.shown().eventsText, "1");
    EXPECT_TRUE(face.shows(kMissedCalls, 24, 24)) << "one voicemail became one missed call";
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

TEST(ScriptedLink, TheListDecidesWhichCallsExistAndHowLongTheyRun)
{
    Script script;
    script.setCalls("\n--- Active calls (2) ---\n"
                    "  [line 1]  0:03:05  ESTABLISHED  (on hold)  sip:+4930123@gw\n"
                    "> [line 2]  0:00:00   RINGING             sip:carol@h\n");
    ScriptedPhone phone(script.answer());
    auto link = linkTo(phone.port());
    // Calls made before the link connected are known from the list alone.
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.calls.size() == 2; }));
    auto snapshot = link->snapshot();
    EXPECT_EQ(snapshot.calls[0].status, CallStatus::InProgress);
    EXPECT_EQ(snapshot.calls[0].seconds, 185);
    EXPECT_TRUE(snapshot.calls[0].onHold);
    EXPECT_EQ(snapshot.calls[1].status, CallStatus::Ringing);
    EXPECT_FALSE(snapshot.calls[1].incoming);

    // A press on the unidentified ringing call picks it by its line.
    link->hangUp(snapshot.calls[1]);
    for (int i = 0; i < 200; ++i) {
        const auto commands = phone.commands();
        if (std::find(commands.begin(), commands.end(), "hangup") != commands.end())
            break;
        std::this_thread::sleep_for(10ms);
    }
    const auto commands = phone.commands();
    const auto hangup = std::find(commands.begin(), commands.end(), "hangup");
    ASSERT_NE(hangup, commands.end());
    EXPECT_EQ(*(hangup - 1), "line 2");

    // A call that is no longer listed has ended.
    script.setCalls(kNoCalls);
    phone.sendEvent("call", "CALL_PROGRESS", "\"direction\":\"outgoing\",\"id\":\"x\",\"peeruri\":\"sip:carol@h\"");
    EXPECT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.calls.empty(); }));
}

TEST(ScriptedLink, RegistrationEventsSetTheStatus)
{
    Script script;
    ScriptedPhone phone(script.answer());
    auto link = linkTo(phone.port());
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.userStatus == 1; }));
    phone.sendEvent("register", "REGISTER_FAIL", "\"accountaor\":\"sip:alice@127.0.0.1:5060\",\"param\":\"408 Timeout\"");
    EXPECT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.userStatus == 3; }));
    phone.sendEvent("register", "REGISTER_OK", "\"accountaor\":\"sip:alice@127.0.0.1:5060\"");
    EXPECT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.userStatus == 1; }));
}

TEST(ScriptedLink, GarbageAndAGigabytePrefixDropTheConnectionWhichComesBack)
{
    Script script;
    ScriptedPhone phone(script.answer());
    auto link = linkTo(phone.port());
    ASSERT_TRUE(attachedWith(link));

    phone.sendRaw("HTTP/1.1 200 OK\r\n\r\n");
    EXPECT_TRUE(link->waitFor([](const PhoneSnapshot &s) { return !s.attached; }, 5s).attached == false);
    ASSERT_TRUE(attachedWith(link)) << "the link connects again";
    EXPECT_EQ(link->protocolFaults(), 1);

    phone.sendRaw("1073741824:{\"event\":true");
    EXPECT_FALSE(link->waitFor([](const PhoneSnapshot &s) { return !s.attached; }, 5s).attached);
    ASSERT_TRUE(attachedWith(link));
    EXPECT_EQ(link->protocolFaults(), 2);

    // Well framed nonsense is ignored without dropping anything.
    const int connections = phone.connections();
    phone.sendMessage("this is not json");
    phone.sendMessage("{\"event\":true,\"class\":\"call\",\"type\":\"CALL_INCOMING\"}"); // no id
    phone.sendMessage("{\"response\":true,\"token\":\"nobody asked\"}");
    phone.sendEvent("mwi", "MWI_NOTIFY", "\"param\":\"Voice-Message: 2/2\"");
    ASSERT_TRUE(attachedWith(link, [](const PhoneSnapshot &s) { return s.voicemails == 2; }));
    EXPECT_EQ(phone.connections(), connections);
    EXPECT_TRUE(link->snapshot().calls.empty());
}

TEST(ScriptedLink, APhoneThatStopsAnsweringIsLetGo)
{
    Script script;
    ScriptedPhone phone(script.answer());
    auto link = linkTo(phone.port(), 300ms);
    ASSERT_TRUE(attachedWith(link));
    script.silent = true;
    phone.sendEvent("call", "CALL_INCOMING", incoming("c1", "sip:bob@h")); // asks for the list
    EXPECT_FALSE(link->waitFor([](const PhoneSnapshot &s) { return !s.attached; }, 5s).attached);
    EXPECT_GE(link->protocolFaults(), 1);
    script.silent = false;
    EXPECT_TRUE(attachedWith(link));
}

TEST(ScriptedLink, NoPhoneListeningShowsTheCrossAndAPressStartsIt)
{
    const int port = calls_test::unusedTcpPort();
    int starts = 0;
    CallsPlugin::Environment env = CallsPlugin::systemEnvironment();
    env.findPhone = [] { return std::string("/usr/bin/baresip"); };
    env.endpoint = [&] { return ControlEndpoint{"127.0.0.1", std::uint16_t(port)}; };
    env.link = [](const ControlEndpoint &e) { return linkTo(e.port); };
    env.startPhone = [&] { ++starts; return true; };
    CallsPlugin plugin(env);
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    EXPECT_EQ(plugin.Paint(*face.surface()), 1) << "the first paint shows the key's state even when it is the empty one";
    EXPECT_TRUE(face.shows(kOffline, 24, 24));
    EXPECT_FALSE(face.litIn(0, 0, 96, 20));
    EXPECT_EQ(plugin.Paint(*face.surface()), 0);
    plugin.OnKeyDown();
    EXPECT_EQ(starts, 1);
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

} // namespace
} // namespace calls
