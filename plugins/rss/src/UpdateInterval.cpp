#include "UpdateInterval.hpp"

#include <algorithm>
#include <cstdio>

namespace pixkey::rss {

namespace {
constexpr int kBase[] = {60, 600, 1800, 3600, 28800, 86400};
constexpr int kStep[] = {27, 60, 90, 1260, 2880, 0};
} // namespace

int secondsForPosition(int p)
{
    p = std::clamp(p, 0, 100);
    const int band = p / 20;
    return kBase[band] + (p % 20 - 1) * kStep[band];
}

int positionForSeconds(int seconds)
{
    for (int p = 0; p < 100; ++p)
        if (secondsForPosition(p) >= seconds)
            return p;
    return 100;
}

std::string intervalText(int seconds)
{
    const int m = seconds / 60;
    char text[32];
    if (seconds < 3600)
        std::snprintf(text, sizeof text, "%d min", m);
    else if (seconds > 86399)
        std::snprintf(text, sizeof text, "%d day", m / 60 / 24);
    else
        std::snprintf(text, sizeof text, "%d:%02d", m / 60, m % 60);
    return text;
}

} // namespace pixkey::rss
