// Helpers for the Vegas tests: key faces as plain byte arrays, and the cells of the plug-in's
// pictures to recognise them by.
#pragma once

#include "pixkey_plugin.h"

#include <QImage>
#include <QString>

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace vegas::test {

// One 96x96 key face, B, G, R, top-down, as the host hands it to Paint.
struct Face {
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bytes{};

    PkxSurface surface() { return PkxSurface{bytes.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE}; }
    void fill(std::uint8_t value) { bytes.fill(value); }
    bool operator==(const Face &) const = default;
};

// The 96x96 cells of the strip picture at `resource`, top to bottom; empty when it cannot be read.
inline std::vector<Face> cellsOf(const char *resource)
{
    const QImage strip = QImage(QString::fromUtf8(resource)).convertToFormat(QImage::Format_BGR888);
    std::vector<Face> cells;
    if (strip.isNull() || strip.width() != PKX_FACE_SIZE)
        return cells;
    for (int top = 0; top + PKX_FACE_SIZE <= strip.height(); top += PKX_FACE_SIZE) {
        Face cell;
        for (int y = 0; y < PKX_FACE_SIZE; ++y)
            std::memcpy(cell.bytes.data() + y * PKX_FACE_STRIDE, strip.constScanLine(top + y),
                        PKX_FACE_STRIDE);
        cells.push_back(cell);
    }
    return cells;
}

// Index of the cell `face` shows exactly, or -1.
inline int cellIndex(const std::vector<Face> &cells, const Face &face)
{
    for (std::size_t i = 0; i < cells.size(); ++i)
        if (cells[i] == face)
            return int(i);
    return -1;
}

} // namespace vegas::test
