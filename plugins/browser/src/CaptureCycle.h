// CaptureCycle: the page state of one Browser key (or of the settings dialog's preview): the
// settings it runs with, whether it is active, whether a redraw is due, whether the page was
// captured since the last navigation, and when that navigation began. `paint` decides what the
// key shows: the progress bar while loading, the error screen once per failed navigation, or the
// chosen square of the page, captured when a redraw is due or Animation or Autoscroll is set.
//
// A web page paints some time after it reports that it has loaded (and again as its pictures and
// fonts arrive), so for a while after the first capture of each navigation the page is captured
// at every paint as well; such a capture is shown only when it changed the face.
//
// Not thread-safe: one thread at a time (the key's paint thread; the main thread in the dialog).
// The page it is given must outlive it.
#pragma once

#include "BrowserSettings.h"
#include "PageAccess.h"

#include <QImage>

#include <cstdint>
#include <functional>
#include <string>

namespace browser {

class CaptureCycle {
public:
    // Milliseconds of a free-running 32-bit tick count; differences are taken modulo 2^32.
    using Clock = std::function<std::uint32_t()>;
    // Hands an address to the desktop's browser.
    using Opener = std::function<bool(const std::string &)>;

    // What the last drawn face showed.
    enum class Face { None, Progress, Error, Page };

    static std::uint32_t systemTicks();

    // How long after the first capture of a navigation the page is watched for late painting.
    static constexpr std::uint32_t kSettleMs = 10000;

    CaptureCycle(PageAccess &page, Clock clock = systemTicks, Opener opener = {});

    // Becomes active, marks a redraw and applies `settings` with navigation.
    void activate(const BrowserSettings &settings);
    // Loads the empty page and becomes inactive.
    void deactivate();
    // While active: navigates to the new "URL" when `navigate` is set, and resizes the page when
    // its size changed. Always: takes the settings and marks a redraw.
    void apply(const BrowserSettings &settings, bool navigate);
    // Takes changed settings without navigating (they show from the next capture on).
    void update(const BrowserSettings &settings);

    // Draws the face into `face` (96x96) when one is due; 1 when it drew, else 0.
    int paint(QImage &face);
    // A press: opens the page shown (Action 1) or "Target" (Action 2), then reloads "URL" unless
    // the page is still loading.
    void keyDown();

    bool active() const { return m_active; }
    const BrowserSettings &settings() const { return m_settings; }
    // The last full capture of the page (null before the first).
    const QImage &lastPage() const { return m_lastPage; }
    Face lastFace() const { return m_lastFace; }
    // Marks the face for redrawing at the next paint.
    void requestRedraw() { m_redrawNeeded = true; }

private:
    void navigate();
    // Captures the page into m_pageFace; false when no capture could be had.
    bool capture();
    std::uint32_t now() const { return m_clock(); }

    PageAccess &m_page;
    Clock m_clock;
    Opener m_opener;
    BrowserSettings m_settings;
    bool m_active = false;
    bool m_redrawNeeded = false;
    bool m_captured = false;
    std::uint32_t m_lastNavigate = 0;
    int m_pageWidth = 0;  // the size last asked of the page, 0 before the first
    int m_pageHeight = 0;
    bool m_settling = false;        // watching the page for late painting since m_settleStart
    std::uint32_t m_settleStart = 0;
    QImage m_lastPage;
    QImage m_pageFace{96, 96, QImage::Format_BGR888}; // the face of the last capture
    Face m_lastFace = Face::None;
};

} // namespace browser
