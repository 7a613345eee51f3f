// RssSettings: the six stored values of a feed key, their property names, and the rule for
// taking over new values while the key runs. Plain values, copied between threads under the
// owners' locks.
#pragma once

#include <string>

namespace pixkey::rss {

// The feed shown when the user has not chosen one.
inline constexpr const char *kDefaultUrl = "https://www.engadget.com/rss.xml";

struct RssSettings {
    std::string url = kDefaultUrl; // "URL": a feed or a web page that links one
    int refreshPeriod = 3600;      // "RefreshPeriod": seconds between downloads
    int item = 0;                  // "Item": 0 first, 1 second, 2 third item
    int showType = 4;              // "ShowType": 0 text only, 2 half and half, 4 picture only
    int slideShow = 1;             // "SlideShow": 1 steps through all items
    std::string rssUrl;            // "RssURL": the feed found for `url`, empty until found

    bool operator==(const RssSettings &) const = default;
};

// Property names by index - 256.
inline constexpr const char *kPropertyNames[] = {"URL", "RefreshPeriod", "Item", "ShowType", "SlideShow", "RssURL"};
inline constexpr int kPropertyCount = 6;

// Reads property `name` = `value` into `settings`; integers as decimal text (anything else reads
// as 0). False for an unknown name.
bool setProperty(RssSettings &settings, const char *name, const char *value);
// The text of property `i` (0..5).
std::string propertyValue(const RssSettings &settings, int i);

} // namespace pixkey::rss
