#include "ImagePicker.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace pixkey {

namespace {
constexpr int kPad = 5;
}

ImagePicker::ImagePicker(std::vector<QPixmap> pictures, QSize pictureSize, QWidget *parent)
    : QWidget(parent), m_pictures(std::move(pictures)), m_size(pictureSize)
{
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ImagePicker::sizeHint() const
{
    return {count() * (m_size.width() + 2 * kPad) + 2, m_size.height() + 2 * kPad + 2};
}

QRect ImagePicker::pictureRect(int position) const
{
    return QRect(1 + position * (m_size.width() + 2 * kPad) + kPad, 1 + kPad, m_size.width(), m_size.height());
}

void ImagePicker::setPosition(int position)
{
    if (position < 0 || position >= count())
        return;
    m_position = position;
    update();
}

void ImagePicker::choose(int position)
{
    if (position < 0 || position >= count() || position == m_position)
        return;
    setPosition(position);
    Q_EMIT positionChanged(position);
}

void ImagePicker::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (int i = 0; i < count(); ++i) {
        const QRect r = pictureRect(i);
        if (i == m_position) {
            const QRect cell = r.adjusted(-kPad + 1, -kPad + 1, kPad - 1, kPad - 1);
            painter.fillRect(cell, palette().color(QPalette::Highlight).lighter(170));
            QPen pen(hasFocus() ? palette().color(QPalette::Highlight) : palette().color(QPalette::Mid), 2);
            painter.setPen(pen);
            painter.drawRect(cell.adjusted(1, 1, -1, -1));
        }
        painter.drawPixmap(r, m_pictures[std::size_t(i)]);
    }
}

void ImagePicker::mousePressEvent(QMouseEvent *event)
{
    setFocus(Qt::MouseFocusReason);
    for (int i = 0; i < count(); ++i)
        if (pictureRect(i).adjusted(-kPad, -kPad, kPad, kPad).contains(event->position().toPoint()))
            choose(i);
}

void ImagePicker::keyPressEvent(QKeyEvent *event)
{
    if (count() == 0 || (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right)) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int step = event->key() == Qt::Key_Right ? 1 : count() - 1;
    choose((m_position + step) % count());
    event->accept();
}

} // namespace pixkey
