#include "pixkey/utility/CHotkey.h"

#include "KeyNames.h"
#include "KeySender.h"
#include "XKeyboard.h"

#include <Qt>

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

namespace pixkey {

namespace {

constexpr std::uint16_t kAllModifiers = CHotkey::Alt | CHotkey::Ctrl | CHotkey::Shift | CHotkey::Win;

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front())))
        text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.remove_suffix(1);
    return text;
}

// A decimal number of up to five digits, nothing else.
bool parseNumber(std::string_view text, unsigned *value)
{
    text = trimmed(text);
    if (text.empty() || text.size() > 5)
        return false;
    unsigned result = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        result = result * 10 + unsigned(c - '0');
    }
    *value = result;
    return true;
}

// "modifiers,key".
bool parseStored(std::string_view text, std::uint16_t *modifiers, std::uint16_t *key)
{
    const std::size_t comma = text.find(',');
    if (comma == std::string_view::npos)
        return false;
    unsigned m = 0, k = 0;
    if (!parseNumber(text.substr(0, comma), &m) || !parseNumber(text.substr(comma + 1), &k))
        return false;
    if ((m & ~unsigned(kAllModifiers)) != 0 || k > 254)
        return false;
    *modifiers = std::uint16_t(m);
    *key = std::uint16_t(k);
    return true;
}

// "Win+Ctrl+Alt+Shift+KEY", any subset of the prefixes in any order, case-insensitive.
bool parseReadable(std::string_view text, std::uint16_t *modifiers, std::uint16_t *key)
{
    static constexpr std::pair<const char *, std::uint16_t> kPrefixes[] = {
        {"win+", CHotkey::Win}, {"ctrl+", CHotkey::Ctrl}, {"alt+", CHotkey::Alt}, {"shift+", CHotkey::Shift}};
    std::uint16_t m = 0;
    bool progress = true;
    while (progress && !text.empty()) {
        progress = false;
        for (const auto &[prefix, flag] : kPrefixes) {
            const std::size_t length = std::strlen(prefix);
            // "Ctrl++" is Ctrl with the plus key, "Ctrl+" is Ctrl alone.
            if (text.size() >= length && strncasecmp(text.data(), prefix, length) == 0 && !(m & flag)) {
                m |= flag;
                text.remove_prefix(length);
                progress = true;
            }
        }
    }
    if (text.empty()) {
        if (m == 0)
            return false;
        *modifiers = m;
        *key = 0;
        return true;
    }
    std::uint16_t k = 0;
    // A lone modifier name ("Ctrl+Shift" typed as text) means modifiers without a key.
    for (const auto &[prefix, flag] : kPrefixes) {
        const std::size_t length = std::strlen(prefix) - 1;
        if (text.size() == length && strncasecmp(text.data(), prefix, length) == 0 && !(m & flag)) {
            *modifiers = std::uint16_t(m | flag);
            *key = 0;
            return true;
        }
    }
    k = keyFromText(text);
    if (k == 0 && text == "+")
        k = 0xBB; // the '=' key carries '+' on a US layout
    if (k == 0)
        return false;
    *modifiers = m;
    *key = k;
    return true;
}

} // namespace

bool CHotkey::Parse(const char *text)
{
    if (!text)
        return false;
    const std::string_view view = trimmed(text);
    std::uint16_t m = 0, k = 0;
    if (view.empty()) {
        modifiers = 0;
        key = 0;
        return true;
    }
    if (!parseStored(view, &m, &k) && !parseReadable(view, &m, &k))
        return false;
    modifiers = m;
    key = k;
    return true;
}

const char *CHotkey::ToString()
{
    std::snprintf(m_text, sizeof m_text, "%u,%u", unsigned(modifiers), unsigned(key));
    return m_text;
}

const char *CHotkey::DisplayString()
{
    std::string text;
    if (modifiers & Win)
        text += "Win+";
    if (modifiers & Ctrl)
        text += "Ctrl+";
    if (modifiers & Alt)
        text += "Alt+";
    if (modifiers & Shift)
        text += "Shift+";
    if (key != 0) {
        if (const char *name = keyName(key)) {
            text += name;
        } else if (key < 32) {
            char number[8];
            std::snprintf(number, sizeof number, "#%02u", unsigned(key));
            text += number;
        } else if (const char c = keyCharacter(key)) {
            text += c;
        }
    }
    const std::size_t count = std::min(text.size(), sizeof m_text - 1);
    std::memcpy(m_text, text.data(), count);
    m_text[count] = '\0';
    return m_text;
}

bool CHotkey::InitByKeyboardState()
{
    std::uint16_t m = 0, k = 0;
    if (!readKeyboardState(&m, &k))
        return false;
    modifiers = m;
    key = k;
    return true;
}

bool CHotkey::Invoke() const
{
    if (isEmpty())
        return false;
    return sendShortcutToDesktop(modifiers, key);
}

