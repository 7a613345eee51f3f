// CallsFace: draws a CallsState onto a key face, with the library's pictures and white text in the
// 12-pixel font. Keeps the three pictures in use (status or events 48x48, call 32x32, prompt icon
// 16x16), loading one again only when its number changes.
//
// [paint-thread] One object per plug-in instance, used by its paint thread only. Text needs the
// host's QGuiApplication; without it pictures are still drawn.
#pragma once

#include "CallsState.h"

#include <pixkey/utility/CLocalizableTextRenderer.h>

#include <QImage>

struct PkxImage;
struct PkxSurface;

namespace calls {

// The picture `number` of the library's resources (24-bit, black where it is transparent); a null
// image for an unknown number. [any-thread]
QImage loadPicture(int number);
// "IDB_CALLS", the 96x96 preview, and "IDI_CALLS" at 16 or 32 pixels, as images the host takes
// over (null when the size is not one of the two). [any-thread]
PkxImage *previewImage();
PkxImage *iconImage(int size);

class CallsFace {
public:
    // Selects the font; false without a QGuiApplication (pictures are drawn all the same).
    bool loadFont();
    // Fills the face black and draws `state` on it.
    void draw(const CallsState &state, PkxSurface &surface);
    // Drops the cached pictures.
    void release();

private:
    struct Cached {
        int number = 0;
        QImage image;
    };
    const QImage &picture(Cached &slot, int number);
    void text(PkxSurface &surface, const std::string &text, int x, int y, int alignment);

    pixkey::CLocalizableTextRenderer m_text;
    Cached m_big;    // status or events picture
    Cached m_call;   // call picture
    Cached m_prompt; // prompt icon
};

} // namespace calls
