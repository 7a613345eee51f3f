// FacePreview: the "Preview" area of the "Hotkey" dialog. Draws its own FaceRenderer into a 96x96
// picture when marked for redrawing and shows it unscaled in the middle of the area, as the key
// will show it.
//
// [main-thread] like every widget.
#pragma once

#include "FaceRenderer.h"

#include <QImage>
#include <QWidget>

#include <string>

namespace executor {

class FacePreview : public QWidget {
    Q_OBJECT
public:
    explicit FacePreview(QWidget *parent = nullptr);

    // Lays the face out for `imagePath` and `text` (loading the picture when the path changed) and
    // marks it for redrawing.
    void setFace(const std::string &imagePath, const std::string &text);

    // The face as drawn last (redrawn first when marked), 96x96.
    const QImage &face();

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    FaceRenderer m_renderer;
    QImage m_face;       // Format_BGR888, the byte order of a key face
    bool m_dirty = true; // m_face must be drawn again
};

} // namespace executor
