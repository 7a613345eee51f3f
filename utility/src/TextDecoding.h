// TextDecoding: turning the plug-ins' byte strings into QString.
#pragma once

#include <QString>

#include <cstddef>
#include <vector>

namespace pixkey {

// True when `text` (`size` bytes) is well-formed UTF-8 (no overlong forms, surrogates or values
// above U+10FFFF).
bool isValidUtf8(const char *text, std::size_t size);

// UTF-8 when valid, Latin-1 otherwise. Null gives an empty string.
QString decodeText(const char *text);

// Byte offsets in `text` at which each character of decodeText(text) ends, one entry a QString
// code unit group: ends[i] is the byte length of the prefix holding the first i + 1 characters;
// `units[i]` is the QString length of that prefix.
struct CharacterBounds {
    std::vector<std::size_t> byteEnds;
    std::vector<qsizetype> unitEnds;
};
CharacterBounds characterBounds(const char *text);

} // namespace pixkey
