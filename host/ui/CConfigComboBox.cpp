#include "CConfigComboBox.h"

#include "AppCore.h"
#include "LayoutKind.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyle>
#include <QStyledItemDelegate>

#include <algorithm>

namespace pixkey {

namespace {

constexpr int kLayoutRole = Qt::UserRole + 1;
const QColor kChosenColour(252, 215, 151);

bool separatorAt(const QModelIndex &index)
{
    return index.data(Qt::AccessibleDescriptionRole).toString() == QLatin1String("separator");
}

// Draws the layouts box's items: the separator as a line, application layouts with their icon
// before the text, long names cut with "...", the chosen item on the warm highlight.
class LayoutItemDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        const int width = option.fontMetrics.horizontalAdvance(index.data().toString()) + 40;
        return {width, separatorAt(index) ? CConfigComboBox::kSeparatorHeight : CConfigComboBox::kItemHeight};
    }

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        painter->save();
        const QRect r = option.rect;
        if (separatorAt(index)) {
            painter->setPen(option.palette.color(QPalette::Midlight).darker(115));
            const int y = r.center().y();
            painter->drawLine(r.left() + 5, y, r.right() - 5, y);
            painter->restore();
            return;
        }
        const bool chosen = option.state & (QStyle::State_Selected | QStyle::State_MouseOver);
        painter->fillRect(r, chosen ? kChosenColour : option.palette.color(QPalette::Base));
        painter->setPen(chosen ? option.palette.color(QPalette::ButtonText) : option.palette.color(QPalette::Text));
        int left = r.left() + 10;
        const QIcon icon = index.data(Qt::DecorationRole).value<QIcon>();
        if (!icon.isNull()) {
            icon.paint(painter, QRect(left, r.top() + (r.height() - 16) / 2, 16, 16));
            left += 21;
        }
        const QRect text(left, r.top(), r.right() - 7 - left, r.height());
        const QString elided = option.fontMetrics.elidedText(index.data().toString(), Qt::ElideRight, text.width());
        painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, elided);
        painter->restore();
    }
};

} // namespace

CConfigComboBox::CConfigComboBox(QWidget *parent) : QComboBox(parent)
{
    setItemDelegate(new LayoutItemDelegate(this));
    setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    setMinimumContentsLength(16);
    setIconSize(QSize(16, 16));
    connect(this, &QComboBox::currentIndexChanged, this, &CConfigComboBox::onIndexChanged);
}

QIcon CConfigComboBox::defaultApplicationIcon()
{
    QIcon icon = QIcon::fromTheme(QStringLiteral("application-x-executable"));
    if (icon.isNull())
        icon = QApplication::style()->standardIcon(QStyle::SP_FileIcon);
    return icon;
}

QIcon CConfigComboBox::applicationIcon(const QString &iconNameOrFile)
{
    QIcon icon;
    if (!iconNameOrFile.isEmpty()) {
        if (QFileInfo(iconNameOrFile).isAbsolute())
            icon = QFileInfo::exists(iconNameOrFile) ? QIcon(iconNameOrFile) : QIcon();
        else
            icon = QIcon::fromTheme(iconNameOrFile);
    }
    return icon.isNull() ? defaultApplicationIcon() : icon;
}

bool CConfigComboBox::isCurrentFor(const AppCore &core) const
{
    for (int i = 0; i < count(); ++i) {
        const LayoutConfig *listed = layoutAt(i);
        if (!listed)
            continue;
        // Addresses are only compared here: a stale item is never read.
        const bool known = std::any_of(core.layouts.begin(), core.layouts.end(),
                                       [listed](const auto &layout) { return layout.get() == listed; });
        if (!known)
            return false;
    }
    return true;
}

int CConfigComboBox::indexOfLayout(const LayoutConfig *layout) const
{
    for (int i = 0; i < count(); ++i)
        if (layout && layoutAt(i) == layout)
            return i;
    return -1;
}

LayoutConfig *CConfigComboBox::layoutAt(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return reinterpret_cast<LayoutConfig *>(itemData(index, kLayoutRole).value<quintptr>());
}

bool CConfigComboBox::isSeparator(int index) const
{
    return index >= 0 && index < count() && separatorAt(model()->index(index, 0));
}

