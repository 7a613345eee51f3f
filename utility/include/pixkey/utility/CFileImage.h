// CFileImage: a picture decoded from a file (PNG, JPEG, GIF, BMP; the format is taken from the
// content, not the name), kept in memory to be scaled and drawn onto a key face.
//
// [any-thread] One object is used by one thread at a time; different objects may load and draw on
// different threads at once. Needs no QGuiApplication. Pictures above kMaxPixels pixels or
// kMaxSide pixels on a side are refused (Load fails) instead of being decoded.
#pragma once

#include "UtilityExport.h"

#include <cstddef>
#include <cstdint>

struct PkxSurface;

namespace pixkey {

class PIXKEY_UTILITY_EXPORT CFileImage {
public:
    static constexpr int kMaxSide = 8192;
    static constexpr long long kMaxPixels = 16LL * 1024 * 1024;

    CFileImage();
    virtual ~CFileImage();
    CFileImage(const CFileImage &) = delete;
    CFileImage &operator=(const CFileImage &) = delete;

    // Drops any picture and loads `path` (through LoadInternal). False when the path is null or
    // empty, cannot be read, is not a picture of an accepted format, or is too large; the object is
    // then empty.
    virtual bool Load(const char *path);
    // Drops the picture; `bits` becomes null.
    virtual void Unload();

    int GetWidth() const;  // 0 while empty
    int GetHeight() const; // 0 while empty
    int GetStride() const; // bytes a row of `bits`, 0 while empty

    // Rescales the picture, smoothly, to the largest size that fits inside w x h keeping its
    // proportions (up or down; each side at least 1 pixel). False when empty or w, h < 1.
    bool Fit(int w, int h);

    // Draws the picture stretched into the rectangle (x, y, w, h) of `surface`, clipped to the
    // surface; transparent parts of the picture let the surface show through. False when empty,
    // when surface is null or when w or h is below 1.
    bool StretchDIBits(PkxSurface *surface, int x, int y, int w, int h) const;

    // Pixels while a picture is loaded, null otherwise: GetHeight() rows top-down of GetStride()
    // bytes, 4 bytes a pixel in the order blue, green, red, alpha (straight alpha). Owned by the
    // object; valid until the next Load, Unload, Fit or the destructor.
    const std::uint8_t *bits = nullptr;

protected:
    // Decodes `path` into the object. CWebImage replaces it to download first.
    virtual bool LoadInternal(const char *path);
    // Decodes an encoded picture held in memory. False and empty on any failure.
    bool LoadFromMemory(const void *encoded, std::size_t size);

private:
    struct Picture;
    void setPicture(Picture *picture);

    Picture *m_picture = nullptr;
};

} // namespace pixkey
