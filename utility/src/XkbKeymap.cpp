#include "XkbKeymap.h"

#include "XKeyboard.h"

#include <xkbcommon/xkbcommon.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace pixkey {

std::vector<std::uint32_t> shortcutKeysyms(std::uint16_t modifiers, std::uint16_t key)
{
    std::vector<std::uint32_t> keysyms;
    // Win 8, Ctrl 2, Alt 1, Shift 4, as their left-hand keys.
    const std::pair<std::uint16_t, std::uint16_t> modifierKeys[] = {{8, 0x5B}, {2, 0x11}, {1, 0x12}, {4, 0x10}};
    for (const auto &[flag, vk] : modifierKeys) {
        if (!(modifiers & flag))
            continue;
        const unsigned long keysym = keysymOfVirtualKey(vk);
        if (keysym == 0)
            return {};
        keysyms.push_back(std::uint32_t(keysym));
    }
    if (key != 0) {
        const unsigned long keysym = keysymOfVirtualKey(key);
        if (keysym == 0)
            return {};
        keysyms.push_back(std::uint32_t(keysym));
    }
    return keysyms;
}

KeyboardNames keyboardNamesOfFile(const std::string &path)
{
    KeyboardNames names;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos || line.compare(0, 3, "XKB") != 0)
            continue;
        const std::string key = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        while (!value.empty() && std::isspace(static_cast<unsigned char>(value.back())))
            value.pop_back();
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        if (key == "XKBMODEL")
            names.model = value;
        else if (key == "XKBLAYOUT")
            names.layout = value;
        else if (key == "XKBVARIANT")
            names.variant = value;
        else if (key == "XKBOPTIONS")
            names.options = value;
    }
    return names;
}

std::unique_ptr<XkbKeymap> XkbKeymap::createDefault(std::string &error)
{
    const char *layout = std::getenv("XKB_DEFAULT_LAYOUT");
    if (layout && *layout)
        return create({}, error); // xkbcommon takes every XKB_DEFAULT_* itself
    return create(keyboardNamesOfFile("/etc/default/keyboard"), error);
}

std::unique_ptr<XkbKeymap> XkbKeymap::create(const KeyboardNames &keyboard, std::string &error)
{
    std::unique_ptr<XkbKeymap> result(new XkbKeymap);
    result->m_context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    if (!result->m_context) {
        error = "xkbcommon cannot start (no keyboard data found)";
        return nullptr;
    }
    const auto field = [](const std::string &value) { return value.empty() ? nullptr : value.c_str(); };
    xkb_rule_names names{};
    names.model = field(keyboard.model);
    names.layout = field(keyboard.layout);
    // A variant list only goes with the layouts it belongs to.
    names.variant = keyboard.layout.empty() ? nullptr : field(keyboard.variant);
    names.options = field(keyboard.options);
    result->m_keymap = xkb_keymap_new_from_names(result->m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!result->m_keymap) {
        error = "xkbcommon cannot compile the keyboard map" + (keyboard.layout.empty() ? std::string() : " of layout " + keyboard.layout);
        return nullptr;
    }
    result->m_state = xkb_state_new(result->m_keymap);
    if (!result->m_state) {
        error = "xkbcommon cannot make a keyboard state";
        return nullptr;
    }
    return result;
}

XkbKeymap::~XkbKeymap()
{
    if (m_state)
        xkb_state_unref(m_state);
    if (m_keymap)
        xkb_keymap_unref(m_keymap);
    if (m_context)
        xkb_context_unref(m_context);
}

std::uint32_t XkbKeymap::keycodeOfKeysym(std::uint32_t keysym) const
{
    if (keysym == 0)
        return 0;
    const xkb_keycode_t first = xkb_keymap_min_keycode(m_keymap);
    const xkb_keycode_t last = xkb_keymap_max_keycode(m_keymap);
    // Level by level, so a key that gives the symbol unshifted wins over one that needs a level.
    for (xkb_level_index_t level = 0; level < 4; ++level) {
        for (xkb_keycode_t code = first; code <= last; ++code) {
            if (level >= xkb_keymap_num_levels_for_key(m_keymap, code, 0))
                continue;
            const xkb_keysym_t *syms = nullptr;
            const int count = xkb_keymap_key_get_syms_by_level(m_keymap, code, 0, level, &syms);
            for (int i = 0; i < count; ++i)
                if (syms[i] == keysym)
                    return code;
        }
    }
    return 0;
}

std::vector<std::uint32_t> XkbKeymap::keycodesOf(const std::vector<std::uint32_t> &keysyms) const
{
    std::vector<std::uint32_t> codes;
    codes.reserve(keysyms.size());
    for (std::uint32_t keysym : keysyms) {
        const std::uint32_t code = keycodeOfKeysym(keysym);
        if (code == 0)
            return {};
        codes.push_back(code);
    }
    return codes;
}

std::string XkbKeymap::text() const
{
    char *text = xkb_keymap_get_as_string(m_keymap, XKB_KEYMAP_FORMAT_TEXT_V1);
    if (!text)
        return {};
    std::string result(text);
    free(text);
    return result;
}

XkbKeymap::Modifiers XkbKeymap::updateKey(std::uint32_t keycode, bool down)
{
    xkb_state_update_key(m_state, keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP);
    Modifiers mods;
    mods.depressed = xkb_state_serialize_mods(m_state, XKB_STATE_MODS_DEPRESSED);
    mods.latched = xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LATCHED);
    mods.locked = xkb_state_serialize_mods(m_state, XKB_STATE_MODS_LOCKED);
    mods.group = xkb_state_serialize_layout(m_state, XKB_STATE_LAYOUT_EFFECTIVE);
    return mods;
}

} // namespace pixkey
