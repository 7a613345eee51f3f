#include "CallsState.h"

#include <algorithm>

namespace calls {

int statusPicture(int userStatus)
{
    switch (userStatus) {
    case 1: return kOnline;
    case 2: return kAway;
    case 3: return kNotAvailable;
    case 4: return kDoNotDisturb;
    case 5: return kInvisible;
    case 7: return kOpenToContact;
    default: return kOffline;
    }
}

QueryResult queryState(bool installed, const PhoneSnapshot &phone, std::chrono::steady_clock::time_point now)
{
    QueryResult result;
    CallsState &state = result.state;
    if (!installed) {
        state.noAutomation = true;
        return result;
    }
    if (!phone.attached)
        return result;
    state.attached = true;
    state.userStatus = phone.userStatus;

    // Calls in progress together make a conference.
    const auto inProgress = std::count_if(phone.calls.begin(), phone.calls.end(), [](const PhoneCall &call) {
        return call.status == CallStatus::InProgress;
    });
    const bool conference = inProgress > 1;

    for (const PhoneCall &call : phone.calls) {
        const bool telephone = isTelephonePeer(call.peerUri);
        state.partner = partnerName(call.displayName, call.peerUri);
        if (call.status == CallStatus::Calling || call.status == CallStatus::Ringing) {
            if (!call.incoming) {
                state.callPicture = kOutgoing;
                state.prompt = "Press to end";
                state.promptIcon = kReceiverRed;
            } else {
                state.callPicture = conference ? kIncomingConference : kIncoming;
                state.prompt = "Press to start";
                state.promptIcon = kReceiverGreen;
            }
            result.currentCall = call;
            break;
        }
        if (call.status == CallStatus::InProgress) {
            state.callPicture = conference ? kConferenceCall : telephone ? kTelephoneCall : kPersonCall;
            state.prompt = "Press to end";
            state.promptIcon = kReceiverRed;
            result.currentCall = call;
        }
    }

    if (result.currentCall) {
        const PhoneCall &call = *result.currentCall;
        if (call.status == CallStatus::InProgress) {
            const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(now - call.at).count();
            state.duration = formatDuration(call.seconds + std::max<std::int64_t>(elapsed, 0));
            if (call.onHold)
                state.extraText = kOnHoldText;
        }
        return result;
    }

    const int missedCalls = std::max(phone.missedCalls, 0);
    const int missedMessages = 0; // the phone does not report them
    const int voicemails = std::max(phone.voicemails, 0);
    state.eventsText = std::to_string(missedCalls + missedMessages + voicemails);
    const int kinds = (missedCalls > 0) + (missedMessages > 0) + (voicemails > 0);
    if (kinds > 1)
        state.eventsPicture = kSeveralEvents;
    else if (missedCalls > 0)
        state.eventsPicture = kMissedCalls;
    else if (missedMessages > 0)
        state.eventsPicture = kMissedMessages;
    else if (voicemails > 0)
        state.eventsPicture = kVoicemails;
    return result;
}

} // namespace calls
