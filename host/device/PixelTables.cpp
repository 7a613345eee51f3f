#include "PixelTables.h"

#include "BlackbodyTable.h"
#include "LinkTypes.h"

#include <algorithm>
#include <cmath>

namespace pixkey {

PixelTables::PixelTables()
{
    for (int i = 0; i < 256; ++i)
        m_gam[i] = m_tr[i] = m_tg[i] = m_tb[i] = static_cast<uint8_t>(i);
    SetGamma(kDefaultGamma);
    SetWhiteBalance(kDefaultKelvin);
}

void PixelTables::SetGamma(double gamma)
{
    // NaN and non-positive values end up at the lower bound, like any gamma below 0.1.
    if (!(gamma >= 0.1))
        gamma = 0.1;
    gamma = std::min(gamma, 10.0);
    for (int i = 0; i < 256; ++i) {
        const double v = std::floor(std::pow(i * (1.0 / 255.0), 1.0 / gamma) * 255.0 + 0.5);
        m_gam[i] = static_cast<uint8_t>(std::clamp(v, 0.0, 255.0));
    }
    rebuildWire();
}

bool PixelTables::SetWhiteBalance(int kelvin)
{
    const int n = (kelvin - 950) / 100; // truncates toward zero: 851..1049 K give row 0
    if (kelvin < 851 || n < 0 || n >= kBlackbodyRows)
        return false;
    const BlackbodyColour c = kBlackbodyTable[n];
    for (int i = 0; i < 256; ++i) {
        m_tr[i] = static_cast<uint8_t>(i * c.red / 255);
        m_tg[i] = static_cast<uint8_t>(i * c.green / 255);
        m_tb[i] = static_cast<uint8_t>(i * c.blue / 255);
    }
    rebuildWire();
    return true;
}

void PixelTables::rebuildWire()
{
    for (int i = 0; i < 256; ++i) {
        const uint8_t blue = m_tr[m_gam[i]];
        uint8_t green = m_tg[m_gam[i]];
        const uint8_t red = m_tb[m_gam[i]];
        if (green < 8)
            green = 0;
        m_wireBlue[i] = static_cast<uint16_t>(blue >> 3);
        m_wireGreen[i] = static_cast<uint16_t>((green >> 2) << 5);
        m_wireRed[i] = static_cast<uint16_t>((red >> 3) << 11);
    }
}

uint16_t PixelTables::convertPixel(uint8_t blue, uint8_t green, uint8_t red) const
{
    return static_cast<uint16_t>(m_wireRed[red] | m_wireGreen[green] | m_wireBlue[blue]);
}

void PixelTables::ConvertLine(const uint8_t *rowPixels, uint8_t *wire) const
{
    // Column 95 goes out first.
    const uint8_t *px = rowPixels + (kFaceSize - 1) * 3;
    for (int i = 0; i < kFaceSize; ++i, px -= 3) {
        const uint16_t v = static_cast<uint16_t>(m_wireRed[px[2]] | m_wireGreen[px[1]] | m_wireBlue[px[0]]);
        wire[2 * i] = static_cast<uint8_t>(v >> 8);
        wire[2 * i + 1] = static_cast<uint8_t>(v);
    }
}

} // namespace pixkey
