#include "CPxkPluginListView.h"

#include "CConfigComboBox.h"
#include "PluginCatalogue.h"
#include "PluginEntry.h"
#include "PluginFunction.h"
#include "PluginLibrary.h"

#include <QContextMenuEvent>
#include <QDrag>
#include <QHeaderView>
#include <QMimeData>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

#include <algorithm>

namespace pixkey {

namespace {

constexpr int kEntryRole = Qt::UserRole + 1;
constexpr int kFunctionRole = Qt::UserRole + 2;
constexpr int kPluginRole = Qt::UserRole + 3;

// Draws the separator item (an item without data) as a line across the tree.
class SeparatorDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        if (index.data(kEntryRole).isValid()) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        painter->save();
        painter->setPen(option.palette.color(QPalette::Mid));
        const int y = option.rect.center().y();
        painter->drawLine(option.rect.left() + 5, y, option.rect.right() - 5, y);
        painter->restore();
    }
};

QIcon iconOf(const QImage &image)
{
    return image.isNull() ? CConfigComboBox::defaultApplicationIcon() : QIcon(QPixmap::fromImage(image));
}

} // namespace

CPxkPluginListView::CPxkPluginListView(QWidget *parent) : QTreeWidget(parent)
{
    setHeaderHidden(true);
    setColumnCount(1);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setDragEnabled(true);
    setDragDropMode(QAbstractItemView::DragOnly);
    setIconSize(QSize(16, 16));
    setItemDelegate(new SeparatorDelegate(this));
    setUniformRowHeights(true);
    connect(this, &QTreeWidget::currentItemChanged, this,
            [this](QTreeWidgetItem *current, QTreeWidgetItem *) { onCurrentChanged(current); });
    connect(this, &QTreeWidget::itemExpanded, this, [](QTreeWidgetItem *item) {
        if (PluginEntry *entry = isPluginItem(item) ? entryOf(item) : nullptr)
            entry->collapsed = false;
    });
    connect(this, &QTreeWidget::itemCollapsed, this, [](QTreeWidgetItem *item) {
        if (PluginEntry *entry = isPluginItem(item) ? entryOf(item) : nullptr)
            entry->collapsed = true;
    });
}

PluginEntry *CPxkPluginListView::entryOf(const QTreeWidgetItem *item)
{
    return item ? reinterpret_cast<PluginEntry *>(item->data(0, kEntryRole).value<quintptr>()) : nullptr;
}

PluginFunction *CPxkPluginListView::functionOf(const QTreeWidgetItem *item)
{
    return item ? reinterpret_cast<PluginFunction *>(item->data(0, kFunctionRole).value<quintptr>()) : nullptr;
}

bool CPxkPluginListView::isPluginItem(const QTreeWidgetItem *item)
{
    return item && item->data(0, kPluginRole).toBool();
}

QTreeWidgetItem *CPxkPluginListView::makeEntryItem(PluginEntry &entry) const
{
    auto *item = new QTreeWidgetItem;
    PluginLibrary *library = entry.library.get();
    PluginFunction *function = library ? library->function(library->defaultFunction()) : nullptr;
    item->setText(0, entry.displayName());
    item->setToolTip(0, entry.displayName());
    item->setIcon(0, iconOf(function ? function->smallIcon : QImage()));
    item->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(&entry)));
    item->setData(0, kFunctionRole, QVariant::fromValue(reinterpret_cast<quintptr>(function)));
    item->setData(0, kPluginRole, true);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | (function ? Qt::ItemIsDragEnabled : Qt::NoItemFlags));
    if (library && library->functionCount() > 1) {
        for (int n = 1; n <= library->functionCount(); ++n) {
            PluginFunction *child = library->function(n);
            if (!child)
                continue;
            auto *childItem = new QTreeWidgetItem(item);
            childItem->setText(0, child->name);
            childItem->setToolTip(0, child->name);
            childItem->setIcon(0, iconOf(child->smallIcon));
            childItem->setData(0, kEntryRole, QVariant::fromValue(reinterpret_cast<quintptr>(&entry)));
            childItem->setData(0, kFunctionRole, QVariant::fromValue(reinterpret_cast<quintptr>(child)));
            childItem->setData(0, kPluginRole, false);
            childItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled);
        }
    }
    return item;
}

void CPxkPluginListView::rebuild(const PluginCatalogue &catalogue)
{
    m_rebuilding = true;
    const PluginFunction *remembered = selectedFunction();
    const PluginEntry *rememberedEntry = selectedEntry();
    const int scroll = verticalScrollBar()->value();
    clear();

    std::vector<QTreeWidgetItem *> applicationItems, otherItems;
    for (const auto &owned : catalogue.entries()) {
        PluginEntry &entry = *owned;
        if (entry.removed)
            continue;
        const QStringList applications = entry.library ? entry.library->applications : QStringList();
        if (!applications.isEmpty()) {
            const bool listed = !m_filter.isEmpty() && std::any_of(applications.begin(), applications.end(),
                [this](const QString &a) { return a.compare(m_filter, Qt::CaseInsensitive) == 0; });
            if (listed)
                applicationItems.push_back(makeEntryItem(entry));
        } else {
            otherItems.push_back(makeEntryItem(entry));
        }
    }
    const auto byName = [](const QTreeWidgetItem *a, const QTreeWidgetItem *b) {
        return a->text(0).compare(b->text(0), Qt::CaseInsensitive) < 0;
    };
    std::stable_sort(applicationItems.begin(), applicationItems.end(), byName);
    std::stable_sort(otherItems.begin(), otherItems.end(), byName);
    for (QTreeWidgetItem *item : applicationItems)
        addTopLevelItem(item);
    if (!applicationItems.empty()) {
        auto *separator = new QTreeWidgetItem;
        separator->setFlags(Qt::NoItemFlags);
        separator->setSizeHint(0, QSize(10, 9));
        addTopLevelItem(separator);
    }
    for (QTreeWidgetItem *item : otherItems)
        addTopLevelItem(item);
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        if (const PluginEntry *entry = entryOf(item))
            item->setExpanded(!entry->collapsed);
    }

    verticalScrollBar()->setValue(scroll);
    QTreeWidgetItem *select = remembered ? itemOfFunction(remembered) : nullptr;
    if (!select && rememberedEntry)
        select = itemOfEntry(rememberedEntry);
    for (int i = 0; !select && i < topLevelItemCount(); ++i)
        if (!isSeparator(topLevelItem(i)))
            select = topLevelItem(i);
    setCurrentItem(select);
    m_rebuilding = false;
    onCurrentChanged(select);
}

