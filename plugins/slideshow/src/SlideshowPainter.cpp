#include "SlideshowPainter.h"

#include "SlideshowResources.h"

#include <pixkey_plugin.h>

#include <QPainter>

#include <string>

namespace slideshow {

namespace {

const QColor kBarColour(255, 119, 38);

QImage wrap(PkxSurface &surface)
{
    return QImage(surface.bits, surface.width, surface.height, surface.stride, QImage::Format_BGR888);
}

} // namespace

void SlideshowPainter::load(int kind)
{
    if (m_loaded)
        return;
    const KindPictures pictures = picturesOf(kind);
    m_face = facePicture(pictures.face);
    if (pictures.arrow)
        m_arrow = arrowPicture(pictures.arrow);
    m_labelText.LoadFont("VELMORA_16PX");
    m_labelText.color = pixkey::rgbQuad(255, 255, 255);
    m_counterText.LoadFont("VELMORA_12PX");
    m_counterText.color = pixkey::rgbQuad(191, 191, 191);
    m_loaded = true;
}

void SlideshowPainter::fill(PkxSurface &surface, QColor colour) const
{
    QImage image = wrap(surface);
    image.fill(colour);
}

void SlideshowPainter::drawFace(PkxSurface &surface) const
{
    QImage image = wrap(surface);
    if (m_face.isNull()) {
        image.fill(Qt::black);
        return;
    }
    QPainter painter(&image);
    painter.drawImage(QRect(0, 0, PKX_FACE_SIZE, PKX_FACE_SIZE), m_face);
}

void SlideshowPainter::drawThumbnail(PkxSurface &surface, const QImage &picture, ThumbnailSize size) const
{
    QImage image = wrap(surface);
    image.fill(Qt::black);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // A slide taller than wide keeps its proportions in the middle of the key.
    const int x = (PKX_FACE_SIZE - size.width) / 2;
    painter.drawImage(QRect(x, PKX_FACE_SIZE - size.height, size.width, size.height), picture);
}

void SlideshowPainter::drawBar(PkxSurface &surface, int x) const
{
    QImage image = wrap(surface);
    QPainter painter(&image);
    painter.fillRect(QRect(x, 0, 2, PKX_FACE_SIZE), kBarColour);
}

void SlideshowPainter::drawArrow(PkxSurface &surface, int x) const
{
    if (m_arrow.isNull())
        return;
    QImage image = wrap(surface);
    QPainter painter(&image);
    painter.drawImage(QPoint(x, 3), m_arrow);
}

void SlideshowPainter::print(PkxSurface &surface, const char *text, int x, int alignment)
{
    m_labelText.alignment = alignment;
    m_labelText.PrintText(&surface, text, x, -1);
}

void SlideshowPainter::printCounter(PkxSurface &surface, const ShowState &state, int x, int alignment)
{
    const std::string counter = std::to_string(state.targetNumber) + "/" + std::to_string(state.count);
    m_counterText.alignment = alignment;
    m_counterText.PrintText(&surface, counter.c_str(), x, 1);
}

void SlideshowPainter::drawLabels(PkxSurface &surface, int kind, const ShowState &state, const std::string &caption)
{
    using pixkey::CTextRenderer;
    const int stage = state.stage;
    const bool showRuns = stage == StageCurrentSlide || stage == StageNoCurrentSlide;
    switch (kind) {
    case KindPrevious:
        if (showRuns) {
            print(surface, "prev", 12, CTextRenderer::AlignLeft);
            drawBar(surface, 94);
            drawArrow(surface, 0);
            printCounter(surface, state, 90, CTextRenderer::AlignRight);
        }
        break;
    case KindNext:
        if (stage == StageCurrentSlide) {
            print(surface, "next", 84, CTextRenderer::AlignRight);
            drawBar(surface, 0);
            drawArrow(surface, 84);
            printCounter(surface, state, 5, CTextRenderer::AlignLeft);
        } else if (stage == StageNoCurrentSlide) {
            fill(surface, Qt::black);
            print(surface, "exit", 48, CTextRenderer::AlignCenter);
        } else if (stage == StageNoShow) {
            print(surface, "start", 48, CTextRenderer::AlignCenter);
        }
        break;
    case KindNextNearest:
        if ((stage == StageCurrentSlide && state.current == state.count) || stage == StageNoCurrentSlide
            || (stage == StageNoShow && state.count == 0)) {
            print(surface, "restart", 48, CTextRenderer::AlignCenter);
        } else if (stage == StageCurrentSlide) {
            print(surface, "next", 78, CTextRenderer::AlignRight);
            drawArrow(surface, 84);
            printCounter(surface, state, 5, CTextRenderer::AlignLeft);
        }
        break;
    case KindGoto:
        if (showRuns)
            print(surface, caption.c_str(), 48, CTextRenderer::AlignCenter);
        break;
    default:
        break;
    }
}

void SlideshowPainter::drawTheEnd(PkxSurface &surface)
{
    fill(surface, Qt::black);
    m_labelText.alignment = pixkey::CTextRenderer::AlignCenter;
    m_labelText.PrintText(&surface, "The End.", 48, 40);
}

} // namespace slideshow
