// KeyNames: names and characters of virtual-key codes for the readable form of a shortcut.
#pragma once

#include <cstdint>
#include <string_view>

namespace pixkey {

// The name of `key` ("F1", "Num 5", "PgUp", ...), null when it has none. The cursor block
// 0x21..0x29 is named with and without Win.
const char *keyName(std::uint16_t key);

// The character a key types without modifiers on a US layout ('A', '7', ';'), 0 when none.
char keyCharacter(std::uint16_t key);

// The key whose name or (single) character is `text`, compared case-insensitively; 0 when none.
std::uint16_t keyFromText(std::string_view text);

} // namespace pixkey
