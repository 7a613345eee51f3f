#include "FeedState.hpp"

#include "FeedParser.hpp"

#include <pixkey/utility/CWebFile.h>

#include <algorithm>
#include <set>

namespace pixkey::rss {

FeedState::FeedState(RssSettings settings, Limits limits) : m_settings(std::move(settings)), m_limits(limits) {}

void FeedState::activate()
{
    m_face.createFont();
    m_redrawPending = true;
    m_fetchNeeded = true;
}

void FeedState::deactivate()
{
    m_items.clear();
    m_current = {};
    m_picture.reset();
    m_pictureCache.clear();
}

void FeedState::apply(const RssSettings &settings)
{
    const bool newAddress = settings.url != m_settings.url;
    m_settings = settings;
    if (newAddress) {
        m_fetchNeeded = true;
        m_settings.rssUrl.clear();
    }
    m_picture.reset();
    m_redrawPending = true;
}

std::uint32_t FeedState::periodMs() const
{
    return std::uint32_t(std::clamp(m_settings.refreshPeriod, kMinPeriod, kMaxPeriod)) * 1000u;
}

std::uint32_t FeedState::slideMs() const
{
    return std::min(periodMs() / 7, kMaxSlideMs);
}

int FeedState::cycle(std::uint32_t now, PkxSurface &face)
{
    if (now - m_lastFetch > periodMs())
        m_fetchNeeded = true;
    const bool slideDue = m_settings.slideShow != 0 && now - m_lastShown > slideMs();
    if (!m_redrawPending && !m_fetchNeeded && !slideDue)
        return 0;

    const bool outcome = m_fetchNeeded ? fetch(now) : !m_items.empty();
    if (abandoned())
        return 0;
    if (outcome) {
        selectItem();
        if (m_settings.showType != 0 && !m_current.imageUrl.empty())
            loadPicture();
        if (abandoned())
            return 0;
        m_face.drawItem(face, m_current, m_picture.get(), m_settings.showType);
    } else {
        // The message of the failed download (or nothing) on a black face, once; the kept items
        // come back with the next slide. A slide that was due still counts.
        if (slideDue)
            ++m_slideCounter;
        m_current = {};
        m_picture.reset();
        m_current.title = m_statusText;
        m_face.drawText(face, m_statusText);
    }
    m_lastShown = now;
    m_fetchNeeded = false;
    m_redrawPending = false;
    return 1;
}

bool FeedState::fetch(std::uint32_t now)
{
    m_slideCounter = 0;
    m_current = {};
    bool ok;
    if (!m_settings.rssUrl.empty()) {
        ok = load(m_settings.rssUrl);
    } else if (load(m_settings.url)) {
        m_settings.rssUrl = m_settings.url;
        ok = true;
    } else if (!m_foundFeedUrl.empty()) {
        // A page that links its feed: followed once per download.
        const std::string found = m_foundFeedUrl;
        ok = load(found);
        if (ok)
            m_settings.rssUrl = found;
    } else {
        ok = false;
    }
    m_lastFetch = now;
    return ok;
}

bool FeedState::load(const std::string &address)
{
    m_foundFeedUrl.clear();
    m_channelLink.clear();
    m_statusText.clear();

    CWebFile file;
    file.setTimeouts(m_limits.connectTimeout, m_limits.totalTimeout);
    file.setMaxSize(m_limits.maxFeedBytes);
    const bool received = file.Retrieve(address.c_str());
    if (abandoned())
        return false;
    if (!received) {
        switch (file.status) {
        case 401: m_statusText = kAuthorizationFailed; break;
        case 500: m_statusText = kInternalServerError; break;
        case CWebFile::kStatusNoConnection: m_statusText = kNoConnection; break;
        default: break;
        }
        return false;
    }
    ParsedFeed feed = parseFeed(file.data, file.size);
    if (!feed.ok) {
        if (!feed.feedLink.empty())
            m_foundFeedUrl = resolveFeedLink(feed.feedLink, address);
        m_statusText = feed.error;
        return false;
    }
    m_items = std::move(feed.items);
    m_channelLink = std::move(feed.channelLink);

    // Pictures of items that left the feed are not needed again: the cache holds only the
    // current items' pictures, so a key that runs for weeks keeps a bounded set.
    std::set<std::string> wanted;
    for (const FeedItem &item : m_items)
        wanted.insert(item.imageUrl);
    std::erase_if(m_pictureCache, [&](const auto &entry) { return !wanted.contains(entry.first); });
    return true;
}

void FeedState::selectItem()
{
    const std::uint32_t index = m_settings.slideShow != 0 ? m_slideCounter++ : std::uint32_t(std::max(0, m_settings.item));
    m_current = m_items.empty() ? FeedItem{} : m_items[index % m_items.size()];
    m_picture.reset();
}

void FeedState::loadPicture()
{
    const auto cached = m_pictureCache.find(m_current.imageUrl);
    if (cached != m_pictureCache.end()) {
        m_picture = cached->second;
        return;
    }
    auto picture = std::make_shared<CWebImage>();
    picture->webFile().setTimeouts(m_limits.connectTimeout, m_limits.totalTimeout);
    if (picture->Load(m_current.imageUrl.c_str()) && picture->Fit(PKX_FACE_SIZE, PKX_FACE_SIZE)) {
        m_pictureCache.emplace(m_current.imageUrl, picture);
        m_picture = std::move(picture);
    } else {
        m_picture.reset(); // tried again when this item comes back
    }
}

} // namespace pixkey::rss
