// CHotkey: a keyboard shortcut as a virtual-key code and a modifier set, with its stored form, its
// readable form, the capture of the keys held now and the sending of the shortcut to the desktop.
//
// Virtual-key codes are the classic desktop codes: 0x41..0x5A letters, 0x30..0x39 digits,
// 0x70..0x87 F1..F24, 0x21..0x28 PgUp/PgDown/End/Home/arrows, 0x60..0x6F the numeric pad, ...
//
// Stored form (ToString / Parse, kept stable because layouts store it): the modifier set and the
// key code as decimal numbers separated by a comma, "2,67" for Ctrl+C, "0,0" for no shortcut.
// Parse also accepts the readable form ("Ctrl+C", "Win+Alt+F1", "Ctrl+#03").
//
// Readable form (DisplayString): "Win+", "Ctrl+", "Alt+", "Shift+" in this order, then the key's
// name ("F1", "PgUp", "Num 5", "Enter", ...), its character ("A", "7", ";"), or "#NN" for an
// unnamed code below 32; empty when the shortcut is unset.
//
// The object is a plain value: copying copies the pair. [any-thread] for the value operations.
// InitByKeyboardState talks to the X server (a connection of its own for each call, serialised
// inside the library) and returns false when there is no display. Invoke sends the way the session
// allows (XTest on X; a virtual keyboard, uinput or the remote desktop portal on Wayland: see
// KeySending.h).
#pragma once

#include "UtilityExport.h"

#include <cstdint>

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CHotkey {
public:
    enum Modifier : std::uint16_t { Alt = 1, Ctrl = 2, Shift = 4, Win = 8 };

    CHotkey() = default;
    CHotkey(std::uint16_t modifiers, std::uint16_t key) : key(key), modifiers(modifiers) {}

    // Reads the stored (or readable) form. False, leaving the value unchanged, for null or text
    // that does not describe a shortcut; "0,0" and "" give the unset shortcut.
    bool Parse(const char *text);

    // The stored form, in a buffer of the object, valid until the next call on it.
    const char *ToString();

    // The readable form, in a buffer of the object, valid until the next call on it. (Xlib.h
    // defines a function-like macro DisplayString; where it is included, call
    // (hotkey.DisplayString)().)
    const char *DisplayString();

    // Replaces key and modifiers by the keys held down now: Alt, Ctrl, Shift and Win (either side)
    // become modifiers; the key is the lowest other virtual-key code down, 0 when none. False (value
    // unchanged) without an X display.
    bool InitByKeyboardState();

    // Sends the shortcut to the focused window as key presses: modifiers down (Win, Ctrl, Alt,
    // Shift), the key down and up, modifiers up in reverse order. False when the shortcut is unset,
    // the key has no key on the keyboard map, or the session offers no way to send keys (no X
    // display or XTest, no virtual keyboard, uinput not allowed, no portal) or that way failed. With
    // the remote desktop portal the keys are handed over and sent once the user has allowed it.
    bool Invoke() const;

    bool isEmpty() const { return key == 0 && modifiers == 0; }
    bool operator==(const CHotkey &other) const { return key == other.key && modifiers == other.modifiers; }

    // The virtual-key code of a Qt key (Qt::Key value); `keypad` is true when the event carried
    // Qt::KeypadModifier. 0 for keys without a code (and for the modifier keys themselves, which
    // belong in `modifiers`). For capture fields built on QKeyEvent.
    static std::uint16_t VirtualKeyFromQtKey(int qtKey, bool keypad = false);
    // The modifier set of Qt keyboard modifiers (Qt::KeyboardModifiers value).
    static std::uint16_t ModifiersFromQt(int qtModifiers);

    std::uint16_t key = 0;       // virtual-key code, 0 = none
    std::uint16_t modifiers = 0; // Alt 1 | Ctrl 2 | Shift 4 | Win 8

private:
    char m_text[40] = {};
};

} // namespace pixkey
