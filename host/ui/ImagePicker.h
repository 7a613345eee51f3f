// ImagePicker: a row of pictures of which one is chosen, as the settings dialog uses for the
// keypad's orientation and brightness. A click on a picture or the Left and Right keys (wrapping)
// choose; every change of the chosen position is reported at once.
//
// [main-thread] like every widget.
#pragma once

#include <QPixmap>
#include <QWidget>

#include <vector>

namespace pixkey {

class ImagePicker : public QWidget {
    Q_OBJECT
public:
    ImagePicker(std::vector<QPixmap> pictures, QSize pictureSize, QWidget *parent = nullptr);

    int position() const { return m_position; }
    // Chooses without reporting.
    void setPosition(int position);
    int count() const { return int(m_pictures.size()); }
    QRect pictureRect(int position) const;

    QSize sizeHint() const override;

Q_SIGNALS:
    void positionChanged(int position);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override { QWidget::focusInEvent(event); update(); }
    void focusOutEvent(QFocusEvent *event) override { QWidget::focusOutEvent(event); update(); }

private:
    void choose(int position);

    std::vector<QPixmap> m_pictures;
    QSize m_size;
    int m_position = 0;
};

} // namespace pixkey
