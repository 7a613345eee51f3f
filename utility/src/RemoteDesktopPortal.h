// RemoteDesktopPortal: sends keyboard shortcuts on desktops that let programs type only through
// the remote desktop portal (org.freedesktop.portal.RemoteDesktop: GNOME, KDE Plasma).
//
// The first use asks the user (the desktop shows its dialog); the portal then hands out a restore
// token, kept in the program's settings folder, so later starts reuse the permission without a
// dialog. Keys go as keysyms (NotifyKeyboardKeysym), so the desktop's own keyboard map applies.
//
// Threads: the object runs one worker thread of its own (a Qt event loop: the portal answers
// through Request objects' Response signals) on a D-Bus connection of its own. send, report,
// state and waitForState may be called from any thread and never wait on the portal; presses made
// while the session starts are sent once it has started (or dropped when it fails). Needs a
// QCoreApplication; destroy the object before it goes.
#pragma once

#include <pixkey/pxkhk/DesktopCapabilities.h>

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

namespace pixkey {

class RemoteDesktopPortal {
public:
    enum class State {
        Probing,  // finding out whether the portal is there
        Absent,   // no remote desktop portal on the bus
        Idle,     // there, no session yet
        Starting, // session being made; the user may be looking at the dialog
        Ready,    // keys can be sent
        Refused,  // the user said no; the next press asks again
        Failed,   // the portal failed or did not answer; the next press tries again
    };

    struct Options {
        QString busAddress;  // empty: the session bus
        QString appId = QStringLiteral("com.vostrel.PixkeyMini");
        QString settingsPath; // INI file holding the restore token; empty: no token is kept
        std::chrono::milliseconds callTimeout{3000};      // a method call's reply
        std::chrono::milliseconds responseTimeout{10000}; // a request's Response without a dialog
        std::chrono::milliseconds dialogTimeout{120000};  // Start, while the user decides
        std::chrono::milliseconds pressLifetime{30000};   // a press not sent by then is dropped
    };

    explicit RemoteDesktopPortal(Options options);
    ~RemoteDesktopPortal(); // closes the session, stops the worker
    RemoteDesktopPortal(const RemoteDesktopPortal &) = delete;
    RemoteDesktopPortal &operator=(const RemoteDesktopPortal &) = delete;

    // Queues the keysyms of one shortcut (pressed in order, released in reverse) and starts a
    // session when there is none. False when the portal is known to be absent or `keysyms` empty.
    bool send(std::vector<std::uint32_t> keysyms);

    State state() const;
    // The reason of the last failure ("the portal did not answer within 10 s", ...).
    QString lastError() const;
    // Shortcuts delivered to the portal so far.
    int sentCount() const;
    // Waits until the state is `wanted` or `deadline` passed; true when it is. For callers that
    // must know (tests, a "check again" button); never needed for sending.
    bool waitForState(State wanted, std::chrono::milliseconds deadline) const;

    // Waits until the first look at the bus has ended (at most `deadline`); false when it has not.
    bool waitWhileProbing(std::chrono::milliseconds deadline) const;

    // The SendKeys capability as this portal offers it now.
    CapabilityReport report() const;

    class Worker;

private:
    std::unique_ptr<Worker> m_worker;
};

} // namespace pixkey
