#include "SlideshowModel.h"

#include <algorithm>

namespace slideshow {

int clampKind(int function)
{
    return std::clamp(function, 0, kKindCount - 1);
}

int targetNumber(int kind, int current, int count, int gotoIndex)
{
    if (count < 1)
        return 0;
    switch (kind) {
    case KindPrevious:
        return current >= 2 && current - 1 <= count ? current - 1 : 0;
    case KindNext:
        return current >= 1 && current < count ? current + 1 : 0;
    case KindNextNearest:
        if (current >= 1 && current + 1 < count)
            return current + 2;
        return current == count ? 1 : 0;
    case KindGoto:
        return gotoIndex >= 1 && gotoIndex <= count ? gotoIndex : 0;
    default:
        return 0;
    }
}

ThumbnailSize thumbnailSize(long slideWidth, long slideHeight)
{
    if (slideWidth <= 0 || slideHeight <= 0)
        return {};
    const int across = static_cast<int>(static_cast<double>(slideWidth) / static_cast<double>(slideHeight) * 96.0);
    if (across < 97)
        return {std::max(across, 1), 96};
    const int high = static_cast<int>(static_cast<double>(slideHeight) / static_cast<double>(slideWidth) * 96.0);
    return {96, std::max(high, 1)};
}

} // namespace slideshow
