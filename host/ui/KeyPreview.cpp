#include "KeyPreview.h"

#include "CPxkPluginListView.h"
#include "KeypadArt.h"
#include "UiPictures.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMimeData>
#include <QPaintEvent>
#include <QPainter>

namespace pixkey {

namespace {

const QColor kFocusFrame(255, 153, 0);
const QColor kPlainFrame(102, 102, 102);
constexpr int kButtonGap = 8;

} // namespace

KeyPreview::KeyPreview(QWidget *parent) : QWidget(parent)
{
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    for (int key = 0; key < kKeys; ++key) {
        auto *button = new QPushButton(tr("Options"), this);
        button->setEnabled(false);
        // Not in the tab chain: Enter on the focused preview opens the selected key's options.
        button->setFocusPolicy(Qt::NoFocus);
        connect(button, &QPushButton::clicked, this, [this, key] { Q_EMIT optionsRequested(key); });
        m_options[std::size_t(key)] = button;
    }
    m_emptyKey = UiPictures::emptyKey(devicePixelRatioF());
    placeButtons();
}

bool KeyPreview::vertical() const
{
    return KeypadArt::isVertical(m_orientation);
}

void KeyPreview::setOrientation(int orientation)
{
    if (orientation == m_orientation)
        return;
    m_orientation = orientation;
    updateGeometry();
    placeButtons();
    update();
}

void KeyPreview::setSelectedKey(int key)
{
    if (key < 0 || key >= kKeys)
        return;
    m_selected = key;
    update();
}

QSize KeyPreview::sizeHint() const
{
    const QSize picture = KeypadArt::pictureSize(vertical());
    const QSize button = m_options[0]->sizeHint();
    if (vertical())
        return {picture.width() + kButtonGap + button.width(), picture.height()};
    return {picture.width(), std::max(picture.height(), kOptionsTop + button.height() + 2)};
}

QPoint KeyPreview::pictureOrigin() const
{
    const QSize picture = KeypadArt::pictureSize(vertical());
    const QSize hint = sizeHint();
    return {std::max(0, (width() - hint.width()) / 2), std::max(0, (height() - hint.height()) / 2 + (hint.height() - picture.height()) * 0)};
}

QRect KeyPreview::keyRect(int key) const
{
    return KeypadArt::faceRect(vertical(), key).translated(pictureOrigin());
}

int KeyPreview::keyAt(const QPoint &pos) const
{
    for (int key = 0; key < kKeys; ++key)
        if (keyRect(key).contains(pos))
            return key;
    return -1;
}

void KeyPreview::placeButtons()
{
    for (int key = 0; key < kKeys; ++key) {
        QPushButton *button = m_options[std::size_t(key)];
        const QSize size = button->sizeHint();
        const QRect face = keyRect(key);
        if (vertical())
            button->setGeometry(pictureOrigin().x() + KeypadArt::kShortSide + kButtonGap,
                                face.center().y() - size.height() / 2, size.width(), size.height());
        else
            button->setGeometry(face.center().x() - size.width() / 2 + 1, pictureOrigin().y() + kOptionsTop,
                                size.width(), size.height());
    }
}

void KeyPreview::showEvent(QShowEvent *)
{
    m_onScreen = true;
    update();
}

void KeyPreview::hideEvent(QHideEvent *)
{
    m_onScreen = false;
}

void KeyPreview::resizeEvent(QResizeEvent *)
{
    placeButtons();
}

void KeyPreview::paintEvent(QPaintEvent *event)
{
    const QSize picture = KeypadArt::pictureSize(vertical());
    const qreal ratio = devicePixelRatioF();
    if (m_body.isNull() || m_bodyOrientation != m_orientation || m_bodyRatio != ratio) {
        m_body = QPixmap(picture * ratio);
        m_body.setDevicePixelRatio(ratio);
        m_body.fill(Qt::transparent);
        QPainter body(&m_body);
        body.setRenderHint(QPainter::Antialiasing);
        KeypadArt::paintBody(body, QRectF(QPointF(0, 0), QSizeF(picture)), vertical(),
                             KeypadArt::isTurnedOver(m_orientation));
        m_bodyOrientation = m_orientation;
        m_bodyRatio = ratio;
    }
    QPainter painter(this);
    painter.drawPixmap(pictureOrigin(), m_body);
    for (int key = 0; key < kKeys; ++key) {
        const QRect face = keyRect(key);
        // A face outside the region is clipped away: it does not count as painted.
        if (!event->region().intersects(face))
            continue;
        const QImage image = m_faces ? m_faces(key) : QImage();
        m_painted[std::size_t(key)] = image;
        if (image.isNull())
            painter.drawPixmap(face, m_emptyKey);
        else
            painter.drawImage(face, image);
        if (key == m_highlighted) {
            painter.fillRect(face, QColor(255, 153, 0, 70));
        }
    }
    const QRect frame = keyRect(m_selected).adjusted(-kFrameGap - kFrameWidth + 1, -kFrameGap - kFrameWidth + 1,
                                                     kFrameGap + kFrameWidth - 1, kFrameGap + kFrameWidth - 1);
    QPen pen(hasFocus() ? kFocusFrame : kPlainFrame, kFrameWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(frame).adjusted(kFrameWidth / 2.0, kFrameWidth / 2.0, -kFrameWidth / 2.0 + 1, -kFrameWidth / 2.0 + 1));
}

void KeyPreview::updateFaces()
{
    // Only the faces that differ from what was painted, with the selection frame around them,
    // which is drawn over their edges.
    // Hidden or minimized, nothing is fetched or drawn; showing paints everything once.
    if (!m_onScreen)
        return;
    const int margin = kFrameGap + kFrameWidth;
    for (int key = 0; key < kKeys; ++key) {
        if (m_faces && m_faces(key) == m_painted[std::size_t(key)])
            continue;
        update(keyRect(key).adjusted(-margin, -margin, margin, margin));
    }
}

void KeyPreview::mousePressEvent(QMouseEvent *event)
{
    const int key = keyAt(event->position().toPoint());
    setFocus(Qt::MouseFocusReason);
    if (key >= 0) {
        setSelectedKey(key);
        Q_EMIT keySelected(key);
    }
}

void KeyPreview::mouseDoubleClickEvent(QMouseEvent *event)
{
    const int key = keyAt(event->position().toPoint());
    if (key >= 0 && event->button() == Qt::LeftButton) {
        setSelectedKey(key);
        Q_EMIT optionsRequested(key);
    }
}

void KeyPreview::keyPressEvent(QKeyEvent *event)
{
    const bool ctrl = event->modifiers() & Qt::ControlModifier;
    switch (event->key()) {
    case Qt::Key_Left:
        setSelectedKey((m_selected + kKeys - 1) % kKeys);
        Q_EMIT keySelected(m_selected);
        break;
    case Qt::Key_Right:
        setSelectedKey((m_selected + 1) % kKeys);
        Q_EMIT keySelected(m_selected);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (ctrl) {
            event->ignore();
            return;
        }
        Q_EMIT optionsRequested(m_selected);
        break;
    case Qt::Key_Delete:
        Q_EMIT clearRequested(m_selected);
        break;
    case Qt::Key_C:
    case Qt::Key_X:
    case Qt::Key_V:
        if (!ctrl) {
            QWidget::keyPressEvent(event);
            return;
        }
        if (event->key() == Qt::Key_C)
            Q_EMIT copyRequested(m_selected);
        else if (event->key() == Qt::Key_X)
            Q_EMIT cutRequested(m_selected);
        else
            Q_EMIT pasteRequested(m_selected);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void KeyPreview::focusInEvent(QFocusEvent *event)
{
    QWidget::focusInEvent(event);
    update();
    Q_EMIT keySelected(m_selected);
}

void KeyPreview::focusOutEvent(QFocusEvent *event)
{
    QWidget::focusOutEvent(event);
    update();
}

void KeyPreview::contextMenuEvent(QContextMenuEvent *event)
{
    const int key = keyAt(event->pos());
    if (key < 0)
        return;
    setSelectedKey(key);
    Q_EMIT keySelected(key);
    Q_EMIT menuRequested(key, event->globalPos());
}

void KeyPreview::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(CPxkPluginListView::mimeType()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KeyPreview::dragMoveEvent(QDragMoveEvent *event)
{
    const int key = keyAt(event->position().toPoint());
    if (key != m_highlighted) {
        m_highlighted = key;
        update();
    }
    // Outside the keys the drop is refused, so the cursor says "no".
    if (key >= 0 && event->mimeData()->hasFormat(CPxkPluginListView::mimeType()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void KeyPreview::dragLeaveEvent(QDragLeaveEvent *)
{
    m_highlighted = -1;
    update();
}

void KeyPreview::dropEvent(QDropEvent *event)
{
    m_highlighted = -1;
    update();
    const int key = keyAt(event->position().toPoint());
    PluginEntry *entry = nullptr;
    PluginFunction *function = nullptr;
    if (key < 0 || !CPxkPluginListView::decodeDrag(event->mimeData(), entry, function)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Q_EMIT functionDropped(key, entry, function);
}

} // namespace pixkey
