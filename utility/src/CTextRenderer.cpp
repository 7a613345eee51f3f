#include "pixkey/utility/CTextRenderer.h"

#include "FontRegistry.h"
#include "TextDecoding.h"
#include "pixkey_plugin.h"

#include <QFontMetrics>
#include <QImage>
#include <QPainter>

namespace pixkey {

struct CTextRenderer::Font {
    PixelFont pixel;
    QFontMetrics metrics;
    explicit Font(const PixelFont &font) : pixel(font), metrics(font.font) {}
};

namespace {

constexpr RGBQUAD kShadow{0, 0, 0, 0};

bool usableSurface(const PkxSurface *surface)
{
    return surface && surface->bits && surface->width > 0 && surface->height > 0
        && surface->stride >= surface->width * 3;
}

} // namespace

CTextRenderer::CTextRenderer() = default;

CTextRenderer::~CTextRenderer()
{
    delete m_font;
}

bool CTextRenderer::LoadFont(const char *resourceName)
{
    return loadFont(resourceName, false);
}

bool CTextRenderer::loadFont(const char *resourceName, bool fallback)
{
    std::optional<PixelFont> font = pixelFont(resourceName, fallback);
    if (!font)
        return false;
    delete m_font;
    m_font = new Font(*font);
    return true;
}

int CTextRenderer::GetHeight() const
{
    return m_font ? m_font->pixel.lineHeight : 0;
}

int CTextRenderer::PrintText(PkxSurface *surface, const char *text, int x, int y, const RGBQUAD *override)
{
    if (!m_font || !text || !*text)
        return 0;
    const QString string = decodeText(text);
    const int width = m_font->metrics.horizontalAdvance(string);
    if (!usableSurface(surface))
        return width;

    int left = x;
    if (alignment == AlignCenter)
        left = x - width / 2;
    else if (alignment == AlignRight)
        left = x - width;

    const RGBQUAD &c = override ? *override : color;
    QImage target(surface->bits, surface->width, surface->height, surface->stride, QImage::Format_BGR888);
    QPainter painter(&target);
    painter.setFont(m_font->pixel.font);
    painter.setPen(QColor(c.rgbRed, c.rgbGreen, c.rgbBlue));
    painter.drawText(QPoint(left, y + m_font->pixel.ascent), string);
    return width;
}

int CTextRenderer::PrintShadowedText(PkxSurface *surface, const char *text, int x, int y)
{
    PrintText(surface, text, x + 1, y + 1, &kShadow);
    return PrintText(surface, text, x, y, nullptr);
}

unsigned CTextRenderer::LettersInLength(const char *text, int pixels)
{
    if (!m_font || !text || pixels <= 0)
        return 0;
    const QString string = decodeText(text);
    const CharacterBounds bounds = characterBounds(text);
    // Advances are positive and kerning is off, so prefix widths grow with the prefix: search for
    // the longest prefix that fits instead of measuring every one.
    std::size_t low = 0, high = bounds.byteEnds.size(); // prefixes of `low` characters fit
    while (low < high) {
        const std::size_t middle = (low + high + 1) / 2;
        if (m_font->metrics.horizontalAdvance(string.left(bounds.unitEnds[middle - 1])) <= pixels)
            low = middle;
        else
            high = middle - 1;
    }
    return low == 0 ? 0u : unsigned(bounds.byteEnds[low - 1]);
}

} // namespace pixkey
