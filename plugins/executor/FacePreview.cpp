#include "FacePreview.h"

#include <pixkey_plugin.h>

#include <QPainter>

namespace executor {

FacePreview::FacePreview(QWidget *parent)
    : QWidget(parent), m_face(PKX_FACE_SIZE, PKX_FACE_SIZE, QImage::Format_BGR888)
{
    m_face.fill(Qt::black);
    m_renderer.load();
    // The preview downloads on the main thread: give up on a slow server well before a key would.
    m_renderer.setWebTimeouts(std::chrono::seconds(3), std::chrono::seconds(8));
    setMinimumSize(PKX_FACE_SIZE, PKX_FACE_SIZE);
}

void FacePreview::setFace(const std::string &imagePath, const std::string &text)
{
    m_renderer.update(imagePath, text);
    m_dirty = true;
    update();
}

const QImage &FacePreview::face()
{
    if (m_dirty) {
        PkxSurface surface{m_face.bits(), m_face.width(), m_face.height(), static_cast<int>(m_face.bytesPerLine())};
        m_renderer.draw(surface);
        m_dirty = false;
    }
    return m_face;
}

QSize FacePreview::sizeHint() const
{
    return QSize(PKX_FACE_SIZE + 30, PKX_FACE_SIZE + 30);
}

void FacePreview::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.drawImage(QPoint(width() / 2 - PKX_FACE_SIZE / 2, height() / 2 - PKX_FACE_SIZE / 2), face());
}

} // namespace executor