std::uint16_t CHotkey::ModifiersFromQt(int qtModifiers)
{
    std::uint16_t result = 0;
    if (qtModifiers & Qt::AltModifier)
        result |= Alt;
    if (qtModifiers & Qt::ControlModifier)
        result |= Ctrl;
    if (qtModifiers & Qt::ShiftModifier)
        result |= Shift;
    if (qtModifiers & Qt::MetaModifier)
        result |= Win;
    return result;
}

std::uint16_t CHotkey::VirtualKeyFromQtKey(int qtKey, bool keypad)
{
    if (keypad) {
        if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
            return std::uint16_t(0x60 + (qtKey - Qt::Key_0));
        switch (qtKey) {
        case Qt::Key_Asterisk: return 0x6A;
        case Qt::Key_Plus: return 0x6B;
        case Qt::Key_Minus: return 0x6D;
        case Qt::Key_Period:
        case Qt::Key_Comma: return 0x6E;
        case Qt::Key_Slash: return 0x6F;
        default: break; // Enter, arrows and the like as on the main block
        }
    }
    if ((qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) || (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9))
        return std::uint16_t(qtKey); // Qt uses the same codes for these
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return std::uint16_t(0x70 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Backspace: return 0x08;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return 0x09;
    case Qt::Key_Clear: return 0x0C;
    case Qt::Key_Return:
    case Qt::Key_Enter: return 0x0D;
    case Qt::Key_Pause: return 0x13;
    case Qt::Key_CapsLock: return 0x14;
    case Qt::Key_Escape: return 0x1B;
    case Qt::Key_Space: return 0x20;
    case Qt::Key_PageUp: return 0x21;
    case Qt::Key_PageDown: return 0x22;
    case Qt::Key_End: return 0x23;
    case Qt::Key_Home: return 0x24;
    case Qt::Key_Left: return 0x25;
    case Qt::Key_Up: return 0x26;
    case Qt::Key_Right: return 0x27;
    case Qt::Key_Down: return 0x28;
    case Qt::Key_Select: return 0x29;
    case Qt::Key_Printer: return 0x2A;
    case Qt::Key_Execute: return 0x2B;
    case Qt::Key_Print:
    case Qt::Key_SysReq: return 0x2C;
    case Qt::Key_Insert: return 0x2D;
    case Qt::Key_Delete: return 0x2E;
    case Qt::Key_Help: return 0x2F;
    case Qt::Key_Menu: return 0x5D;
    case Qt::Key_NumLock: return 0x90;
    case Qt::Key_ScrollLock: return 0x91;
    case Qt::Key_Back: return 0xA6;
    case Qt::Key_Forward: return 0xA7;
    case Qt::Key_Refresh: return 0xA8;
    case Qt::Key_Stop: return 0xA9;
    case Qt::Key_Search: return 0xAA;
    case Qt::Key_Favorites: return 0xAB;
    case Qt::Key_HomePage: return 0xAC;
    case Qt::Key_VolumeMute: return 0xAD;
    case Qt::Key_VolumeDown: return 0xAE;
    case Qt::Key_VolumeUp: return 0xAF;
    case Qt::Key_MediaNext: return 0xB0;
    case Qt::Key_MediaPrevious: return 0xB1;
    case Qt::Key_MediaStop: return 0xB2;
    case Qt::Key_MediaPlay:
    case Qt::Key_MediaTogglePlayPause: return 0xB3;
    case Qt::Key_LaunchMail: return 0xB4;
    case Qt::Key_Semicolon:
    case Qt::Key_Colon: return 0xBA;
    case Qt::Key_Equal:
    case Qt::Key_Plus: return 0xBB;
    case Qt::Key_Comma:
    case Qt::Key_Less: return 0xBC;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: return 0xBD;
    case Qt::Key_Period:
    case Qt::Key_Greater: return 0xBE;
    case Qt::Key_Slash:
    case Qt::Key_Question: return 0xBF;
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde: return 0xC0;
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft: return 0xDB;
    case Qt::Key_Backslash:
    case Qt::Key_Bar: return 0xDC;
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight: return 0xDD;
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl: return 0xDE;
    // Shifted digits on a US layout arrive as their symbols.
    case Qt::Key_Exclam: return 0x31;
    case Qt::Key_At: return 0x32;
    case Qt::Key_NumberSign: return 0x33;
    case Qt::Key_Dollar: return 0x34;
    case Qt::Key_Percent: return 0x35;
    case Qt::Key_AsciiCircum: return 0x36;
    case Qt::Key_Ampersand: return 0x37;
    case Qt::Key_Asterisk: return 0x38;
    case Qt::Key_ParenLeft: return 0x39;
    case Qt::Key_ParenRight: return 0x30;
    default: return 0;
    }
}

} // namespace pixkey
