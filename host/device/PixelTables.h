#pragma once
// PixelTables: the colour correction of the keypad: a gamma table and three white-balance tables,
// and the conversion of a picture line into 16-bit wire pixels.
//
// Byte order: picture pixels are 3 bytes blue, green, red. A wire pixel is 5-6-5 (red in bits
// 15..11, green 10..5, blue 4..0), sent high byte first; a line goes out from picture column 95
// down to column 0.
//
// Per pixel (pb, pg, pr): blue' = TR[gam[pb]], green' = TG[gam[pg]], red' = TB[gam[pr]] (the
// white-balance tables apply crosswise: the red component of the temperature row scales blue and
// its blue component scales red, so a higher kelvin setting gives a warmer white); a green' below 8
// becomes 0. Not thread-safe; DeviceLink guards its instance with its lock.

#include <array>
#include <cstdint>

namespace pixkey {

class PixelTables {
public:
    static constexpr double kDefaultGamma = 0.65;
    static constexpr int kDefaultKelvin = 8500;

    PixelTables(); // gamma 0.65, 8500 K

    // Gamma is clamped to [0.1, 10]; gam[i] = floor((i / 255) ^ (1 / gamma) x 255 + 0.5).
    void SetGamma(double gamma);
    // Uses the colour-temperature row (kelvin - 950) / 100 (truncated), i.e. the nearest 100 K;
    // outside 851..40049 K the tables stay as they were. Returns whether they changed.
    bool SetWhiteBalance(int kelvin);

    // 96 picture pixels (288 bytes) to 192 wire bytes.
    void ConvertLine(const uint8_t *rowPixels, uint8_t *wire) const;
    // One picture pixel to its wire value.
    uint16_t convertPixel(uint8_t blue, uint8_t green, uint8_t red) const;

    const std::array<uint8_t, 256> &gammaTable() const { return m_gam; }
    const std::array<uint8_t, 256> &redTable() const { return m_tr; }
    const std::array<uint8_t, 256> &greenTable() const { return m_tg; }
    const std::array<uint8_t, 256> &blueTable() const { return m_tb; }

private:
    void rebuildWire();

    std::array<uint8_t, 256> m_gam{};
    std::array<uint8_t, 256> m_tr{}, m_tg{}, m_tb{};
    // Precomputed wire bits per input byte value: the three tables folded into one lookup each.
    std::array<uint16_t, 256> m_wireBlue{}, m_wireGreen{}, m_wireRed{};
};

} // namespace pixkey
