// Helpers shared by the Hotkey plug-in's tests: the Qt application the plug-in expects from its
// host, a 96x96 face to paint into, and pictures written to a temporary folder.
#pragma once

#include <pixkey_plugin.h>

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <string>

namespace executor_test {

// Creates the process's QGuiApplication (or QApplication with `widgets`) on the offscreen
// platform, once; the application lives until the process ends.
void ensureApplication(bool widgets);

// A key face as the host hands it to Paint.
struct Face {
    Face() { clear(0x5a); }
    void clear(std::uint8_t value) { bytes.fill(value); }
    PkxSurface *surface()
    {
        m_surface = PkxSurface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
        return &m_surface;
    }
    // Red, green and blue of one pixel, as 0xRRGGBB.
    std::uint32_t rgb(int x, int y) const
    {
        const std::uint8_t *p = bytes.data() + y * PKX_FACE_STRIDE + x * 3;
        return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    }
    bool isBlack(int x, int y) const { return rgb(x, y) == 0; }
    QImage toImage() const;

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

private:
    PkxSurface m_surface{};
};

// The smallest rectangle holding every non-black pixel, inclusive; empty() when there is none.
struct Box {
    int left = PKX_FACE_SIZE, top = PKX_FACE_SIZE, right = -1, bottom = -1;
    bool empty() const { return right < 0; }
};
Box litBox(const Face &face, int fromRow = 0, int toRow = PKX_FACE_SIZE - 1);

// Writes a `width` x `height` PNG of one colour and returns its path.
std::string writePng(const QString &dir, const char *name, int width, int height, Qt::GlobalColor colour);
// The PNG bytes of a picture of one colour.
std::string pngBytes(int width, int height, Qt::GlobalColor colour);

} // namespace executor_test
