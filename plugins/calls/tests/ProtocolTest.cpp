// The control socket's framing and texts as the phone writes them (samples taken from a running
// phone), and what the plug-in makes of bad input.
#include "Netstring.h"
#include "PhoneProtocol.h"

#include <gtest/gtest.h>

namespace calls {
namespace {

std::vector<std::string> drain(NetstringReader &reader)
{
    std::vector<std::string> messages;
    while (auto message = reader.next())
        messages.push_back(*message);
    return messages;
}

TEST(Netstring, MessagesSplitAnywhereComeOutWhole)
{
    const std::string stream = encodeNetstring("{\"a\":1}") + encodeNetstring("") + encodeNetstring("x,y:z");
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        NetstringReader reader;
        ASSERT_TRUE(reader.feed(stream.substr(0, cut)));
        auto first = drain(reader);
        ASSERT_TRUE(reader.feed(stream.substr(cut)));
        auto rest = drain(reader);
        first.insert(first.end(), rest.begin(), rest.end());
        EXPECT_EQ(first, (std::vector<std::string>{"{\"a\":1}", "", "x,y:z"})) << "cut at " << cut;
    }
}

TEST(Netstring, BrokenFramingFailsAndStaysFailed)
{
    struct Case {
        const char *name;
        std::string bytes;
    } cases[] = {
        {"garbage", "hello world"},
        {"no digits", ":abc,"},
        {"missing comma", "3:abcd"},
        {"one gigabyte announced", "1073741824:"},
        {"length just over the limit", "65537:"},
        {"endless digits", std::string(40, '9')},
    };
    for (const auto &c : cases) {
        NetstringReader reader(64 * 1024);
        EXPECT_FALSE(reader.feed(c.bytes)) << c.name;
        EXPECT_TRUE(reader.failed()) << c.name;
        EXPECT_FALSE(reader.feed("2:ok,")) << c.name;
        EXPECT_TRUE(drain(reader).empty()) << c.name;
        reader.reset();
        EXPECT_TRUE(reader.feed("2:ok,")) << c.name;
        EXPECT_EQ(drain(reader), std::vector<std::string>{"ok"}) << c.name;
    }
}

TEST(Netstring, HugePrefixIsRefusedBeforeItsDigitsEnd)
{
    // The reader must not wait for a gigabyte: the prefix alone is refused.
    NetstringReader reader(64 * 1024);
    EXPECT_FALSE(reader.feed("1073741824"));
    EXPECT_TRUE(reader.failed());
}

TEST(PhoneMessage, EventsAndAnswersAsThePhoneWritesThem)
{
    auto event = parsePhoneMessage(
        R"({"event":true,"type":"CALL_INCOMING","class":"call","accountaor":"sip:alice@127.0.0.1:15060",)"
        R"("direction":"incoming","peeruri":"sip:carol@127.0.0.1:15064","peerdisplayname":"Carol",)"
        R"("id":"fd7d222ddfdc75dc","param":"sip:carol@127.0.0.1:15064"})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind, PhoneMessage::Kind::Event);
    EXPECT_EQ(event->eventClass, "call");
    EXPECT_EQ(event->type, "CALL_INCOMING");
    EXPECT_EQ(event->direction, "incoming");
    EXPECT_EQ(event->peerUri, "sip:carol@127.0.0.1:15064");
    EXPECT_EQ(event->peerDisplayName, "Carol");
    EXPECT_EQ(event->id, "fd7d222ddfdc75dc");

    auto answer = parsePhoneMessage(R"({"response":true,"ok":true,"data":"\n--- Active calls (0) ---\n\n","token":"pk1"})");
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->kind, PhoneMessage::Kind::Response);
    EXPECT_TRUE(answer->ok);
    EXPECT_EQ(answer->token, "pk1");
    EXPECT_EQ(answer->data, "\n--- Active calls (0) ---\n\n");
}

TEST(PhoneMessage, UntrustedFieldsAreBoundedAndCleaned)
{
    EXPECT_FALSE(parsePhoneMessage("not json"));
    EXPECT_FALSE(parsePhoneMessage("[1,2,3]"));
    EXPECT_FALSE(parsePhoneMessage(R"({"neither":true})"));
    EXPECT_FALSE(parsePhoneMessage(std::string(100, '{')));

    const std::string longName(5000, 'n');
    auto event = parsePhoneMessage(R"({"event":true,"class":"call","type":"CALL_INCOMING","peerdisplayname":")" +
                                   longName + R"(","id":7,"peeruri":"sip:a\u0007b\u001b[31m@h"})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->peerDisplayName.size(), kMaxFieldLength);
    EXPECT_EQ(event->id, "") << "a number where text belongs is ignored";
    EXPECT_EQ(event->peerUri.find('\x07'), std::string::npos);
    EXPECT_EQ(event->peerUri.find('\x1b'), std::string::npos);

    // A cut never splits a character.
    std::string accents;
    for (int i = 0; i < 200; ++i)
        accents += "\xc3\xa9";
    event = parsePhoneMessage(R"({"event":true,"peerdisplayname":")" + accents + "\"}");
    ASSERT_TRUE(event);
    EXPECT_LE(event->peerDisplayName.size(), kMaxFieldLength);
    EXPECT_EQ(event->peerDisplayName.size() % 2, 0u);
}

