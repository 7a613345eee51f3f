// FaceRenderer: lays out and draws the Hotkey key face (a picture, a text, both, or the default
// picture when there is neither). One lives in each plug-in instance and one in the properties
// dialog's preview.
//
// Not thread-safe: the owner serialises every call (HotkeyPlugin holds its lock around them; the
// dialog uses its own renderer on the main thread only). loadPicture is the exception: it touches no
// renderer state, so the owner may run the slow part of a picture change (a download) unlocked.
#pragma once

#include <pixkey/utility/CFileImage.h>
#include <pixkey/utility/CLocalizableTextRenderer.h>

#include <QImage>

#include <chrono>
#include <memory>
#include <string>

struct PkxSurface;

namespace executor {

class FaceRenderer {
public:
    FaceRenderer();
    ~FaceRenderer();
    FaceRenderer(const FaceRenderer &) = delete;
    FaceRenderer &operator=(const FaceRenderer &) = delete;

    // Loads the fonts and the default picture, once; later calls do nothing.
    void load();
    bool isLoaded() const { return m_loaded; }

    // The picture for `path`: tried as a web image first, then as a local file; null when the path
    // is empty or neither loads. A larger picture is reduced, keeping its proportions, until its
    // shorter side is 96 pixels. [any-thread], touches no renderer.
    static std::unique_ptr<pixkey::CFileImage> loadPicture(const std::string &path,
                                                           std::chrono::milliseconds connectTimeout = {},
                                                           std::chrono::milliseconds totalTimeout = {});

    // Time limits of the web download of update() (defaults: the web image's own limits). The
    // dialog's preview, which downloads on the main thread, gives up sooner than a paint thread.
    void setWebTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds total);

    // Whether the picture currently held was loaded for `path` (compared case-sensitively).
    bool holdsPictureFor(const std::string &path) const { return m_path == path; }
    // Takes `picture` (may be null) as the picture of `path`.
    void setPicture(const std::string &path, std::unique_ptr<pixkey::CFileImage> picture);

    // Fits `text` onto the face: the 16-pixel font when it fits on one line, else the 12-pixel
    // font, else two lines; keeps a copy of the text to draw.
    void layoutText(const std::string &text);

    // Both steps at once, the picture loaded here and now when `path` changed.
    void update(const std::string &path, const std::string &text);

    // Draws the face laid out last onto the 96x96 surface.
    void draw(PkxSurface &surface);

    // Drops the picture, its path and the text, so the next update loads the picture again.
    void reset();

    bool hasPicture() const { return m_picture != nullptr; }
    bool small() const { return m_small; }
    bool twoLines() const { return m_twoLines; }
    const std::string &text() const { return m_fullText; }

    // Where a two-line text is broken: the byte offset of the '+' that separates the lines, or
    // std::string::npos when the text is drawn whole. The last '+' of the text, unless it is the
    // text's final character (a key named "+", as in "Ctrl+Num +"): then the one before it.
    static std::size_t lineBreak(const std::string &text);

private:
    bool m_loaded = false;
    pixkey::CLocalizableTextRenderer m_bigText;   // "VELMORA_16PX"
    pixkey::CLocalizableTextRenderer m_smallText; // "VELMORA_12PX"
    QImage m_defaultImage;                        // "DEF_IMAGE", 96x96 B,G,R

    std::chrono::milliseconds m_connectTimeout{0}; // 0: the web image's default
    std::chrono::milliseconds m_totalTimeout{0};

    std::string m_path;
    std::unique_ptr<pixkey::CFileImage> m_picture;

    std::string m_fullText;
    bool m_small = false;
    bool m_twoLines = false;
};

} // namespace executor
