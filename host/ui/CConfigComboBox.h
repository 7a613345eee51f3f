// CConfigComboBox: the configurator's layouts box. Lists the live layouts of the application core
// by kind, then by name ("Global", "Idle", manual layouts, then application layouts after a
// separator line), each application layout with its 16x16 icon, names that do not fit cut with
// "...", the chosen item on a warm highlight. The separator can never be chosen: the keyboard and
// the list step over it.
//
// Items point at layouts owned by `AppCore`; the owner refills or updates the box whenever layouts
// come or go. [main-thread] like every widget.
#pragma once

#include <QComboBox>
#include <QIcon>

namespace pixkey {

class AppCore;
class LayoutConfig;

class CConfigComboBox : public QComboBox {
    Q_OBJECT
public:
    static constexpr int kItemHeight = 24;
    static constexpr int kSeparatorHeight = 18;

    explicit CConfigComboBox(QWidget *parent = nullptr);

    // Empties the box, adds every layout that is not Deleted in list order and selects the first,
    // without emitting layoutChosen.
    void fill(const AppCore &core);
    // Inserts `layout` at its place in the order (with the separator before the first application
    // layout); returns its index. A layout already listed keeps its item.
    int insertLayout(LayoutConfig *layout);
    // Removes the item of `layout`, and the separator when no application layout is left.
    void removeLayout(const LayoutConfig *layout);
    // Selects the item of `layout` without emitting layoutChosen; false when it is not listed.
    bool selectLayout(const LayoutConfig *layout);

    // Whether every item still names a layout of `core` (false after the core dropped its layouts
    // in a reload, until the box is filled again).
    bool isCurrentFor(const AppCore &core) const;
    int indexOfLayout(const LayoutConfig *layout) const;
    LayoutConfig *layoutAt(int index) const;
    LayoutConfig *currentLayout() const { return layoutAt(currentIndex()); }
    bool isSeparator(int index) const;
    int separatorIndex() const;

    // The icon of an application: a theme name or a file; the default application icon when that
    // gives nothing.
    static QIcon applicationIcon(const QString &iconNameOrFile);
    static QIcon defaultApplicationIcon();

Q_SIGNALS:
    // The user chose another layout.
    void layoutChosen(pixkey::LayoutConfig *layout);

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    void addItemFor(int index, LayoutConfig *layout);
    void onIndexChanged(int index);

    bool m_quiet = false;
};

} // namespace pixkey
