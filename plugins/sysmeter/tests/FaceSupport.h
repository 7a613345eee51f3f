// Helpers of the System Monitor's drawing tests: the Qt application the plug-in expects from its
// host, and a 96x96 face to paint into.
#pragma once

#include <pixkey_plugin.h>

#include <QGuiApplication>

#include <array>
#include <cstdint>

namespace sysmeter_test {

// The process's QGuiApplication on the offscreen platform, made once and kept to the end.
inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "sysmeter_test";
    static char *argv[] = {name, nullptr};
    new QGuiApplication(argc, argv);
}

// A key face as the host hands it to Paint: B, G, R bytes, rows top-down.
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
    bool operator==(const Face &other) const { return bytes == other.bytes; }

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

private:
    PkxSurface m_surface{};
};

} // namespace sysmeter_test
