// ReelStrip: a column of 96x96 pictures (cells, cell 0 on top) loaded from the plug-in's resources,
// kept as the key's own pixel format so a cell goes onto a face as a plain copy.
//
// Owned by one reel and used only on that reel's paint thread.
#pragma once

#include "pixkey_plugin.h"

#include <cstdint>
#include <vector>

namespace vegas {

class ReelStrip {
public:
    // Loads the picture at `resource` (a Qt resource path), which must be 96 pixels wide and
    // 96 x `cells` high. On any failure the strip stays empty and false is returned.
    bool load(const char *resource, int cells);

    // Frees the pixels; the strip is empty afterwards.
    void clear();

    bool isLoaded() const { return m_cells > 0; }
    int cells() const { return m_cells; }

    // Copies cell `cell` onto `surface` at its top-left corner, clipped to the surface. Draws
    // nothing when the strip is empty, the cell does not exist, or the surface is unusable.
    void drawCell(const PkxSurface &surface, int cell) const;

private:
    std::vector<std::uint8_t> m_pixels; // B, G, R; rows top-down, PKX_FACE_STRIDE bytes a row
    int m_cells = 0;
};

} // namespace vegas
