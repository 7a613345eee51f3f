// KeySender: the inside of KeySending.h: one process-wide sender that picks the way keys reach
// the desktop and keeps its connections (Wayland, uinput, portal) between sends.
#pragma once

#include <cstdint>

namespace pixkey {

// Presses and releases a shortcut (Alt 1, Ctrl 2, Shift 4, Win 8; virtual-key code) the way chosen
// for the session. True when the keys were sent, or handed to the portal to send. [any-thread]
bool sendShortcutToDesktop(std::uint16_t modifiers, std::uint16_t key);

} // namespace pixkey
