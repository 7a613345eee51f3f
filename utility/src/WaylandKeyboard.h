// WaylandKeyboard: sends key presses on a Wayland compositor that offers virtual keyboards
// (zwp_virtual_keyboard_v1, the wlroots family), through a Wayland connection of its own, so it
// works whether Qt runs on Wayland, on XWayland or not at all.
//
// The connection and the virtual keyboard are kept between sends; a connection the compositor
// closed is dropped, and the next send connects again. Every wait is bounded by `timeoutMs`.
//
// Threads: one object is used by one thread at a time (KeySender serialises the calls).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pixkey {

class XkbKeymap;

class WaylandKeyboard {
public:
    // Connects to `display` (empty: $WAYLAND_DISPLAY) and makes a virtual keyboard on the first
    // seat. Null with a reason in `error` when there is no compositor, it offers no virtual
    // keyboards or no seat, or it did not answer within `timeoutMs`.
    static std::unique_ptr<WaylandKeyboard> connect(const std::string &display, int timeoutMs, std::string &error);
    ~WaylandKeyboard();
    WaylandKeyboard(const WaylandKeyboard &) = delete;
    WaylandKeyboard &operator=(const WaylandKeyboard &) = delete;

    // Presses the keys of `keysyms` in order and releases them in reverse, with the modifier
    // state a keyboard would report, then waits (bounded) until the compositor has them. False
    // with a reason when a keysym has no key in the keymap or the connection broke.
    bool sendKeysyms(const std::vector<std::uint32_t> &keysyms, std::string &error);

    // False once the compositor closed the connection or reported a protocol error.
    bool usable() const;

    struct Globals;

private:
    WaylandKeyboard();
    bool roundtrip(std::string &error);

    std::unique_ptr<Globals> m_globals;
    std::unique_ptr<XkbKeymap> m_keymap;
    int m_timeoutMs = 1000;
    bool m_broken = false;
};

} // namespace pixkey
