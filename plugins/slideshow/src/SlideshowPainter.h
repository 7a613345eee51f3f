// SlideshowPainter: draws a Slideshow key's faces: the kind's own face, a slide's thumbnail, the
// labels with the orange bar, the arrow and the counter, and "The End.".
//
// [paint-thread]: one painter per key, used by its paint thread only (the text renderers draw on
// one thread at a time). load() needs the host's QGuiApplication for the fonts.
#pragma once

#include "SlideshowModel.h"

#include <pixkey/utility/CLocalizableTextRenderer.h>

#include <QImage>

#include <string>

struct PkxSurface;

namespace slideshow {

class SlideshowPainter {
public:
    // Loads the face and arrow of `kind` and the two fonts, once.
    void load(int kind);
    bool loaded() const { return m_loaded; }

    // The kind's face over the whole key.
    void drawFace(PkxSurface &surface) const;
    // Black, and the slide's picture (of `size`) at the bottom, centred across.
    void drawThumbnail(PkxSurface &surface, const QImage &picture, ThumbnailSize size) const;
    // The texts, bar, arrow and counter of a key of `kind` in `state`, over what the face shows
    // ("exit" clears it to black first). `caption` is the "Goto" key's label.
    void drawLabels(PkxSurface &surface, int kind, const ShowState &state, const std::string &caption);
    // Black with "The End." in the middle.
    void drawTheEnd(PkxSurface &surface);

private:
    void fill(PkxSurface &surface, QColor colour) const;
    void drawBar(PkxSurface &surface, int x) const;
    void drawArrow(PkxSurface &surface, int x) const;
    void print(PkxSurface &surface, const char *text, int x, int alignment);
    void printCounter(PkxSurface &surface, const ShowState &state, int x, int alignment);

    bool m_loaded = false;
    QImage m_face;  // Format_BGR888, 96x96
    QImage m_arrow; // Format_ARGB32, 12x9; null for kind 0
    pixkey::CLocalizableTextRenderer m_labelText;
    pixkey::CLocalizableTextRenderer m_counterText;
};

} // namespace slideshow
