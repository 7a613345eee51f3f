// PhoneProtocol: what the SIP phone's control socket says and how it is read. Messages are JSON
// objects inside netstrings: answers to commands ({"response":true,"ok":...,"data":...,"token":...})
// and events ({"event":true,"class":...,"type":...,"id":...,"peeruri":...,...}). The answers'
// "data" is the phone's own plain text (the call list, the registration list), parsed here too.
//
// Everything read from the socket is untrusted: every text field is cut to a fixed length and
// cleaned of control characters, counts are bounded, and text that does not parse yields nothing
// rather than a guess.
//
// [any-thread] Free functions without state.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace calls {

// Longest field kept from a message; longer texts are cut (at a character boundary).
inline constexpr std::size_t kMaxFieldLength = 256;
// Longest "data" text kept from an answer.
inline constexpr std::size_t kMaxDataLength = 32 * 1024;
// Most calls taken from one call list; the rest are ignored.
inline constexpr std::size_t kMaxCalls = 16;

struct PhoneMessage {
    enum class Kind { Response, Event };
    Kind kind = Kind::Response;
    // Response
    bool ok = false;
    std::string data;
    std::string token;
    // Event
    std::string eventClass;   // "call", "register", "mwi", "other", ...
    std::string type;         // "CALL_INCOMING", "REGISTER_OK", "MWI_NOTIFY", ...
    std::string accountAor;
    std::string direction;    // "incoming" or "outgoing"
    std::string peerUri;
    std::string peerDisplayName;
    std::string id;           // the call's id
    std::string param;
};

// The message in `json`, or nothing when it is not a JSON object that is an answer or an event.
std::optional<PhoneMessage> parsePhoneMessage(std::string_view json);

// A command for the socket, as the JSON text to frame: {"command":...,"params":...,"token":...}
// ("params" only when not empty).
std::string encodeCommand(std::string_view command, std::string_view params, std::string_view token);

// One line of the "listcalls" answer: "> [line 1]  0:00:03  ESTABLISHED  (on hold)  sip:bob@host".
struct ListedCall {
    int line = 0;
    bool current = false;     // the phone's current call ('>')
    std::int64_t seconds = 0; // running time the phone reports
    std::string state;        // "INCOMING", "OUTGOING", "RINGING", "EARLY", "ESTABLISHED", ...
    bool onHold = false;
    std::string peerUri;
};

// The calls of a "listcalls" answer, in the phone's order; at most kMaxCalls. Lines that do not
// have the shape above are skipped.
std::vector<ListedCall> parseCallList(std::string_view data);

enum class Registration { NotNeeded, Pending, Registered, Failed };

struct AccountRegistration {
    std::string aor;
    Registration registration = Registration::NotNeeded;
};

// The accounts of a "reginfo" answer ("> sip:alice@host  OK" and the like; colour escapes are
// ignored). Accounts without a registrar show nothing after the address: NotNeeded.
std::vector<AccountRegistration> parseRegistrations(std::string_view data);

// The user's online status from the accounts: 1 (online) when one is registered or none needs
// registering, 3 (not available) when registering failed, 0 (offline) while it is under way.
int onlineStatus(const std::vector<AccountRegistration> &accounts);

// New voice messages from a message-summary body ("Voice-Message: 2/8" gives 2); nothing when the
// body has no voice-message line. Bounded to 9999.
std::optional<int> parseVoicemails(std::string_view body);

// The user part of a SIP or telephone URI ("sip:bob@host;x" gives "bob", "tel:+4930123" gives
// "+4930123"); empty when there is none.
std::string uriUserPart(std::string_view uri);

// True for a peer on the telephone network: a "tel:" URI, a SIP URI with "user=phone", or one whose
// user part is a telephone number (digits, optionally after a '+').
bool isTelephonePeer(std::string_view uri);

// The name to show for the other party: the display name, unless it is absent or longer than 17
// characters; then the user part of the URI (or the URI itself when it has no user part).
std::string partnerName(std::string_view displayName, std::string_view uri);

// Running time as "MM:SS" below an hour, "H:MM:SS" from an hour on.
std::string formatDuration(std::int64_t seconds);

// Where the phone's control socket listens, from the text of its configuration file (the
// "ctrl_tcp_listen ADDRESS:PORT" line). Only the port is taken: the plug-in connects to the
// loopback address whatever the file says (IPv6 loopback when the file names "[::1]").
struct ControlEndpoint {
    std::string host = "127.0.0.1";
    std::uint16_t port = 4444;
    bool operator==(const ControlEndpoint &) const = default;
};
ControlEndpoint controlEndpointFromConfig(std::string_view configText);

// The endpoint of the user's phone: $HOME/.baresip/config, or the default when it is missing.
ControlEndpoint userControlEndpoint();

} // namespace calls
