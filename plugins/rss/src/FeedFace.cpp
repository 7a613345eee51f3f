#include "FeedFace.hpp"

#include <pixkey/utility/CFileImage.h>

#include <algorithm>
#include <cstring>

namespace pixkey::rss {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// `text` cut to at most `limit` bytes on a UTF-8 character boundary, whitespace runs made one
// space, leading and trailing whitespace dropped.
std::string tidy(const std::string &text, std::size_t limit)
{
    std::string out;
    out.reserve(std::min(text.size(), limit));
    for (char c : text) {
        if (out.size() >= limit)
            break;
        if (isBlank(c)) {
            if (!out.empty() && out.back() != ' ')
                out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    while (!out.empty() && out.back() == ' ')
        out.pop_back();
    if (out.size() >= limit) {
        // Do not end inside a multi-byte character.
        std::size_t end = out.size();
        while (end > 0 && (static_cast<unsigned char>(out[end - 1]) & 0xC0) == 0x80)
            --end;
        if (end > 0 && static_cast<unsigned char>(out[end - 1]) >= 0xC0)
            out.resize(end - 1);
    }
    return out;
}

} // namespace

void fillBlack(PkxSurface &face)
{
    for (int y = 0; y < face.height; ++y)
        std::memset(face.bits + y * face.stride, 0, std::size_t(face.width) * 3);
}

FeedFace::FeedFace() = default;

void FeedFace::createFont()
{
    if (m_fontCreated)
        return;
    m_fontCreated = true;
    // DejaVu Sans Condensed with a 13-pixel em (16-pixel lines).
    m_fontLoaded = m_text.LoadFont("VELMORA_16PX");
    m_text.alignment = CTextRenderer::AlignLeft;
    m_text.color = RGBQUAD{255, 255, 255, 0};
}

int FeedFace::bandHeight(int showType, int width, int height)
{
    int band = showType >= 4 ? PKX_FACE_SIZE : showType * PKX_FACE_SIZE / 4 - 4;
    if (width > 0 && height > 0 && band * width / height > PKX_FACE_SIZE)
        band = height * PKX_FACE_SIZE / width;
    return std::clamp(band, 0, int(PKX_FACE_SIZE));
}

std::vector<std::string> FeedFace::wrap(const std::string &text, int width, int maxLines)
{
    std::vector<std::string> lines;
    const std::string tidied = tidy(text, kMaxTextBytes);
    std::size_t pos = 0;
    while (pos < tidied.size() && int(lines.size()) < maxLines) {
        const std::string rest = tidied.substr(pos);
        std::size_t fit = m_fontLoaded ? m_text.LettersInLength(rest.c_str(), width) : rest.size();
        if (fit >= rest.size()) {
            lines.push_back(rest);
            break;
        }
        std::size_t cut = fit;
        if (rest[fit] != ' ') {
            const std::size_t space = rest.rfind(' ', fit);
            if (space != std::string::npos && space > 0) {
                cut = space;
            } else if (fit == 0) {
                // Not even one character fits: take one whole character anyway.
                cut = 1;
                while (cut < rest.size() && (static_cast<unsigned char>(rest[cut]) & 0xC0) == 0x80)
                    ++cut;
            }
        }
        lines.push_back(rest.substr(0, cut));
        pos += cut;
        if (pos < tidied.size() && tidied[pos] == ' ')
            ++pos;
    }
    return lines;
}

void FeedFace::drawText(PkxSurface &face, const std::string &text)
{
    fillBlack(face);
    createFont();
    if (!m_fontLoaded || text.empty())
        return;
    const int lineHeight = std::max(1, m_text.GetHeight());
    const int maxLines = (face.height + lineHeight - 1) / lineHeight;
    int y = 0;
    for (const std::string &line : wrap(text, face.width, maxLines)) {
        m_text.PrintText(&face, line.c_str(), 0, y);
        y += lineHeight;
    }
}

void FeedFace::drawItem(PkxSurface &face, const FeedItem &item, const CFileImage *picture, int showType)
{
    fillBlack(face);
    const bool hasPicture = picture && picture->bits && picture->GetWidth() > 0 && picture->GetHeight() > 0;
    if (!(showType == 4 && hasPicture))
        drawText(face, item.titleText.empty() ? item.title : item.titleText);
    if (!hasPicture || showType == 0)
        return;
    const int w = picture->GetWidth();
    const int h = picture->GetHeight();
    const int band = bandHeight(showType, w, h);
    if (band < 1)
        return;
    for (int y = face.height - band; y < face.height; ++y)
        std::memset(face.bits + y * face.stride, 0, std::size_t(face.width) * 3);
    // The picture keeps its proportions inside the band, centred across the face.
    const int drawWidth = std::clamp(band * w / h, 1, face.width);
    picture->StretchDIBits(&face, (face.width - drawWidth) / 2, face.height - band, drawWidth, band);
}

} // namespace pixkey::rss
