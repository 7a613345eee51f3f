// HotkeyValue: a key and modifier pair as the hotkey field holds it, with its readable text.
//
// `key` is a virtual-key code (0 = none), `modifiers` the set Alt 1, Ctrl 2, Shift 4, Win 8. The
// readable form and the key-name table are the utility's (CHotkey): "Ctrl+A", "Win+Alt+F1",
// "Ctrl+#03", "Win+PgUp"; modifiers alone give "Ctrl+" and the unset value gives "".
//
// A plain value; no thread affinity except captureFromKeyboard(), which asks the X server.
#pragma once

#include <pixkey/utility/CHotkey.h>

#include <cstdint>
#include <initializer_list>
#include <set>

namespace pixkey {

class HotkeyValue {
public:
    HotkeyValue() = default;
    HotkeyValue(std::uint16_t modifiers, std::uint16_t key) : m_hotkey(modifiers, key) {}

    void setPair(std::uint16_t modifiers, std::uint16_t key);

    // Replaces both from the keys held down on the desktop now. False (value unchanged) when there
    // is no X display to ask.
    bool captureFromKeyboard();

    // Replaces both from a snapshot of the keyboard: `modifiers` held and the virtual-key codes
    // `down`. Modifier keys among them (Shift, Ctrl, Alt, their left and right codes, both Win
    // keys) count as up; the key is the lowest remaining code below 255, 0 when none.
    void capture(std::uint16_t modifiers, const std::set<std::uint16_t> &down);

    // The readable text, in a buffer of the value valid until the next call on it.
    const char *displayString();

    std::uint16_t key() const { return m_hotkey.key; }
    std::uint16_t modifiers() const { return m_hotkey.modifiers; }
    CHotkey hotkey() const { return m_hotkey; }

    // Whether a virtual-key code is one of the modifier keys (never the key of a value).
    static bool isModifierKey(std::uint16_t key);

private:
    CHotkey m_hotkey;
};

} // namespace pixkey
