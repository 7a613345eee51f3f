#include "PageView.h"

#include <QMouseEvent>
#include <QPainter>

namespace browser {

namespace {
const QColor kSelection(0xFF, 0x66, 0x00);
const QColor kGrey(0x80, 0x80, 0x80);
} // namespace

PageView::PageView(QWidget *parent) : QWidget(parent)
{
    setMouseTracking(true);
    setMinimumSize(120, 120);
}

int PageView::viewSide() const
{
    return std::min(width(), height());
}

void PageView::setPage(const QImage &page)
{
    m_page = page;
    update();
}

void PageView::setTarget(const PageTarget &target, int pageWidth)
{
    m_target = target;
    m_pageWidth = std::max(1, pageWidth);
    m_square = squareOf(m_target, viewSide(), m_pageWidth);
    update();
}

void PageView::setPageWidth(int pageWidth)
{
    m_pageWidth = std::max(1, pageWidth);
    m_target = targetOf(m_square, viewSide(), m_pageWidth);
    update();
    Q_EMIT targetChanged();
}

void PageView::resizeEvent(QResizeEvent *)
{
    m_square = squareOf(m_target, viewSide(), m_pageWidth);
}

void PageView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int s = viewSide();
    const int t = s - 6;
    painter.fillRect(rect(), palette().button());
    if (t <= 0)
        return;
    const QRect area(3, 3, t, t);
    painter.fillRect(area, kGrey);
    if (!m_page.isNull()) {
        const QSize fitted = m_page.size().scaled(area.size(), Qt::KeepAspectRatio);
        const QRect target(area.left() + (t - fitted.width()) / 2, area.top() + (t - fitted.height()) / 2,
                           fitted.width(), fitted.height());
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, m_page.scaled(fitted, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    }
    const FrameGeometry frame = frameOf(m_square);
    painter.setPen(kSelection);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRect(QPoint(frame.left, frame.top), QPoint(frame.right, frame.bottom)).adjusted(0, 0, -1, -1));
    for (const QPoint corner : {QPoint(frame.left, frame.top), QPoint(frame.right, frame.top),
                                QPoint(frame.left, frame.bottom), QPoint(frame.right, frame.bottom)})
        painter.fillRect(QRect(corner - QPoint(3, 3), QSize(7, 7)), kSelection);
}

void PageView::updateCursor(Grip grip)
{
    switch (grip) {
    case Grip::TopLeft:
    case Grip::BottomRight:
        setCursor(Qt::SizeFDiagCursor);
        break;
    case Grip::TopRight:
    case Grip::BottomLeft:
        setCursor(Qt::SizeBDiagCursor);
        break;
    case Grip::Inside:
        setCursor(Qt::SizeAllCursor);
        break;
    case Grip::None:
        unsetCursor();
        break;
    }
}

void PageView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_grip = gripAt(m_square, event->position().toPoint());
    m_last = event->position().toPoint();
    updateCursor(m_grip);
    if (m_grip != Grip::None)
        grabMouse();
}

void PageView::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    if (m_grip == Grip::None || !(event->buttons() & Qt::LeftButton)) {
        updateCursor(gripAt(m_square, position));
        return;
    }
    const QPoint moved = dragSquare(m_square, m_grip, position.x() - m_last.x(), position.y() - m_last.y(),
                                    viewSide(), minimumSide(viewSide(), m_pageWidth));
    m_last += moved;
    if (moved.isNull())
        return;
    m_target = targetOf(m_square, viewSide(), m_pageWidth);
    update();
    Q_EMIT targetChanged();
}

void PageView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || m_grip == Grip::None)
        return;
    m_grip = Grip::None;
    releaseMouse();
    updateCursor(gripAt(m_square, event->position().toPoint()));
}

} // namespace browser
