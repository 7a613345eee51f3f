// FeedState: the refresh cycle of one feed key: when to download, which item to show, the
// pictures already loaded, and the drawing of the face.
//
// cycle() does its downloads itself and may therefore block for the bounded time of a download
// (CWebFile's limits). It is never called on a paint thread: a FeedRunner calls it on its own
// worker, and tests call it directly with an injected clock.
//
// [any-thread] but one thread at a time; the object is not shared.
#pragma once

#include "FeedFace.hpp"
#include "FeedItem.hpp"
#include "RssSettings.hpp"

#include <pixkey/utility/CWebImage.h>

#include <pixkey_plugin.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace pixkey::rss {

// Messages shown for failed downloads.
inline constexpr const char *kAuthorizationFailed = "Autorization failed";
inline constexpr const char *kInternalServerError = "Internal server error";
inline constexpr const char *kNoConnection = "No connection";

// Bounds of every download a feed key makes.
struct FeedLimits {
    std::chrono::milliseconds connectTimeout{10'000};
    std::chrono::milliseconds totalTimeout{30'000};
    std::size_t maxFeedBytes = 8u * 1024 * 1024;
};

class FeedState {
public:
    // Shortest and longest period between downloads, in seconds: a period of zero or below a
    // minute would download on every cycle, and periods past 30 days leave the 32-bit tick range.
    static constexpr int kMinPeriod = 60;
    static constexpr int kMaxPeriod = 30 * 24 * 3600;
    // Longest time between two slides.
    static constexpr std::uint32_t kMaxSlideMs = 30000;

    using Limits = FeedLimits;

    explicit FeedState(RssSettings settings = {}, Limits limits = {});

    // The key became active: make the font, draw and download on the next cycle.
    void activate();
    // The key became inactive: drop the items and every picture.
    void deactivate();
    // Takes new settings: a different "URL" downloads again and forgets "RssURL"; the picture is
    // released and the face redrawn.
    void apply(const RssSettings &settings);

    // One refresh at tick `now` (milliseconds, wrapping at 2^32). Draws into `face` and returns 1
    // when a download, a slide step or a redraw was due; returns 0 and leaves `face` alone when
    // nothing was.
    int cycle(std::uint32_t now, PkxSurface &face);

    // Asked after each download: when it answers true, cycle() returns 0 at once, without
    // parsing what arrived or drawing anything (the key that wanted it is gone).
    void setAbandoned(std::function<bool()> abandoned) { m_abandoned = std::move(abandoned); }

    // Milliseconds between downloads and between slides for the current settings.
    std::uint32_t periodMs() const;
    std::uint32_t slideMs() const;

    const RssSettings &settings() const { return m_settings; }
    const std::vector<FeedItem> &items() const { return m_items; }
    const FeedItem &current() const { return m_current; }
    const std::string &statusText() const { return m_statusText; }
    const std::string &channelLink() const { return m_channelLink; }
    bool hasPicture() const { return m_picture && m_picture->bits; }
    std::size_t cachedPictures() const { return m_pictureCache.size(); }
    std::uint32_t slideCounter() const { return m_slideCounter; }

private:
    bool fetch(std::uint32_t now);
    bool load(const std::string &address);
    void selectItem();
    void loadPicture();

    bool abandoned() const { return m_abandoned && m_abandoned(); }

    RssSettings m_settings;
    Limits m_limits;
    std::function<bool()> m_abandoned;
    FeedFace m_face;

    std::vector<FeedItem> m_items;
    std::string m_channelLink;
    std::string m_statusText;
    std::string m_foundFeedUrl;

    FeedItem m_current;
    std::shared_ptr<CWebImage> m_picture;
    std::map<std::string, std::shared_ptr<CWebImage>> m_pictureCache; // by exact address

    std::uint32_t m_slideCounter = 0;
    std::uint32_t m_lastFetch = 0;
    std::uint32_t m_lastShown = 0;
    bool m_fetchNeeded = false;
    bool m_redrawPending = false;
};

} // namespace pixkey::rss
