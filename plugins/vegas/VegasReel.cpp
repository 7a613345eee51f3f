#include "VegasReel.h"

#include "ReelRandom.h"

#include <QImage>
#include <QString>

#include <cstring>
#include <utility>

namespace vegas {

namespace {

const char kIdentifier[] = "bsp.vegas.mfc5";
const char kName[] = "Vegas";
const char kDescription[] = "Personal Vegas";
const char kRightsNotice[] = "Copyright (C) 2026 the Pixkey mini developers";
const char kEmail[] = "pixkey-dev@example.org";
const char kHomePage[] = "https://pixkey.example.org/plugins/vegas";

intptr_t text(const char *value)
{
    return reinterpret_cast<intptr_t>(value);
}

// A new image of the icon at `resource`, which becomes the caller's; null when it cannot be read.
PkxImage *loadIcon(const char *resource)
{
    const QImage icon = QImage(QString::fromUtf8(resource)).convertToFormat(QImage::Format_ARGB32);
    if (icon.isNull())
        return nullptr;
    PkxImage *image = pkx_image_alloc(icon.width(), icon.height());
    if (!image)
        return nullptr;
    for (int y = 0; y < icon.height(); ++y)
        std::memcpy(image->pixels + std::size_t(y) * std::size_t(image->stride), icon.constScanLine(y),
                    std::size_t(image->stride));
    return image;
}

} // namespace

VegasReel::VegasReel(const PkxModule *, int)
    : VegasReel(systemFileTime)
{
}

VegasReel::VegasReel(FileTimeClock clock)
    : m_clock(std::move(clock))
{
}

int VegasReel::Paint(PkxSurface &surface)
{
    // Every paint uses up one number, whatever the state, so the reels' sequences drift apart.
    const int symbol = ReelRandom::forThisThread().next() % kResultCells;
    const FileTime now = m_clock();

    if (m_state == kAtRest && spinRequested.load(std::memory_order_relaxed) == 1)
        OnKeyDown();
    if (m_state == kAtRest)
        return 0;

    if (m_state >= kWaiting) {
        // Wrapping subtraction: a clock that jumps far cannot overflow the difference. A clock
        // set back makes it negative, and the reel waits until the time has passed again.
        const auto elapsed = static_cast<FileTime>(static_cast<std::uint64_t>(now)
                                                   - static_cast<std::uint64_t>(m_lastStep));
        if (elapsed < kStopDelay)
            return 0;
    }

    if (m_state < kAtRest) {
        // Warming up: the picture is drawn, but nothing is announced.
        drawSpinCell(surface);
        ++m_state;
        return 0;
    }
    if (m_state <= kLastSpin) {
        drawSpinCell(surface);
        ++m_state;
        m_lastStep = now;
        return 1;
    }

    m_resultStrip.drawCell(surface, symbol);
    m_state = kAtRest;
    m_lastStep = now;
    spinRequested.store(0, std::memory_order_relaxed);
    return 1;
}

void VegasReel::drawSpinCell(PkxSurface &surface)
{
    m_spinStrip.drawCell(surface, ReelRandom::forThisThread().next() % kSpinCells);
}

void VegasReel::OnKeyDown()
{
    m_state = 0;
    m_lastStep = 0;
    spinRequested.store(1, std::memory_order_relaxed);
}

intptr_t VegasReel::GetInfo(int code)
{
    switch (code) {
    case PKX_INFO_IDENTIFIER:
        return text(kIdentifier);
    case PKX_INFO_NAME:
        return text(kName);
    case PKX_INFO_DESCRIPTION:
        return text(kDescription);
    case PKX_INFO_AUTHOR:
        return text(kRightsNotice);
    case PKX_INFO_EMAIL:
        return text(kEmail);
    case PKX_INFO_WEB:
        return text(kHomePage);
    case PKX_INFO_FUNCTION_COUNT:
        return 1;
    // Vegas has always answered its two icons on these two codes; hosts take them as the large
    // icon and the preview.
    case PKX_INFO_LARGE_ICON:
        return reinterpret_cast<intptr_t>(loadIcon(kSmallIconResource));
    case PKX_INFO_PREVIEW:
        return reinterpret_cast<intptr_t>(loadIcon(kBigIconResource));
    default:
        return 0;
    }
}

int VegasReel::OnEvent(int code)
{
    if (code == PKX_EVENT_ACTIVATE) {
        m_resultStrip.load(kResultStripResource, kResultCells);
        m_spinStrip.load(kSpinStripResource, kSpinCells);
    } else if (code == PKX_EVENT_DEACTIVATE) {
        m_resultStrip.clear();
        m_spinStrip.clear();
    }
    return 1;
}

} // namespace vegas
