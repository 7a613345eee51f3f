#include "TextDecoding.h"

#include <cstring>

namespace pixkey {

namespace {

// Length of the well-formed UTF-8 sequence at text[0..size), 0 when it is not one.
std::size_t sequenceLength(const unsigned char *s, std::size_t size, char32_t *codePoint)
{
    const unsigned char c = s[0];
    std::size_t length;
    char32_t value;
    if (c < 0x80) {
        *codePoint = c;
        return 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
        value = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        value = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        value = c & 0x07;
    } else {
        return 0;
    }
    if (length > size)
        return 0;
    for (std::size_t i = 1; i < length; ++i) {
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (s[i] & 0x3F);
    }
    if ((length == 3 && value < 0x800) || (length == 4 && (value < 0x10000 || value > 0x10FFFF))
        || (value >= 0xD800 && value <= 0xDFFF))
        return 0;
    *codePoint = value;
    return length;
}

} // namespace

bool isValidUtf8(const char *text, std::size_t size)
{
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    std::size_t i = 0;
    char32_t codePoint;
    while (i < size) {
        const std::size_t length = sequenceLength(s + i, size - i, &codePoint);
        if (length == 0)
            return false;
        i += length;
    }
    return true;
}

QString decodeText(const char *text)
{
    if (!text)
        return QString();
    const std::size_t size = std::strlen(text);
    if (isValidUtf8(text, size))
        return QString::fromUtf8(text, qsizetype(size));
    return QString::fromLatin1(text, qsizetype(size));
}

CharacterBounds characterBounds(const char *text)
{
    CharacterBounds bounds;
    if (!text)
        return bounds;
    const std::size_t size = std::strlen(text);
    const auto *s = reinterpret_cast<const unsigned char *>(text);
    const bool utf8 = isValidUtf8(text, size);
    std::size_t i = 0;
    qsizetype units = 0;
    char32_t codePoint;
    while (i < size) {
        std::size_t length = 1;
        if (utf8)
            length = sequenceLength(s + i, size - i, &codePoint);
        else
            codePoint = s[i];
        i += length;
        units += codePoint > 0xFFFF ? 2 : 1;
        bounds.byteEnds.push_back(i);
        bounds.unitEnds.push_back(units);
    }
    return bounds;
}

} // namespace pixkey
