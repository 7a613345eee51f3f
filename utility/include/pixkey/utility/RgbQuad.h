// RGBQUAD: one colour as the text renderer takes it (blue, green, red, unused byte).
#pragma once

#include <cstdint>

namespace pixkey {

struct RGBQUAD {
    std::uint8_t rgbBlue = 0;
    std::uint8_t rgbGreen = 0;
    std::uint8_t rgbRed = 0;
    std::uint8_t rgbReserved = 0;
};

// Colour from its red, green and blue parts.
constexpr RGBQUAD rgbQuad(std::uint8_t red, std::uint8_t green, std::uint8_t blue)
{
    return RGBQUAD{blue, green, red, 0};
}

} // namespace pixkey
