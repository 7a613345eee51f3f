#include "ReloadScale.h"

#include <algorithm>

namespace browser {

namespace {
constexpr int kBase[] = {33, 600, 1800, 3600, 28800, 86400};
constexpr int kStep[] = {27, 60, 90, 1200, 2700, 0};
} // namespace

int reloadSeconds(int position)
{
    const int p = std::clamp(position, 0, kReloadSliderMax);
    return kBase[p / 20] + (p % 20) * kStep[p / 20];
}

int reloadPosition(int seconds)
{
    int position = kReloadSliderMax;
    for (int p = 0; p < kReloadSliderMax; ++p) {
        if (reloadSeconds(p) >= seconds) {
            position = p;
            break;
        }
    }
    return std::clamp(position, kReloadSliderMin, kReloadSliderMax);
}

QString intervalText(int seconds)
{
    const int minutes = seconds / 60;
    if (seconds < 3600)
        return QString::asprintf("%d min", minutes);
    if (seconds > 86399)
        return QString::asprintf("%d day", minutes / 60 / 24);
    return QString::asprintf("%d:%02d", minutes / 60, minutes % 60);
}

} // namespace browser
