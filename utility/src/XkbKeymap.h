// XkbKeymap: the keyboard map that key sending without an X server types through: the map named
// by the XKB_DEFAULT_* environment when it names a layout, else the system's keyboard
// configuration (/etc/default/keyboard, which the desktops start from), else xkbcommon's
// evdev/pc105/us; its text for a compositor, and the key codes of keysyms found by searching it.
// A uinput keyboard's codes are read by the desktop with its own layout, so the map should be
// the user's one: Ctrl+Z on a German map is the key labelled Z, evdev's KEY_Y.
//
// Also the order in which a shortcut's keys are pressed, shared by every way of sending keys.
//
// Threads: an object is used by one thread at a time; separate objects are independent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;

namespace pixkey {

// The keysyms of a shortcut in pressing order: Win, Ctrl, Alt, Shift, then the key (released in
// reverse). Empty when the key (or a modifier) has no keysym, or when nothing is set.
std::vector<std::uint32_t> shortcutKeysyms(std::uint16_t modifiers, std::uint16_t key);

// The keyboard names of a configuration file in the form of /etc/default/keyboard (XKBMODEL,
// XKBLAYOUT, XKBVARIANT, XKBOPTIONS as shell assignments); empty fields for what it lacks or
// when it cannot be read.
struct KeyboardNames {
    std::string model, layout, variant, options;
};
KeyboardNames keyboardNamesOfFile(const std::string &path);

class XkbKeymap {
public:
    // The default keymap; null with a reason in `error` when xkbcommon cannot compile it (no
    // keyboard data installed).
    static std::unique_ptr<XkbKeymap> createDefault(std::string &error);
    // The map of `names` (rules evdev); empty fields take xkbcommon's defaults.
    static std::unique_ptr<XkbKeymap> create(const KeyboardNames &names, std::string &error);
    ~XkbKeymap();
    XkbKeymap(const XkbKeymap &) = delete;
    XkbKeymap &operator=(const XkbKeymap &) = delete;

    // The XKB key code (evdev code + 8) that gives `keysym`, preferring a key where it needs no
    // shift level; 0 when no key of the first layout gives it.
    std::uint32_t keycodeOfKeysym(std::uint32_t keysym) const;
    // The key codes of `keysyms`, in order; empty when any of them has no key.
    std::vector<std::uint32_t> keycodesOf(const std::vector<std::uint32_t> &keysyms) const;

    // The keymap as text (xkb_v1 format), for a compositor.
    std::string text() const;

    // A state of this keymap: updates by key code and returns the serialised modifiers
    // (depressed, latched, locked, group) the Wayland keyboard protocols carry.
    struct Modifiers {
        std::uint32_t depressed = 0, latched = 0, locked = 0, group = 0;
    };
    Modifiers updateKey(std::uint32_t keycode, bool down);

private:
    XkbKeymap() = default;
    xkb_context *m_context = nullptr;
    xkb_keymap *m_keymap = nullptr;
    xkb_state *m_state = nullptr;
};

} // namespace pixkey
