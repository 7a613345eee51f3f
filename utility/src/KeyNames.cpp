#include "KeyNames.h"

#include <strings.h>

#include <cctype>
#include <cstdio>
#include <string>

namespace pixkey {

namespace {

struct KeyName {
    std::uint16_t key;
    const char *name;
};

// Searched in this order: the first entry with the code wins.
constexpr KeyName kKeyNames[] = {
    {0x21, "PgUp"}, {0x22, "PgDown"}, {0x23, "End"}, {0x24, "Home"}, {0x25, "Left"}, {0x26, "Up"},
    {0x27, "Right"}, {0x28, "Down"}, {0x29, "Select"},
    {0x61, "Num 1"}, {0x62, "Num 2"}, {0x63, "Num 3"}, {0x64, "Num 4"}, {0x65, "Num 5"}, {0x66, "Num 6"},
    {0x67, "Num 7"}, {0x68, "Num 8"}, {0x69, "Num 9"}, {0x60, "Num 0"},
    {0x08, "Back"}, {0x09, "Tab"}, {0x0C, "Clear"}, {0x0D, "Enter"}, {0x13, "Pause"}, {0x14, "Caps Lock"},
    {0x1B, "Esc"}, {0x20, "Space"}, {0x2A, "Print"}, {0x2B, "Execute"}, {0x2C, "PrnSrn"}, {0x2D, "Ins"},
    {0x2E, "Del"}, {0x2F, "Help"}, {0x5B, "LWin"}, {0x5C, "RWin"}, {0x5D, "Apps"},
    {0x6A, "Num *"}, {0x6B, "Num +"}, {0x6D, "Num -"}, {0x6E, "Num ."}, {0x6F, "Num /"},
    {0x70, "F1"}, {0x71, "F2"}, {0x72, "F3"}, {0x73, "F4"}, {0x74, "F5"}, {0x75, "F6"}, {0x76, "F7"},
    {0x77, "F8"}, {0x78, "F9"}, {0x79, "F10"}, {0x7A, "F11"}, {0x7B, "F12"}, {0x7C, "F13"}, {0x7D, "F14"},
    {0x7E, "F15"}, {0x7F, "F16"}, {0x80, "F17"}, {0x81, "F18"}, {0x82, "F19"}, {0x83, "F20"}, {0x84, "F21"},
    {0x85, "F22"}, {0x86, "F23"}, {0x87, "F24"},
    {0x90, "Num Lock"}, {0x91, "Scroll Lock"}, {0xE5, "Process"}, {0xF8, "Excel"}, {0xFA, "Play"}, {0xFB, "Zoom"},
};
static_assert(std::size(kKeyNames) == 71);

// Keys outside the letters and digits that type a character on a US layout.
struct KeyCharacter {
    std::uint16_t key;
    char character;
};
constexpr KeyCharacter kKeyCharacters[] = {
    {0xBA, ';'}, {0xBB, '='}, {0xBC, ','}, {0xBD, '-'}, {0xBE, '.'}, {0xBF, '/'},
    {0xC0, '`'}, {0xDB, '['}, {0xDC, '\\'}, {0xDD, ']'}, {0xDE, '\''},
};

} // namespace

const char *keyName(std::uint16_t key)
{
    for (const KeyName &entry : kKeyNames)
        if (entry.key == key)
            return entry.name;
    return nullptr;
}

char keyCharacter(std::uint16_t key)
{
    if ((key >= 0x30 && key <= 0x39) || (key >= 0x41 && key <= 0x5A))
        return char(key);
    for (const KeyCharacter &entry : kKeyCharacters)
        if (entry.key == key)
            return entry.character;
    return 0;
}

std::uint16_t keyFromText(std::string_view text)
{
    if (text.empty())
        return 0;
    const std::string name(text);
    for (const KeyName &entry : kKeyNames)
        if (strcasecmp(entry.name, name.c_str()) == 0)
            return entry.key;
    if (text.size() == 1) {
        const char c = char(std::toupper(static_cast<unsigned char>(text[0])));
        if ((c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z'))
            return std::uint16_t(c);
        for (const KeyCharacter &entry : kKeyCharacters)
            if (entry.character == c)
                return entry.key;
    }
    // "#NN": a control code written as its decimal value.
    if (text.size() == 3 && text[0] == '#' && std::isdigit(static_cast<unsigned char>(text[1]))
        && std::isdigit(static_cast<unsigned char>(text[2]))) {
        const int code = (text[1] - '0') * 10 + (text[2] - '0');
        if (code > 0 && code < 32)
            return std::uint16_t(code);
    }
    return 0;
}

} // namespace pixkey
