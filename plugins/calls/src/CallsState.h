// CallsState: what the Calls key shows, worked out from a snapshot of the phone (the query), and
// the numbers of the pictures that show it.
//
// [any-thread] Plain values and a pure function.
#pragma once

#include "PhoneLink.h"

#include <chrono>
#include <optional>
#include <string>

namespace calls {

// Picture numbers, as the library's resources are named.
enum Picture : int {
    kOffline = 8019,         // 48x48 grey cross: offline, or the phone is not attached
    kOnline = 8020,          // 48x48 green check
    kAway = 8015,            // 48x48 check with a clock
    kNotAvailable = 8018,    // 48x48 check with a moon
    kDoNotDisturb = 8016,    // 48x48 check with a red bar
    kInvisible = 8017,       // 48x48 grey check
    kOpenToContact = 8014,   // 48x48 check with a smiley
    kMissedCalls = 8032,     // 48x48 missed-call arrow
    kMissedMessages = 8031,  // 48x48 message bubble
    kVoicemails = 8034,      // 48x48 voicemail
    kSeveralEvents = 8021,   // 48x48 red flag
    kIncoming = 8026,        // 32x32 incoming arrow
    kIncomingConference = 8027, // 32x32 double arrow
    kOutgoing = 8030,        // 32x32 outgoing arrow
    kPersonCall = 8028,      // 32x32 one person
    kTelephoneCall = 8033,   // 32x32 telephone
    kConferenceCall = 8029,  // 32x32 group
    kReceiverGreen = 8022,   // 16x16 green receiver, with "Press to start"
    kReceiverRed = 8023,     // 16x16 red receiver, with "Press to end"
};

// The picture for an online status code (offline for -1, 0, 6 and any unknown code).
int statusPicture(int userStatus);

struct CallsState {
    bool noAutomation = false;  // the phone program is not installed
    bool attached = false;      // the phone's control socket answers
    int userStatus = 0;
    std::string prompt;         // "Press to start", "Press to end", or empty without a call
    std::string partner;
    std::string duration;       // empty unless the call is in progress
    int callPicture = 0;        // 0 without a call
    std::string eventsText;     // missed and new items together, in decimal
    int eventsPicture = 0;      // 0 when there are none
    std::string extraText;      // top right during a call
    int promptIcon = 0;

    bool operator==(const CallsState &) const = default;
};

struct QueryResult {
    CallsState state;
    std::optional<PhoneCall> currentCall; // the call a press acts on
};

// The query: the state to show for `phone` at time `now` (running times advance from the time
// the phone last listed them). `installed` is false when the phone program is missing.
QueryResult queryState(bool installed, const PhoneSnapshot &phone, std::chrono::steady_clock::time_point now);

// Text at the top right while the current call is on hold.
inline constexpr const char *kOnHoldText = "Hold";

} // namespace calls
