// GlobalShortcutsPortal: the switch hotkey on Wayland desktops whose portal offers global
// shortcuts (org.freedesktop.portal.GlobalShortcuts: KDE Plasma 5.27+, GNOME 48+, Hyprland).
//
// open() registers the program's id with the portal's host registry where the portal has one,
// then makes a session (CreateSession, its Request's Response awaited). RegisterHotkey binds the
// hotkeys to that session (BindShortcuts, with the stored combination as the preferred trigger);
// the desktop may ask the user to confirm, and until the Response says the shortcut is bound the
// capability reads "needs a step". The portal's Activated signal for a bound shortcut becomes
// hotkeyPressed(id, key * 65536 + modifiers) of the combination the id was registered with; the
// desktop may have given it another trigger, which the report names.
//
// A session the desktop closes is made again and the hotkeys bound anew. A portal that does not
// answer within the time-outs, refuses, or goes away leaves the hotkey unavailable with the
// reason in the report; it never blocks the hook thread.
//
// Threads: hook thread only (DesktopBackend.h). Owns its sd-bus connection.
#pragma once

#include "DesktopBackend.h"
#include "SdBus.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace pixkey {

class GlobalShortcutsPortal : public DesktopBackend {
public:
    struct Options {
        std::string busAddress; // empty: $DBUS_SESSION_BUS_ADDRESS
        std::string appId = "com.vostrel.PixkeyMini";
        // Longest wait for a Response without a dialog (CreateSession), and while the desktop may
        // show the user the shortcut to confirm (BindShortcuts).
        std::chrono::milliseconds responseTimeout{10000};
        std::chrono::milliseconds confirmTimeout{120000};
    };

    enum class State {
        Connecting, // registering, making the session
        Ready,      // session made; nothing bound yet or a binding on its way
        Bound,      // the hotkeys are bound (the user confirmed where the desktop asks)
        Refused,    // the user (or the desktop) declined the binding
        Failed,     // no portal, an error, or no answer in time
    };

    GlobalShortcutsPortal() : GlobalShortcutsPortal(Options{}) {}
    explicit GlobalShortcutsPortal(Options options);
    ~GlobalShortcutsPortal() override; // closes the session

    const char *name() const override { return "GlobalShortcuts portal"; }
    bool open(std::string &error) override;
    // Stays usable after the portal failed, so the report keeps saying why; only a closed bus
    // connection ends it.
    bool usable() const override { return m_bus != nullptr && !m_busClosed; }
    void pollFds(std::vector<pollfd> &fds) const override;
    int timeoutMs() const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    // Binds (or rebinds) hotkey `id`. True when taken: it is bound once the portal confirms. False
    // for an unset combination or a key without a keysym, or when the portal failed.
    bool registerHotkey(int id, std::uint16_t modifiers, std::uint16_t key) override;
    bool unregisterHotkey(int id) override;

    State state() const { return m_state; }
    const std::string &failure() const { return m_failure; }
    // The trigger the desktop reports for hotkey `id` ("Ctrl+Alt+K"), empty when unknown.
    std::string triggerOf(int id) const;

    // The portal's trigger text for a combination ("CTRL+ALT+k"), empty when the key has no keysym.
    static std::string preferredTrigger(std::uint16_t modifiers, std::uint16_t key);
    // The id a hotkey goes by at the portal ("switch-hotkey-ID"), and back (-1 for another).
    static std::string shortcutId(int id);
    static int hotkeyOfShortcutId(const std::string &shortcut);

private:
    enum class Step { Nothing, CreateSession, Bind };
    struct Hotkey {
        std::uint16_t modifiers = 0;
        std::uint16_t key = 0;
        std::string trigger; // the desktop's description of the trigger, once known
    };

    static int onRegistered(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onRequestReply(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onResponse(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onActivated(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onShortcutsChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onSessionClosed(sd_bus_message *message, void *self, sd_bus_error *error);

    bool createSession();
    bool bindShortcuts();
    bool startRequest(Step step, sd_bus_message *call, std::chrono::milliseconds timeout);
    void handleResponse(std::uint32_t code, sd_bus_message *results);
    void readShortcuts(sd_bus_message *message); // a(sa{sv}) at the read position
    void fail(State state, const std::string &why);
    void closeSession();

    Options m_options;
    sdbus::BusPtr m_bus;
    sdbus::SlotPtr m_registerSlot, m_callSlot, m_responseSlot, m_activatedSlot, m_changedSlot, m_closedSlot;
    State m_state = State::Connecting;
    std::string m_failure;
    Step m_step = Step::Nothing;
    std::string m_token;          // handle_token of the request awaited
    std::string m_requestPath;    // its Request object, once the call returned it
    std::chrono::steady_clock::time_point m_deadline{};
    std::string m_session;        // session handle
    std::map<int, Hotkey> m_hotkeys;
    bool m_busClosed = false;
    bool m_bindWanted = false;    // hotkeys changed while a request was on its way
    int m_tokenCounter = 0;
    DesktopEvents *m_events = nullptr; // during dispatch only
};

} // namespace pixkey
