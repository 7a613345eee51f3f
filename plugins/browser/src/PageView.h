// PageView: the dialog's picture of the whole page with the shown square on it. The page is drawn
// into the largest square of the widget, inset by 3 pixels, keeping its proportions, on grey;
// the shown square is framed in orange with a 7x7 handle on each corner. Dragging a handle
// resizes the square along its diagonal, dragging inside moves it (see SelectionSquare).
//
// [main-thread]. Owned by its parent widget.
#pragma once

#include "SelectionSquare.h"

#include <QImage>
#include <QWidget>

namespace browser {

class PageView : public QWidget {
    Q_OBJECT
public:
    explicit PageView(QWidget *parent = nullptr);

    // The page picture to show (a capture of the whole page).
    void setPage(const QImage &page);
    // Places the square for a page square of a page `pageWidth` pixels wide.
    void setTarget(const PageTarget &target, int pageWidth);
    // A new page width: the square stays where it is on the view; the page square follows.
    void setPageWidth(int pageWidth);
    PageTarget target() const { return m_target; }
    ViewSquare square() const { return m_square; }
    // The side of the view's square.
    int viewSide() const;

    QSize sizeHint() const override { return {320, 320}; }

Q_SIGNALS:
    void targetChanged();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void updateCursor(Grip grip);

    QImage m_page;
    PageTarget m_target;
    ViewSquare m_square;
    int m_pageWidth = 1024;
    Grip m_grip = Grip::None; // what the press grabbed, while the left button is down
    QPoint m_last;            // the last handled position of the drag
};

} // namespace browser