TEST(CallList, LinesOfThePhonesList)
{
    const auto calls = parseCallList(
        "\n--- Active calls (3) ---\n"
        "  [line 1]  0:00:11  ESTABLISHED  (on hold)  sip:bob@127.0.0.1:15062\n"
        "> [line 2]  1:02:03  ESTABLISHED             sip:carol@127.0.0.1:15064\n"
        "  [line 3]  0:00:00   INCOMING             sip:+4930123@gw.example;user=phone\n"
        "  [line x]  0:00:00   INCOMING             sip:broken@h\n"
        "  [line 4]  soon      INCOMING             sip:broken@h\n\n");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0].line, 1);
    EXPECT_FALSE(calls[0].current);
    EXPECT_TRUE(calls[0].onHold);
    EXPECT_EQ(calls[0].seconds, 11);
    EXPECT_EQ(calls[0].peerUri, "sip:bob@127.0.0.1:15062");
    EXPECT_TRUE(calls[1].current);
    EXPECT_EQ(calls[1].seconds, 3723);
    EXPECT_FALSE(calls[1].onHold);
    EXPECT_EQ(calls[2].state, "INCOMING");
    EXPECT_EQ(calls[2].peerUri, "sip:+4930123@gw.example;user=phone");

    EXPECT_TRUE(parseCallList("\n--- Active calls (0) ---\n\n").empty());
    std::string many;
    for (int i = 1; i <= 100; ++i)
        many += "  [line " + std::to_string(i) + "]  0:00:01  ESTABLISHED  sip:x@h\n";
    EXPECT_EQ(parseCallList(many).size(), kMaxCalls);
}

TEST(Registrations, StatusFromTheAccountList)
{
    auto accounts = parseRegistrations("\n--- User Agents (2) ---\n> sip:alice@127.0.0.1:15060                 \n"
                                       "  sip:dave@127.0.0.1:9   \x1b[33mzzz\x1b[;m  Expires 0s\n\n");
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].aor, "sip:alice@127.0.0.1:15060");
    EXPECT_EQ(accounts[0].registration, Registration::NotNeeded);
    EXPECT_EQ(accounts[1].registration, Registration::Pending);

    accounts = parseRegistrations("> sip:a@h \x1b[32mOK \x1b[;m sip:h\n  sip:b@h \x1b[31mERR\x1b[;m sip:h\n");
    ASSERT_EQ(accounts.size(), 2u);
    EXPECT_EQ(accounts[0].registration, Registration::Registered);
    EXPECT_EQ(accounts[1].registration, Registration::Failed);

    using R = Registration;
    EXPECT_EQ(onlineStatus({}), 1);
    EXPECT_EQ(onlineStatus({{"a", R::NotNeeded}}), 1);
    EXPECT_EQ(onlineStatus({{"a", R::Failed}, {"b", R::Registered}}), 1);
    EXPECT_EQ(onlineStatus({{"a", R::Failed}, {"b", R::Pending}}), 3);
    EXPECT_EQ(onlineStatus({{"a", R::Pending}}), 0);
}

