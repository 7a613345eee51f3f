// KeySending.h: how the keyboard shortcuts of CHotkey::Invoke reach the desktop in this session,
// the switch that allows the uinput fallback, and the report the "Desktop" settings page shows.
//
// The way is chosen at the first send (or report) from the session: an X session (XDG_SESSION_TYPE
// "x11", or no WAYLAND_DISPLAY) types through XTest; a Wayland session through, in this order:
//   - the compositor's virtual keyboard (zwp_virtual_keyboard_v1: sway, Hyprland and other
//     wlroots compositors), on a Wayland connection of the library's own;
//   - a keyboard device made through /dev/uinput, only when the user turned that on
//     (SetUinputKeySendingEnabled; off by default; needs the udev rule shipped with the package);
//   - the remote desktop portal (GNOME, KDE Plasma): the first use shows the desktop's dialog, the
//     permission is then kept as a restore token in the settings file below. Presses made while the
//     dialog is open are sent once it is confirmed. Needs the program's QCoreApplication.
//
// Settings: `KeySending.ini` in the program's settings folder ($XDG_CONFIG_HOME/Vostrel), keys
// Uinput/Enabled (false) and RemoteDesktop/RestoreToken.
//
// All functions are [any-thread]; sends are serialised inside the library, and none waits on the
// user or longer than about a second on the desktop.
#pragma once

#include "UtilityExport.h"

#include <pixkey/pxkhk/DesktopCapabilities.h>

#include <string>

namespace pixkey {

enum class KeySendingRoute {
    None,                // nothing to send keys to (no display, or nothing offered)
    X11,                 // XTest on the X server
    VirtualKeyboard,     // the Wayland compositor's virtual keyboard
    Uinput,              // a uinput keyboard device (opted in)
    RemoteDesktopPortal, // org.freedesktop.portal.RemoteDesktop
};

// The SendKeys capability in this session: working, needing a step (the portal's one-time
// permission, the udev rule for uinput) or unavailable, and how. May connect to the compositor
// once (bounded) to find out whether it offers a virtual keyboard; never shows a dialog.
PIXKEY_UTILITY_EXPORT CapabilityReport KeySendingCapability();

// The way chosen for this session (choosing it now when no send did yet).
PIXKEY_UTILITY_EXPORT KeySendingRoute CurrentKeySendingRoute();

// Whether the user allowed key sending through /dev/uinput (off unless turned on).
PIXKEY_UTILITY_EXPORT bool UinputKeySendingEnabled();
// Turns it on or off (stored at once) and chooses the way again at the next send. False when the
// setting could not be written.
PIXKEY_UTILITY_EXPORT bool SetUinputKeySendingEnabled(bool enabled);

// The settings file named above.
PIXKEY_UTILITY_EXPORT std::string KeySendingSettingsFile();

// Forgets the chosen way (closing its connections), so the next send chooses again; for a session
// whose desktop changed, or a settings page's "check again".
PIXKEY_UTILITY_EXPORT void ResetKeySending();

} // namespace pixkey
