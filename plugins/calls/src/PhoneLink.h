// PhoneLink: one connection to the SIP phone's control socket, kept on a thread of its own, and the
// state of the phone that it keeps current for the plug-in's Paint to read.
//
// The thread connects to the loopback endpoint, asks for the registration list and the call list,
// then follows the phone's events (calls coming and going, registration, message summaries) and
// asks for the call list again after each call event and once a second while a call exists, for
// the running times. Paint reads snapshot(), a copy made under a short lock: it never waits on the
// socket. Commands (answer, end, dial) are queued for the thread; each request the phone leaves
// unanswered for longer than the command time-out drops the connection, which is tried again with
// a growing pause, as is a refused or lost one. The phone accepts one control client at a time, so
// a link that was pushed off by another client comes back only after that pause.
//
// Missed calls are counted here: incoming calls that close without having been established and
// without the user refusing them, since the last clearMissedCalls().
//
// [any-thread] Every public member may be called from any thread. The destructor stops and joins
// the thread; it must not run on that thread.
#pragma once

#include "PhoneProtocol.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace calls {

// Where a call stands, numbered as the plug-in's call states: 1 calling out (no answer from the
// other side yet), 4 ringing (either way), 5 in progress; 0 for anything else (ending, transfer).
enum class CallStatus { Other = 0, Calling = 1, Ringing = 4, InProgress = 5 };

struct PhoneCall {
    std::string id;            // the phone's call id; empty for a call known only from its list
    int line = 0;              // its line in the phone's last call list (0 before it was listed)
    CallStatus status = CallStatus::Other;
    bool incoming = true;
    bool onHold = false;
    bool established = false;  // was in progress at some time (then it cannot be a missed call)
    std::string peerUri;
    std::string displayName;
    // Running time: `seconds` as of `at` (from the call list, or 0 when the call was established).
    std::int64_t seconds = 0;
    std::chrono::steady_clock::time_point at{};
};

struct PhoneSnapshot {
    bool attached = false;        // the socket is connected and has answered
    int userStatus = 0;           // see onlineStatus()
    std::vector<PhoneCall> calls; // in the phone's order
    int missedCalls = 0;
    int voicemails = 0;
    std::uint64_t version = 0;    // grows with every change
};

class PhoneLink {
public:
    struct Options {
        ControlEndpoint endpoint;
        std::chrono::milliseconds commandTimeout{3000};
        std::chrono::milliseconds listInterval{1000};
        std::chrono::milliseconds reconnectMin{500};
        std::chrono::milliseconds reconnectMax{8000};
        std::chrono::milliseconds connectTimeout{1000};
        std::size_t maxMessage = 64 * 1024;
    };

    explicit PhoneLink(Options options);
    ~PhoneLink();
    PhoneLink(const PhoneLink &) = delete;
    PhoneLink &operator=(const PhoneLink &) = delete;

    // The link of the whole library for `endpoint`: instances showing the same phone share one
    // connection (the phone takes one client at a time). Made on first use, ended with its last
    // holder.
    static std::shared_ptr<PhoneLink> shared(const ControlEndpoint &endpoint);

    const Options &options() const { return m_options; }

    PhoneSnapshot snapshot() const;
    // Waits until `predicate` holds for a snapshot or `timeout` passes; the last snapshot seen.
    PhoneSnapshot waitFor(const std::function<bool(const PhoneSnapshot &)> &predicate,
                          std::chrono::milliseconds timeout) const;

    // Queued for the link's thread; nothing happens while the link is not attached.
    void answer(const PhoneCall &call);
    void hangUp(const PhoneCall &call);
    void dial(const std::string &uri);
    void clearMissedCalls();
    // Tries to connect at once instead of after the pause (the phone was just started).
    void retrySoon();

    // How many connections were dropped because the phone broke the protocol (bad framing,
    // oversized messages) or stopped answering.
    int protocolFaults() const;

private:
    class Worker;
    friend class Worker;
    void wake();
    void queue(std::string command, std::string params);

    Options m_options;
    int m_wakeFd = -1;

    mutable std::mutex m_lock;
    mutable std::condition_variable m_changed;
    PhoneSnapshot m_state;                       // guarded by m_lock
    // guarded by m_lock: commands (name, parameters) waiting for the thread
    std::vector<std::pair<std::string, std::string>> m_commands;
    bool m_stop = false;                         // guarded by m_lock
    bool m_retrySoon = false;                    // guarded by m_lock
    int m_protocolFaults = 0;                    // guarded by m_lock

    std::thread m_thread;
};

} // namespace calls
