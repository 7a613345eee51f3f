// CPxkHoverButton: a flat push button with an optional icon and optional text that shows a frame
// only when it matters: raised while the mouse is over it, sunken while pressed, none otherwise.
//
// The background is the palette's button colour. The icon sits at the left, centred vertically,
// drawn as a gray silhouette while the button is disabled and one pixel down and right while
// pressed; the text follows the icon on the right on one line, vertically centred, two pixels lower
// while pressed. Hover starts on a mouse move over the button while the application has an active
// window and ends when the mouse leaves.
//
// [main-thread] like every widget.
#pragma once

#include <QAbstractButton>
#include <QIcon>
#include <QString>

namespace pixkey {

class CPxkHoverButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit CPxkHoverButton(QWidget *parent = nullptr);
    CPxkHoverButton(const QIcon &icon, const QString &text, QWidget *parent = nullptr);

    // Loads the icon from the program's resources (":/..." path); false, leaving the icon as it
    // was, when there is no picture there.
    bool loadIcon(const QString &resource);

    bool isHovered() const { return m_hovered; }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void setHovered(bool hovered);

    bool m_hovered = false;
};

} // namespace pixkey
