#include "HotkeyValue.h"

namespace pixkey {

void HotkeyValue::setPair(std::uint16_t modifiers, std::uint16_t key)
{
    m_hotkey.modifiers = modifiers;
    m_hotkey.key = key;
}

bool HotkeyValue::captureFromKeyboard()
{
    return m_hotkey.InitByKeyboardState();
}

void HotkeyValue::capture(std::uint16_t modifiers, const std::set<std::uint16_t> &down)
{
    std::uint16_t key = 0;
    for (std::uint16_t code : down) { // ascending
        if (code < 255 && !isModifierKey(code)) {
            key = code;
            break;
        }
    }
    setPair(modifiers, key);
}

const char *HotkeyValue::displayString()
{
    return m_hotkey.DisplayString();
}

bool HotkeyValue::isModifierKey(std::uint16_t key)
{
    // Shift, Ctrl, Alt (0x10..0x12), their left and right codes (0xA0..0xA5), left and right Win.
    return (key >= 0x10 && key <= 0x12) || (key >= 0xA0 && key <= 0xA5) || key == 0x5B || key == 0x5C;
}

} // namespace pixkey
