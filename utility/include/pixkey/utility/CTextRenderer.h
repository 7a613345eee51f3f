// CTextRenderer: draws single lines of text onto a key face in one of the library's bundled pixel
// fonts, crisp at 96 x 96 (hinted to the pixel grid, no half-pixel stems).
//
// Fonts (LoadFont names):
//   "VELMORA_12PX"  proportional, 12 pixels from the top of a line to the bottom of its descenders
//   "VELMORA_16PX"  proportional, 16 pixels a line
//   "VELMORA_21PX"  proportional bold, 21 pixels a line
//   "TIMELINE"      small monospaced digits (and the rest of the character set), 10 pixels a line
// The fonts are compiled into the library, so the system's font set does not matter; a plain
// CTextRenderer draws only what the bundled font holds (missing characters show the font's
// replacement box), CLocalizableTextRenderer falls back to system fonts for other scripts.
//
// Text is UTF-8; a string that is not valid UTF-8 is read as Latin-1 (so a lone byte 0xB0 is
// still a degree sign).
//
// Needs a QGuiApplication, which the host program provides (the plug-ins run inside it). Without
// one the renderer fails softly: LoadFont returns false, PrintText measures 0 and draws nothing.
//
// [any-thread] One object is used by one thread at a time (its paint thread); different objects
// draw on different threads at once. `alignment` and `color` are plain values set by the user of
// the object between calls.
#pragma once

#include "RgbQuad.h"
#include "UtilityExport.h"

struct PkxSurface;

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CTextRenderer {
public:
    enum Alignment { AlignLeft = 0, AlignCenter = 1, AlignRight = 2 };

    CTextRenderer();
    virtual ~CTextRenderer();
    CTextRenderer(const CTextRenderer &) = delete;
    CTextRenderer &operator=(const CTextRenderer &) = delete;

    // Selects one of the bundled fonts by name (list above). False for an unknown name, a null
    // name, or when no QGuiApplication exists; the renderer then keeps its previous font (none at
    // first: nothing is drawn and widths are 0).
    virtual bool LoadFont(const char *resourceName);

    // Draws `text` with its top edge at y; x is the left edge, the centre or the right edge as
    // `alignment` says. `override`, when not null, is used instead of `color`. Returns the width of
    // the text in pixels. A null surface only measures. Drawing is clipped to the surface.
    int PrintText(PkxSurface *surface, const char *text, int x, int y, const RGBQUAD *override = nullptr);

    // As PrintText, with a dark drop shadow one pixel right and below the text. Returns the width
    // of the text (without the shadow).
    int PrintShadowedText(PkxSurface *surface, const char *text, int x, int y);

    // Number of leading bytes of `text` that fit into `pixels` when drawn: whole UTF-8 characters
    // only, so the cut is always valid text (for ASCII, the number of letters).
    unsigned LettersInLength(const char *text, int pixels);

    // Height of one line of the current font in pixels (0 without a font).
    int GetHeight() const;

    int alignment = AlignLeft; // 0: x is the left edge, 1: the centre, 2: the right edge
    RGBQUAD color{255, 255, 255, 0};

protected:
    // Loads font `resourceName`; `fallback` allows glyphs from system fonts for characters the
    // bundled font lacks.
    bool loadFont(const char *resourceName, bool fallback);

private:
    struct Font;
    Font *m_font = nullptr;
};

} // namespace pixkey
