#include "ReelStrip.h"

#include <QImage>
#include <QString>

#include <algorithm>
#include <cstring>

namespace vegas {

bool ReelStrip::load(const char *resource, int cells)
{
    clear();
    if (cells < 1)
        return false;
    const QImage source(QString::fromUtf8(resource));
    if (source.width() != PKX_FACE_SIZE || source.height() != PKX_FACE_SIZE * cells)
        return false;
    const QImage image = source.convertToFormat(QImage::Format_BGR888);
    if (image.isNull())
        return false;

    m_pixels.resize(std::size_t(PKX_FACE_STRIDE) * std::size_t(image.height()));
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(m_pixels.data() + std::size_t(y) * PKX_FACE_STRIDE, image.constScanLine(y),
                    PKX_FACE_STRIDE);
    m_cells = cells;
    return true;
}

void ReelStrip::clear()
{
    m_pixels = {};
    m_cells = 0;
}

void ReelStrip::drawCell(const PkxSurface &surface, int cell) const
{
    if (cell < 0 || cell >= m_cells || !surface.bits || surface.width < 1 || surface.height < 1
        || std::int64_t(surface.stride) < std::int64_t(surface.width) * 3)
        return;
    const int rows = std::min(surface.height, int(PKX_FACE_SIZE));
    const std::size_t rowBytes = std::size_t(std::min(surface.width, int(PKX_FACE_SIZE))) * 3;
    const std::uint8_t *source = m_pixels.data() + std::size_t(cell) * PKX_FACE_SIZE * PKX_FACE_STRIDE;
    for (int y = 0; y < rows; ++y)
        std::memcpy(surface.bits + std::size_t(y) * std::size_t(surface.stride),
                    source + std::size_t(y) * PKX_FACE_STRIDE, rowBytes);
}

} // namespace vegas
