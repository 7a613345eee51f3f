// RowSelector: the strip of six tabs that shows which modifier row of the layout the preview and
// the keypad show ("Default", "Ctrl", "Shift", "Alt", "Alt+Shift", "Ctrl+Shift"). A tab whose row
// holds instances shows their icons. Clicks and the Left and Right keys (wrapping) ask for a row;
// the owner switches the row and then calls setRow. A function dragged over a tab asks for that
// row at once, so it can be dropped into any row. While faded (the "Idle" layout) the strip is
// drawn at 40 % and ignores clicks and keys.
//
// [main-thread] like every widget.
#pragma once

#include <QTabBar>

namespace pixkey {

class PluginEntry;
class PluginFunction;

class RowSelector : public QTabBar {
    Q_OBJECT
public:
    static constexpr int kTabWidth = 75;

    explicit RowSelector(QWidget *parent = nullptr);

    // Shows `row` as current without asking for it.
    void setRow(int row);
    void setFaded(bool faded);
    bool isFaded() const { return m_faded; }

Q_SIGNALS:
    void rowRequested(int row);
    // A dragged function was released over the strip.
    void functionDropped(pixkey::PluginEntry *entry, pixkey::PluginFunction *function);

protected:
    QSize tabSizeHint(int index) const override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private:
    bool m_faded = false;
};

} // namespace pixkey
