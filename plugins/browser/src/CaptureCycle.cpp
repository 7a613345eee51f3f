#include "CaptureCycle.h"

#include "FaceDrawing.h"

#include <pixkey/utility/DesktopOpener.h>

#include <QPainter>

#include <algorithm>
#include <chrono>

namespace browser {

std::uint32_t CaptureCycle::systemTicks()
{
    using namespace std::chrono;
    return static_cast<std::uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

CaptureCycle::CaptureCycle(PageAccess &page, Clock clock, Opener opener)
    : m_page(page), m_clock(std::move(clock)), m_opener(std::move(opener))
{
    if (!m_opener)
        m_opener = [](const std::string &address) { return pixkey::OpenWithDesktop(address); };
}

void CaptureCycle::navigate()
{
    m_page.navigate(m_settings.url);
    m_lastNavigate = now();
    m_redrawNeeded = true;
    m_captured = false;
    m_settling = false;
}

void CaptureCycle::activate(const BrowserSettings &settings)
{
    m_active = true;
    m_redrawNeeded = true;
    apply(settings, true);
}

void CaptureCycle::deactivate()
{
    m_page.navigate(std::string());
    m_active = false;
}

void CaptureCycle::apply(const BrowserSettings &settings, bool navigateNow)
{
    m_settings = settings;
    if (m_active) {
        if (navigateNow)
            navigate();
        const int width = pageSide(settings.width);
        const int height = pageSide(settings.height);
        if (width != m_pageWidth || height != m_pageHeight) {
            m_pageWidth = width;
            m_pageHeight = height;
            m_page.resize(width, height);
        }
    }
    m_redrawNeeded = true;
}

void CaptureCycle::update(const BrowserSettings &settings)
{
    m_settings = settings;
}

bool CaptureCycle::capture()
{
    std::optional<QImage> page = m_page.capture(pageSide(m_settings.width), pageSide(m_settings.height));
    if (!page)
        return false;
    m_lastPage = std::move(*page);
    drawPageSquare(m_pageFace, m_lastPage, m_settings.targetLeft, m_settings.targetTop, m_settings.targetSize);
    return true;
}

int CaptureCycle::paint(QImage &face)
{
    const PageSnapshot status = m_page.status();
    if (!status.engineError.empty()) {
        if (!m_redrawNeeded)
            return 0;
        m_redrawNeeded = false;
        drawErrorScreen(face, QStringLiteral("No web engine"));
        m_lastFace = Face::Error;
        return 1;
    }

    // 1. Reload when the period is over.
    const std::uint64_t period = std::max<std::int64_t>(1, m_settings.reloadPeriod) * 1000;
    if (std::uint32_t(now() - m_lastNavigate) > period) {
        navigate();
        drawProgressBar(face, 0, 0);
        m_lastFace = Face::Progress;
        return 1;
    }
    // 2. A failed navigation shows its status once.
    if (status.errorStatus != 0) {
        if (!m_redrawNeeded)
            return 0;
        m_redrawNeeded = false;
        drawErrorScreen(face, QString::number(status.errorStatus));
        m_lastFace = Face::Error;
        return 1;
    }
    // 3. Loading.
    if (!m_captured && !status.documentComplete) {
        drawProgressBar(face, status.progress, status.progressMax);
        m_lastFace = Face::Progress;
        return 1;
    }
    // 4. Capture when due. A capture the main thread could not serve in time is tried again at
    // the next paint, so nothing is scrolled past unseen.
    const bool due = m_redrawNeeded || m_settings.autoscroll || m_settings.animation;
    if (m_settling && std::uint32_t(now() - m_settleStart) >= kSettleMs)
        m_settling = false;
    if (!due && !m_settling)
        return 0;
    const QImage previous = m_lastFace == Face::Page ? m_pageFace.copy() : QImage();
    if (!capture())
        return 0;
    if (!m_captured) {
        m_settling = true;
        m_settleStart = now();
    }
    m_redrawNeeded = false;
    m_captured = true;
    if (!due && m_pageFace == previous)
        return 0; // late painting that did not reach the shown square
    // Into the caller's pixels (the host's surface), not a new picture.
    QPainter painter(&face);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, m_pageFace);
    painter.end();
    m_lastFace = Face::Page;
    // 5. Scroll one step further, or back to the top when the next step would pass the end.
    if (m_settings.autoscroll) {
        const int width = pageSide(m_settings.width);
        const int height = pageSide(m_settings.height);
        const int step = width / 7;
        const PageSnapshot scroll = m_page.status();
        const std::int64_t next = std::int64_t(height) + scroll.scrollTop + step;
        m_page.setScrollTop(next < scroll.scrollHeight ? scroll.scrollTop + step : 0);
    }
    return 1;
}

void CaptureCycle::keyDown()
{
    const PageSnapshot status = m_page.status();
    if (m_settings.action == 1) {
        // The address comes from the page itself, so only web addresses go to the desktop (and the
        // user's own address, which may be a file).
        const std::string &shown = status.location;
        if (!shown.empty() && (pixkey::IsWebAddress(shown) || shown == m_settings.url))
            m_opener(shown);
    } else if (m_settings.action == 2) {
        if (!m_settings.target.empty())
            m_opener(m_settings.target);
    }
    if (!status.documentComplete)
        return;
    navigate();
}

} // namespace browser
