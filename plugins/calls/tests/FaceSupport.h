// A key face as the host hands it to Paint, with the checks the Calls tests make on it.
#pragma once

#include "CallsFace.h"

#include <pixkey_plugin.h>

#include <QImage>

#include <array>
#include <cstdint>

namespace calls_test {

struct Face {
    Face() { bytes.fill(0x5a); }
    PkxSurface *surface()
    {
        m_surface = PkxSurface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
        return &m_surface;
    }
    QImage image() const
    {
        return QImage(bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE, QImage::Format_BGR888).copy();
    }
    // True when picture `number` is on the face with its top left corner at (x, y), unchanged.
    bool shows(int number, int x, int y) const
    {
        const QImage picture = calls::loadPicture(number);
        if (picture.isNull())
            return false;
        const QImage face = image();
        for (int row = 0; row < picture.height(); ++row)
            for (int column = 0; column < picture.width(); ++column)
                if (face.pixel(x + column, y + row) != picture.pixel(column, row))
                    return false;
        return true;
    }
    // True when any pixel in the rectangle is lit.
    bool litIn(int x, int y, int width, int height) const
    {
        const QImage face = image();
        for (int row = y; row < y + height; ++row)
            for (int column = x; column < x + width; ++column)
                if ((face.pixel(column, row) & 0xffffff) != 0)
                    return true;
        return false;
    }

    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

private:
    PkxSurface m_surface{};
};

} // namespace calls_test
