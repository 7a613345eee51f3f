// UinputKeyboard: sends key presses through a keyboard device of its own made with the kernel's
// uinput (/dev/uinput), for Wayland desktops that offer neither a virtual keyboard nor the remote
// desktop portal. Used only after the user turned it on (KeySending.h); /dev/uinput is writable for
// the user at the seat once the udev rule shipped in the package's documentation is installed.
//
// Key codes come from the default keyboard map: evdev code = XKB key code - 8.
//
// Threads: one object is used by one thread at a time (KeySender serialises the calls).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pixkey {

class XkbKeymap;

// The evdev key codes of `keysyms` in the default keyboard map; empty when a keysym has no key.
std::vector<std::uint16_t> evdevCodesOfKeysyms(const XkbKeymap &keymap, const std::vector<std::uint32_t> &keysyms);

class UinputKeyboard {
public:
    // Opens `device` (the uinput node) and makes the keyboard. The desktop needs a moment to take
    // a new device into use, so the first send waits `settleMs` after creating it. Null with a
    // reason when the node cannot be opened (no permission: the udev rule is not installed) or is
    // not a uinput device.
    static std::unique_ptr<UinputKeyboard> open(const std::string &device, int settleMs, std::string &error);
    ~UinputKeyboard();
    UinputKeyboard(const UinputKeyboard &) = delete;
    UinputKeyboard &operator=(const UinputKeyboard &) = delete;

    // Presses the keys in order and releases them in reverse. False with a reason when a keysym
    // has no key or the device refused an event.
    bool sendKeysyms(const std::vector<std::uint32_t> &keysyms, std::string &error);

private:
    UinputKeyboard() = default;
    bool emit(std::uint16_t type, std::uint16_t code, std::int32_t value);

    int m_fd = -1;
    int m_settleMs = 0;
    std::unique_ptr<XkbKeymap> m_keymap;
};

} // namespace pixkey
