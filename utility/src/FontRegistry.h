// FontRegistry: the library's bundled pixel fonts, registered with Qt's font database on first use.
#pragma once

#include <QFont>

#include <optional>

namespace pixkey {

struct PixelFont {
    QFont font;
    int lineHeight = 0; // pixels from the top of a line to the bottom of its descenders
    int ascent = 0;     // pixels from the top of a line to the baseline
};

// The font named `resourceName` ("VELMORA_12PX", "VELMORA_16PX", "VELMORA_21PX", "TIMELINE").
// Nothing for an unknown name or when no QGuiApplication exists. `fallback` lets characters the
// bundled font lacks come from system fonts. [any-thread]
std::optional<PixelFont> pixelFont(const char *resourceName, bool fallback);

} // namespace pixkey