TEST(Voicemails, MessageSummaryBodies)
{
    EXPECT_EQ(parseVoicemails("Messages-Waiting: yes\r\nVoice-Message: 2/8 (0/2)\r\n"), 2);
    EXPECT_EQ(parseVoicemails("voice-message:0/3"), 0);
    EXPECT_EQ(parseVoicemails("Voice-Message: 123456789012/0"), 9999);
    EXPECT_FALSE(parseVoicemails("Messages-Waiting: no"));
    EXPECT_FALSE(parseVoicemails("Voice-Message: many"));
}

TEST(Peers, TelephoneNetworkAndNames)
{
    EXPECT_TRUE(isTelephonePeer("tel:+4930123456"));
    EXPECT_TRUE(isTelephonePeer("sip:4930123456@gw.example"));
    EXPECT_TRUE(isTelephonePeer("<sip:+4930123456@gw.example>"));
    EXPECT_TRUE(isTelephonePeer("sip:office@gw.example;user=phone"));
    EXPECT_FALSE(isTelephonePeer("sip:bob@127.0.0.1:15062"));
    EXPECT_FALSE(isTelephonePeer("sip:bob42@example.org"));
    EXPECT_FALSE(isTelephonePeer("sip:example.org"));

    EXPECT_EQ(uriUserPart("sip:bob@127.0.0.1:15062"), "bob");
    EXPECT_EQ(uriUserPart("\"Bob\" <sips:bob;x=y@h>"), "bob");
    EXPECT_EQ(uriUserPart("tel:+4930;phone-context=x"), "+4930");
    EXPECT_EQ(uriUserPart("sip:host.only"), "");

    EXPECT_EQ(partnerName("Seventeen chars!!", "sip:bob@h"), "Seventeen chars!!");
    EXPECT_EQ(partnerName("Eighteen chars!!!!", "sip:bob@h"), "bob");
    EXPECT_EQ(partnerName("", "sip:bob@h"), "bob");
    EXPECT_EQ(partnerName("  ", "sip:host.only"), "sip:host.only");
    // Characters, not bytes: 17 accented letters are still a name.
    std::string accents;
    for (int i = 0; i < 17; ++i)
        accents += "\xc3\xa9";
    EXPECT_EQ(partnerName(accents, "sip:bob@h"), accents);
}

TEST(Duration, MinutesBelowAnHourHoursFromThen)
{
    EXPECT_EQ(formatDuration(0), "00:00");
    EXPECT_EQ(formatDuration(185), "03:05");
    EXPECT_EQ(formatDuration(3599), "59:59");
    EXPECT_EQ(formatDuration(3600), "1:00:00");
    EXPECT_EQ(formatDuration(3723), "1:02:03");
    EXPECT_EQ(formatDuration(36 * 3600 + 1), "36:00:01");
    EXPECT_EQ(formatDuration(-5), "00:00");
}

TEST(Endpoint, OnlyThePortOfTheConfigurationIsTaken)
{
    EXPECT_EQ(controlEndpointFromConfig(""), (ControlEndpoint{"127.0.0.1", 4444}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen\t127.0.0.1:5555\n"), (ControlEndpoint{"127.0.0.1", 5555}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen 0.0.0.0:5556"), (ControlEndpoint{"127.0.0.1", 5556}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen 203.0.113.9:5557"), (ControlEndpoint{"127.0.0.1", 5557}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen [::1]:5558"), (ControlEndpoint{"::1", 5558}));
    EXPECT_EQ(controlEndpointFromConfig("#ctrl_tcp_listen 127.0.0.1:5559"), (ControlEndpoint{}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen 127.0.0.1:99999"), (ControlEndpoint{}));
    EXPECT_EQ(controlEndpointFromConfig("ctrl_tcp_listen evil.example"), (ControlEndpoint{}));
}

} // namespace
} // namespace calls
