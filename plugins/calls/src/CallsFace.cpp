#include "CallsFace.h"

#include <pixkey_plugin.h>

#include <QPainter>
#include <QString>

#include <algorithm>
#include <cstring>
#include <pixkey/utility/PkxImages.h>

namespace calls {

namespace {

// Copies `image` (Format_BGR888) onto the face with its top left corner at (x, y), clipped.
void blit(PkxSurface &surface, const QImage &image, int x, int y)
{
    if (image.isNull())
        return;
    const int left = std::max(x, 0);
    const int right = std::min(x + image.width(), surface.width);
    if (right <= left)
        return;
    for (int row = 0; row < image.height(); ++row) {
        const int target = y + row;
        if (target < 0 || target >= surface.height)
            continue;
        std::memcpy(surface.bits + std::size_t(target) * std::size_t(surface.stride) + std::size_t(left) * 3,
                    image.constScanLine(row) + std::size_t(left - x) * 3, std::size_t(right - left) * 3);
    }
}

} // namespace

QImage loadPicture(int number)
{
    const QImage source(QStringLiteral(":/calls/%1.png").arg(number));
    if (source.isNull())
        return {};
    // Drawn as they are, on black: the transparent parts of the artwork become black.
    QImage opaque(source.size(), QImage::Format_BGR888);
    opaque.fill(Qt::black);
    QPainter painter(&opaque);
    painter.drawImage(0, 0, source);
    painter.end();
    return opaque;
}

PkxImage *previewImage()
{
    return pixkey::ToPkxImage(QImage(QStringLiteral(":/calls/IDB_CALLS.png")));
}

PkxImage *iconImage(int size)
{
    if (size != 16 && size != 32)
        return nullptr;
    return pixkey::ToPkxImage(QImage(QStringLiteral(":/calls/IDI_CALLS_%1.png").arg(size)));
}

bool CallsFace::loadFont()
{
    m_text.color = pixkey::rgbQuad(255, 255, 255);
    return m_text.LoadFont("VELMORA_12PX");
}

const QImage &CallsFace::picture(Cached &slot, int number)
{
    if (slot.number != number) {
        slot.number = number;
        slot.image = loadPicture(number);
    }
    return slot.image;
}

void CallsFace::text(PkxSurface &surface, const std::string &value, int x, int y, int alignment)
{
    if (value.empty())
        return;
    m_text.alignment = alignment;
    m_text.PrintText(&surface, value.c_str(), x, y);
}

void CallsFace::draw(const CallsState &state, PkxSurface &surface)
{
    for (int y = 0; y < surface.height; ++y)
        std::memset(surface.bits + std::size_t(y) * std::size_t(surface.stride), 0, std::size_t(surface.width) * 3);

    using Align = pixkey::CTextRenderer::Alignment;
    if (!state.attached) {
        blit(surface, picture(m_big, kOffline), 24, 24);
        if (state.noAutomation)
            text(surface, "Calls 3+ required", 0, 4, Align::AlignLeft);
        return;
    }
    if (state.callPicture != 0) {
        if (!state.extraText.empty()) {
            text(surface, state.duration, 0, 0, Align::AlignLeft);
            text(surface, state.extraText, 96, 0, Align::AlignRight);
        } else {
            text(surface, state.duration, 48, 0, Align::AlignCenter);
        }
        blit(surface, picture(m_call, state.callPicture), 32, 16);
        text(surface, state.partner, 48, 48, Align::AlignCenter);
        blit(surface, picture(m_prompt, state.promptIcon), 0, 80);
        text(surface, state.prompt, 20, 80, Align::AlignLeft);
        return;
    }
    if (state.eventsPicture == 0) {
        blit(surface, picture(m_big, statusPicture(state.userStatus)), 24, 24);
        return;
    }
    blit(surface, picture(m_big, state.eventsPicture), 24, 24);
    text(surface, state.eventsText, 48, 4, Align::AlignCenter);
}

void CallsFace::release()
{
    m_big = {};
    m_call = {};
    m_prompt = {};
}

} // namespace calls