QTreeWidgetItem *CPxkPluginListView::itemOfEntry(const PluginEntry *entry) const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (entry && entryOf(topLevelItem(i)) == entry)
            return topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem *CPxkPluginListView::itemOfFunction(const PluginFunction *function) const
{
    if (!function)
        return nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = topLevelItem(i);
        for (int c = 0; c < item->childCount(); ++c)
            if (functionOf(item->child(c)) == function)
                return item->child(c);
        if (functionOf(item) == function)
            return item;
    }
    return nullptr;
}

QTreeWidgetItem *CPxkPluginListView::separatorItem() const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (isSeparator(topLevelItem(i)))
            return topLevelItem(i);
    return nullptr;
}

void CPxkPluginListView::removeEntryItem(const PluginEntry *entry)
{
    QTreeWidgetItem *item = itemOfEntry(entry);
    if (!item)
        return;
    const int index = indexOfTopLevelItem(item);
    delete takeTopLevelItem(index);
    if (QTreeWidgetItem *separator = separatorItem(); separator && indexOfTopLevelItem(separator) == 0)
        delete takeTopLevelItem(0);
    QTreeWidgetItem *above = nullptr;
    for (int i = std::min(index - 1, topLevelItemCount() - 1); i >= 0 && !above; --i)
        if (!isSeparator(topLevelItem(i)))
            above = topLevelItem(i);
    for (int i = 0; !above && i < topLevelItemCount(); ++i)
        if (!isSeparator(topLevelItem(i)))
            above = topLevelItem(i);
    setCurrentItem(above);
    onCurrentChanged(above);
}

bool CPxkPluginListView::anyCollapsed() const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (isPluginItem(topLevelItem(i)) && topLevelItem(i)->childCount() > 0 && !topLevelItem(i)->isExpanded())
            return true;
    return false;
}

bool CPxkPluginListView::anyExpanded() const
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        if (isPluginItem(topLevelItem(i)) && topLevelItem(i)->childCount() > 0 && topLevelItem(i)->isExpanded())
            return true;
    return false;
}

void CPxkPluginListView::onCurrentChanged(QTreeWidgetItem *current)
{
    if (!m_rebuilding)
        Q_EMIT functionSelected(entryOf(current), functionOf(current));
}

QMimeData *CPxkPluginListView::mimeData(const QList<QTreeWidgetItem *> &items) const
{
    if (items.isEmpty() || !functionOf(items.first()))
        return nullptr;
    auto *data = new QMimeData;
    const QString text = QStringLiteral("%1 %2")
                             .arg(reinterpret_cast<quintptr>(entryOf(items.first())))
                             .arg(reinterpret_cast<quintptr>(functionOf(items.first())));
    data->setData(mimeType(), text.toLatin1());
    return data;
}

bool CPxkPluginListView::decodeDrag(const QMimeData *data, PluginEntry *&entry, PluginFunction *&function)
{
    if (!data || !data->hasFormat(mimeType()))
        return false;
    const QList<QByteArray> parts = data->data(mimeType()).split(' ');
    if (parts.size() != 2)
        return false;
    bool ok1 = false, ok2 = false;
    entry = reinterpret_cast<PluginEntry *>(parts[0].toULongLong(&ok1));
    function = reinterpret_cast<PluginFunction *>(parts[1].toULongLong(&ok2));
    return ok1 && ok2 && entry && function;
}

void CPxkPluginListView::startDrag(Qt::DropActions)
{
    QTreeWidgetItem *item = currentItem();
    PluginFunction *function = functionOf(item);
    if (!function)
        return;
    auto *drag = new QDrag(this);
    drag->setMimeData(mimeData({item}));
    if (!function->preview.isNull()) {
        drag->setPixmap(QPixmap::fromImage(function->preview.scaled(96, 96)));
        drag->setHotSpot(QPoint(43, 23));
    } else {
        const QImage icon = function->largeIcon;
        drag->setPixmap(icon.isNull() ? CConfigComboBox::defaultApplicationIcon().pixmap(32) : QPixmap::fromImage(icon));
        drag->setHotSpot(QPoint(11, -8));
    }
    drag->exec(Qt::CopyAction);
}

void CPxkPluginListView::contextMenuEvent(QContextMenuEvent *event)
{
    QTreeWidgetItem *item = itemAt(viewport()->mapFromGlobal(event->globalPos()));
    if (!item || isSeparator(item))
        return;
    setCurrentItem(item);
    Q_EMIT menuRequested(item, event->globalPos());
}

} // namespace pixkey
