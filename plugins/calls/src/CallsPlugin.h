// CallsPlugin: the "Calls" plug-in object, one key showing the SIP phone: the user's status or the
// missed calls and voicemails while idle; the other party, the kind of call, its running time and
// "Press to start" / "Press to end" while a call rings or runs. A press answers or ends the call,
// or, without a call, starts the phone when it is not running.
//
// Created and deleted by the library's Create and Delete. Paint, OnKeyDown and OnEvent run on the
// instance's paint thread; GetInfo runs on the main thread and touches no state of the instance.
// The phone itself is reached through the library's shared PhoneLink, whose own thread keeps the
// state Paint reads: Paint never waits on the socket.
#pragma once

#include "CallsFace.h"
#include "CallsState.h"
#include "PhoneLink.h"

#include <pixkey_plugin.hpp>

#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace calls {

class CallsPlugin : public pkx::Plugin<CallsPlugin> {
public:
    // What the plug-in needs from the system; tests replace parts of it.
    struct Environment {
        // Path of the phone program, empty when it is not installed.
        std::function<std::string()> findPhone;
        // Where the phone's control socket listens.
        std::function<ControlEndpoint()> endpoint;
        // Starts the phone in the background; false when it could not be started.
        std::function<bool()> startPhone;
        // The link to use for an endpoint (the library's shared one by default).
        std::function<std::shared_ptr<PhoneLink>(const ControlEndpoint &)> link;
        std::function<std::chrono::steady_clock::time_point()> now;
    };
    static Environment systemEnvironment();

    explicit CallsPlugin(Environment environment = systemEnvironment());

    // [paint-thread] Queries the phone's state; draws and returns 1 when it differs from what the
    // key shows (and on the first Paint after activation), 0 otherwise.
    int Paint(PkxSurface &surface);
    // [paint-thread] Answers or ends the current call; without one, starts the phone when it does
    // not answer, and clears the missed calls.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [paint-thread] 1 connects (sharing the library's link) and loads the font; 2 lets go of both.
    int OnEvent(int code);

    // [paint-thread] The link in use while active, for tests and tools.
    std::shared_ptr<PhoneLink> link() const { return m_link; }
    // [paint-thread] What the key shows now.
    const CallsState &shown() const { return m_shown; }

private:
    Environment m_env;
    bool m_installed = false;
    std::shared_ptr<PhoneLink> m_link;
    std::optional<PhoneCall> m_currentCall;
    CallsState m_shown;
    bool m_drawn = false; // the face has been drawn since activation
    CallsFace m_face;
};

} // namespace calls
