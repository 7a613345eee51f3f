// XKeyboard: the X11 side of CHotkey: virtual-key codes to keysyms and back, the keys held now
// (XQueryKeymap) and sending a shortcut (XTest); also FocusedWindowProcess (FocusedWindow.h).
//
// Every call opens its own display connection and runs under one library-wide lock, because the X
// error handler it installs for the call is process-wide.
#pragma once

#include <cstdint>

namespace pixkey {

// The X keysym of virtual-key code `key`, 0 when it has none.
unsigned long keysymOfVirtualKey(std::uint16_t key);
// The virtual-key code of an X keysym, 0 when it has none.
std::uint16_t virtualKeyOfKeysym(unsigned long keysym);

// Keys held now: modifier set (Alt 1, Ctrl 2, Shift 4, Win 8) and the lowest other virtual-key
// code down (0 when none). False without a display.
bool readKeyboardState(std::uint16_t *modifiers, std::uint16_t *key);

// Presses and releases the shortcut through XTest. False without a display or XTest, when a key
// is not on the keyboard map, or when the server reported an error.
bool sendShortcut(std::uint16_t modifiers, std::uint16_t key);

// Process id of the window in front, 0 when unknown. Offered to plug-ins by
// <pixkey/utility/FocusedWindow.h>; declared here as well because other libraries compile this
// file with only this folder on their include path.
__attribute__((visibility("default"))) int FocusedWindowProcess();

} // namespace pixkey
