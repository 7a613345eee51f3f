// DesktopCapabilities: what the desktop hook layer can do in this session, capability by capability,
// and how: the list the "Desktop" page of the settings and `pixkeyctl desktop` show.
//
// Plain values; made by the hook layer (and, for sending keys, by the Utility library), read on any
// thread.
#pragma once

#include <string>
#include <vector>

namespace pixkey {

enum class DesktopCapability {
    ActiveWindow, // switching by the application in front
    SwitchHotkey, // the key combination that selects the next layout
    ModifierRows, // rows chosen by held Ctrl, Shift and Alt
    IdleTime,     // screensaver and dark keys after a time without input
    SendKeys,     // the keyboard shortcuts plug-in keys send
};

enum class CapabilityState {
    Working,     // works now
    NeedsStep,   // works after a one-time step the user takes (`step` says which)
    Unavailable, // this desktop offers no way (`how` says what to use instead, when anything)
};

struct CapabilityReport {
    DesktopCapability capability = DesktopCapability::ActiveWindow;
    CapabilityState state = CapabilityState::Unavailable;
    // What provides it, or why it is missing, in a short sentence: "sway IPC focus events",
    // "the X server's _NET_ACTIVE_WINDOW", "GNOME Shell offers no focused-window interface".
    std::string how;
    // The one-time step for NeedsStep, or the fallback for Unavailable ("bind a key to
    // `pixkeyctl switch-layout` in the desktop's keyboard settings"); empty otherwise.
    std::string step;
};

using CapabilityReports = std::vector<CapabilityReport>;

// "Active window", "Switch hotkey", "Modifier rows", "Idle time", "Sending keys".
const char *capabilityName(DesktopCapability capability);
// "working", "needs a step", "unavailable".
const char *capabilityStateName(CapabilityState state);

} // namespace pixkey
