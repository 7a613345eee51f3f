#include "RssSettings.hpp"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>

namespace pixkey::rss {

namespace {

int parseInt(const char *text)
{
    if (!text)
        return 0;
    while (*text == ' ' || *text == '\t')
        ++text;
    if (*text == '+')
        ++text;
    long long value = 0;
    const char *end = text + std::strlen(text);
    const bool negative = *text == '-';
    if (std::from_chars(text, end, value).ec == std::errc::result_out_of_range)
        value = negative ? INT_MIN : INT_MAX;
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace

bool setProperty(RssSettings &settings, const char *name, const char *value)
{
    if (!name)
        return false;
    int index = -1;
    for (int i = 0; i < kPropertyCount; ++i)
        if (std::strncmp(name, kPropertyNames[i], 256) == 0)
            index = i;
    switch (index) {
    case 0: settings.url = value ? value : ""; return true;
    case 1: settings.refreshPeriod = parseInt(value); return true;
    case 2: settings.item = parseInt(value); return true;
    case 3: settings.showType = parseInt(value); return true;
    case 4: settings.slideShow = parseInt(value); return true;
    case 5: settings.rssUrl = value ? value : ""; return true;
    default: return false;
    }
}

std::string propertyValue(const RssSettings &settings, int i)
{
    switch (i) {
    case 0: return settings.url;
    case 1: return std::to_string(settings.refreshPeriod);
    case 2: return std::to_string(settings.item);
    case 3: return std::to_string(settings.showType);
    case 4: return std::to_string(settings.slideShow);
    case 5: return settings.rssUrl;
    default: return {};
    }
}

} // namespace pixkey::rss
