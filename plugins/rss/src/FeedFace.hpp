// FeedFace: draws a feed item onto a 96 x 96 key face: its title word-wrapped in white from the
// top left, its picture in a band at the bottom whose height depends on ShowType.
//
// [any-thread] One object per drawing thread (it keeps its text renderer). Text needs the host's
// QGuiApplication; without one only the pictures are drawn.
#pragma once

#include "FeedItem.hpp"

#include <pixkey/utility/CLocalizableTextRenderer.h>

#include <pixkey_plugin.h>

#include <string>
#include <vector>

namespace pixkey {
class CFileImage;
}

namespace pixkey::rss {

class FeedFace {
public:
    // Text beyond this many bytes can never show on a key and is not laid out.
    static constexpr std::size_t kMaxTextBytes = 1024;

    FeedFace();

    // Loads the font once (a 13-pixel bundled font); later calls do nothing.
    void createFont();

    // Black face with `item`'s title (its converted text, else its bytes read as Latin-1) and,
    // when `picture` is loaded and showType is not 0, the picture in its band.
    void drawItem(PkxSurface &face, const FeedItem &item, const CFileImage *picture, int showType);
    // Black face with `text` word-wrapped from the top left.
    void drawText(PkxSurface &face, const std::string &text);

    // Height of the picture band for a picture of width x height (both >= 1) and showType 1..4.
    static int bandHeight(int showType, int width, int height);

    // The lines `text` breaks into at `width` pixels (words kept whole where they fit), at most
    // `maxLines`. Whitespace runs count as one space.
    std::vector<std::string> wrap(const std::string &text, int width, int maxLines);

private:
    CLocalizableTextRenderer m_text;
    bool m_fontCreated = false;
    bool m_fontLoaded = false;
};

// Fills the whole face with black.
void fillBlack(PkxSurface &face);

} // namespace pixkey::rss
