#pragma once

#include <QEvent>

namespace pixkey {

// The main window's private messages: each is the event type QEvent::User + its offset, and the
// same number travels between configurators (`DesktopHook::BroadcastMessage`).
enum class PrivateMessage : int {
    TrayNotification = 1,
    OptionsRefresh = 2,
    ShowPluginAbout = 3,
    OrientationChanged = 5,
    ForegroundChanged = 6,   // wParam window, lParam 1 active / 0 gone
    LayoutActivated = 7,
    ModifiedChanged = 8,
    ModifierRow = 9,         // wParam row, lParam 1 to force
    PluginError = 10,
    ShowLayoutInfo = 11,
    PluginInfoRefresh = 12,
    LayoutChosen = 13,
    PluginInfoRefresh2 = 15,
    AddPluginFile = 16,      // the path travels with the event
    HotkeyChanged = 17,      // wParam 1 to pass on
    TrayIconChanged = 18,
    HookAgain = 19,
    AdoptProfile = 20,
    FaceChanged = 21,
    // Events of this program's own, beyond the shared table.
    Hotkey = 100,            // a press of registered hotkey wParam, lParam key * 65536 + modifiers
    KeyPressed = 101,        // wParam device key 1..3
    ConnectionChanged = 102, // wParam 1 connected, 0 lost
    ShowWindow = 103,        // another copy asks for the window
    Exit = 104,              // a termination signal
};

constexpr QEvent::Type eventType(PrivateMessage message)
{
    return QEvent::Type(int(QEvent::User) + int(message));
}

constexpr int messageNumber(PrivateMessage message) { return int(message); }

} // namespace pixkey
