// Helpers shared by the Slideshow tests: the Qt application the plug-in expects from its host, a
// key face to paint into and read back, and waiting on a condition with a deadline.
#pragma once

#include <pixkey_plugin.h>

#include <QImage>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

namespace slideshow_test {

// The process's QApplication on the offscreen platform, made once.
void ensureApplication();

// A key face as the host hands it to Paint.
struct Face {
    Face() { bytes.fill(0x5a); }
    PkxSurface *surface()
    {
        m_surface = PkxSurface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
        return &m_surface;
    }
    // 0xRRGGBB of one pixel.
    std::uint32_t rgb(int x, int y) const
    {
        const std::uint8_t *p = bytes.data() + y * PKX_FACE_STRIDE + x * 3;
        return (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) | p[0];
    }
    // Pixels in rows [top, bottom] brighter than grey in all three colours (text is white).
    int whitePixels(int top, int bottom, int left = 0, int right = PKX_FACE_SIZE - 1) const;
    QImage toImage() const
    {
        return QImage(bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE, QImage::Format_BGR888).copy();
    }

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

private:
    PkxSurface m_surface{};
};

// True when the colours are within `tolerance` in each channel.
bool near(std::uint32_t a, std::uint32_t b, int tolerance = 24);

// Kills (SIGKILL) this process's children whose command line contains `text`; how many.
int killChildren(const std::string &text);

// Calls `step` every 20 ms until it returns true or `deadline` passes; returns its last answer.
bool eventually(const std::function<bool()> &step, std::chrono::milliseconds deadline = std::chrono::seconds(20));

} // namespace slideshow_test