int CConfigComboBox::separatorIndex() const
{
    for (int i = 0; i < count(); ++i)
        if (isSeparator(i))
            return i;
    return -1;
}

void CConfigComboBox::addItemFor(int index, LayoutConfig *layout)
{
    if (layoutKind(layout) == LayoutKind::Application)
        insertItem(index, applicationIcon(layout->icon()), layout->name());
    else
        insertItem(index, layout->name());
    setItemData(index, QVariant::fromValue(reinterpret_cast<quintptr>(layout)), kLayoutRole);
    setItemData(index, layout->name(), Qt::ToolTipRole);
}

void CConfigComboBox::fill(const AppCore &core)
{
    m_quiet = true;
    clear();
    std::vector<LayoutConfig *> live;
    for (const auto &layout : core.layouts)
        if (layout && layout->state != LayoutState::Deleted)
            live.push_back(layout.get());
    std::stable_sort(live.begin(), live.end(), layoutListsBefore);
    for (LayoutConfig *layout : live)
        insertLayout(layout);
    setCurrentIndex(count() > 0 ? 0 : -1);
    m_quiet = false;
}

int CConfigComboBox::insertLayout(LayoutConfig *layout)
{
    if (!layout)
        return -1;
    if (const int existing = indexOfLayout(layout); existing >= 0)
        return existing;
    const bool quiet = m_quiet;
    m_quiet = true;
    int at = count();
    for (int i = 0; i < count(); ++i) {
        const LayoutConfig *other = layoutAt(i);
        const bool beforeLine = isSeparator(i) && layoutKind(layout) != LayoutKind::Application;
        if (beforeLine || (other && layoutListsBefore(layout, other))) {
            at = i;
            break;
        }
    }
    if (layoutKind(layout) == LayoutKind::Application && separatorIndex() < 0) {
        // The first application layout: the line goes where the application layouts begin.
        insertSeparator(at);
        setItemText(at, QStringLiteral("Separator"));
        ++at;
    }
    addItemFor(at, layout);
    m_quiet = quiet;
    return at;
}

void CConfigComboBox::removeLayout(const LayoutConfig *layout)
{
    const int index = indexOfLayout(layout);
    if (index < 0)
        return;
    const bool quiet = m_quiet;
    m_quiet = true;
    removeItem(index);
    bool applicationLeft = false;
    for (int i = 0; i < count(); ++i)
        applicationLeft = applicationLeft || layoutKind(layoutAt(i)) == LayoutKind::Application;
    if (!applicationLeft && separatorIndex() >= 0)
        removeItem(separatorIndex());
    m_quiet = quiet;
}

bool CConfigComboBox::selectLayout(const LayoutConfig *layout)
{
    const int index = indexOfLayout(layout);
    if (index < 0)
        return false;
    const bool quiet = m_quiet;
    m_quiet = true;
    setCurrentIndex(index);
    m_quiet = quiet;
    return true;
}

void CConfigComboBox::onIndexChanged(int index)
{
    if (isSeparator(index)) {
        // Never rests on the line: one item up, without choosing that item.
        const bool quiet = m_quiet;
        m_quiet = true;
        setCurrentIndex(index - 1);
        m_quiet = quiet;
        return;
    }
    if (!m_quiet && layoutAt(index))
        Q_EMIT layoutChosen(layoutAt(index));
}

void CConfigComboBox::keyPressEvent(QKeyEvent *event)
{
    // Up and Down step over the separator line (Qt skips disabled items already; this keeps the
    // rule independent of the style).
    if ((event->key() == Qt::Key_Down || event->key() == Qt::Key_Up) && event->modifiers() == Qt::NoModifier) {
        const int step = event->key() == Qt::Key_Down ? 1 : -1;
        int next = currentIndex() + step;
        if (isSeparator(next))
            next += step;
        if (next >= 0 && next < count())
            setCurrentIndex(next);
        event->accept();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void CConfigComboBox::wheelEvent(QWheelEvent *event)
{
    // Turning the wheel over the box would switch layouts (and the keypad) by accident.
    event->ignore();
}

} // namespace pixkey
