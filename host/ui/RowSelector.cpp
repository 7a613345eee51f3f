#include "RowSelector.h"

#include "CPxkPluginListView.h"
#include "ModifierRow.h"

#include <QDragMoveEvent>
#include <QGraphicsOpacityEffect>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

namespace pixkey {

RowSelector::RowSelector(QWidget *parent) : QTabBar(parent)
{
    for (int row = 0; row < ModifierRow::kCount; ++row)
        addTab(ModifierRow::displayName(row));
    setExpanding(false);
    setDrawBase(true);
    setUsesScrollButtons(false);
    setIconSize(QSize(48, 16));
    setAcceptDrops(true);
    setFocusPolicy(Qt::StrongFocus);
}

QSize RowSelector::tabSizeHint(int index) const
{
    QSize size = QTabBar::tabSizeHint(index);
    size.setWidth(std::max(size.width(), kTabWidth));
    return size;
}

void RowSelector::setRow(int row)
{
    const QSignalBlocker block(this);
    setCurrentIndex(row >= 0 && row < count() ? row : 0);
}

void RowSelector::setFaded(bool faded)
{
    if (faded == m_faded)
        return;
    m_faded = faded;
    if (faded) {
        auto *effect = new QGraphicsOpacityEffect(this);
        effect->setOpacity(0.4);
        setGraphicsEffect(effect);
    } else {
        setGraphicsEffect(nullptr);
    }
    update();
}

void RowSelector::mousePressEvent(QMouseEvent *event)
{
    event->accept();
    if (m_faded || event->button() != Qt::LeftButton)
        return;
    const int tab = tabAt(event->position().toPoint());
    if (tab >= 0)
        Q_EMIT rowRequested(tab);
}

void RowSelector::mouseReleaseEvent(QMouseEvent *event)
{
    event->accept();
}

void RowSelector::mouseMoveEvent(QMouseEvent *event)
{
    event->accept();
}

void RowSelector::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Left && event->key() != Qt::Key_Right) {
        QTabBar::keyPressEvent(event);
        return;
    }
    event->accept();
    if (m_faded)
        return;
    const int step = event->key() == Qt::Key_Right ? 1 : count() - 1;
    Q_EMIT rowRequested((currentIndex() + step) % count());
}

void RowSelector::wheelEvent(QWheelEvent *event)
{
    event->accept();
}

void RowSelector::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasFormat(CPxkPluginListView::mimeType()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void RowSelector::dragMoveEvent(QDragMoveEvent *event)
{
    if (!event->mimeData()->hasFormat(CPxkPluginListView::mimeType())) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    const int tab = tabAt(event->position().toPoint());
    if (!m_faded && tab >= 0 && tab != currentIndex())
        Q_EMIT rowRequested(tab);
}

void RowSelector::dropEvent(QDropEvent *event)
{
    PluginEntry *entry = nullptr;
    PluginFunction *function = nullptr;
    if (!CPxkPluginListView::decodeDrag(event->mimeData(), entry, function)) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
    Q_EMIT functionDropped(entry, function);
}

} // namespace pixkey
