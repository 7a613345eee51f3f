// CPxkPluginListView: the configurator's tree of installed plug-ins. One root item per catalogue
// entry (expanded unless the entry is collapsed), with a child per function when the plug-in has
// several. Plug-ins that belong to applications are listed only while their application's layout
// is chosen (the application filter), first and above a separator line; the others follow, each
// group by name without regard to case. Expanding and collapsing are kept in the entries. Items
// are dragged out with the function's preview picture; the drop targets read `kMimeType`.
//
// Items point at catalogue entries and function records owned by `AppCore`'s catalogue; the owner
// rebuilds the tree whenever the catalogue changes. [main-thread] like every widget.
#pragma once

#include <QTreeWidget>

namespace pixkey {

class PluginCatalogue;
class PluginEntry;
class PluginFunction;

class CPxkPluginListView : public QTreeWidget {
    Q_OBJECT
public:
    // Mime type of a dragged function: "<entry address> <function address>" in decimal.
    static QString mimeType() { return QStringLiteral("application/x-pixkey-function"); }

    explicit CPxkPluginListView(QWidget *parent = nullptr);

    // The executable file name whose plug-ins are listed (empty: none of the application plug-ins).
    void setApplicationFilter(const QString &fileName) { m_filter = fileName; }
    const QString &applicationFilter() const { return m_filter; }

    // Rebuilds the tree from the catalogue, keeping the selected function and the scroll position
    // when they are still there, else selecting the first item.
    void rebuild(const PluginCatalogue &catalogue);

    static PluginEntry *entryOf(const QTreeWidgetItem *item);
    static PluginFunction *functionOf(const QTreeWidgetItem *item);
    static bool isPluginItem(const QTreeWidgetItem *item);
    static bool isSeparator(const QTreeWidgetItem *item) { return item && !entryOf(item); }

    QTreeWidgetItem *itemOfEntry(const PluginEntry *entry) const;
    QTreeWidgetItem *itemOfFunction(const PluginFunction *function) const;
    QTreeWidgetItem *separatorItem() const;
    // Deletes the entry's item, selects the item above it and drops the separator when no
    // application plug-in is left above it.
    void removeEntryItem(const PluginEntry *entry);
    PluginEntry *selectedEntry() const { return entryOf(currentItem()); }
    PluginFunction *selectedFunction() const { return functionOf(currentItem()); }

    bool anyCollapsed() const;
    bool anyExpanded() const;

    // Decodes a drag's data into the entry and function it names; false for foreign data.
    static bool decodeDrag(const QMimeData *data, PluginEntry *&entry, PluginFunction *&function);

Q_SIGNALS:
    // The selected function changed (null when nothing is selected).
    void functionSelected(pixkey::PluginEntry *entry, pixkey::PluginFunction *function);
    // Right click on an item (already selected) at a global position.
    void menuRequested(QTreeWidgetItem *item, const QPoint &globalPos);

protected:
    void startDrag(Qt::DropActions supportedActions) override;
    QMimeData *mimeData(const QList<QTreeWidgetItem *> &items) const override;
    QStringList mimeTypes() const override { return {mimeType()}; }
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    QTreeWidgetItem *makeEntryItem(PluginEntry &entry) const;
    void onCurrentChanged(QTreeWidgetItem *current);

    QString m_filter;
    bool m_rebuilding = false;
};

} // namespace pixkey
