// CustomSlider: the horizontal track bar of the plug-ins' settings dialogs. It draws itself in the
// keypad software's own look (a thin channel, alternately tall and short tick marks, a pentagon
// thumb) and can carry its tick texts underneath, so a dialog needs no separate label row.
//
// Geometry, in widget pixels: the channel is a line at y 8 from x 13 to 13 pixels before the right
// edge; (maximum - minimum) / tickInterval + 1 tick marks (an interval of 0 or less counts as 1)
// are spread over that line, the first at x 13 and the last at the right end, the remainder of the
// division handed out one pixel at a time from the left; they are 5 and 3 pixels tall in turn (the
// first tall) and end on the line. With fewer than 3 tick marks the style's ordinary slider is
// drawn and handled instead.
//
// A left button press emits leftButtonPressed() before the press moves the slider, and the release
// emits leftButtonReleased() after it (also for a click on the channel, which QSlider's
// sliderPressed/sliderReleased do not report); dialogs use the pair to show a value box only while
// the mouse is down.
//
// [main-thread] like every widget. Owned by its parent widget.
#pragma once

#include <QSlider>
#include <QStringList>

#include <vector>

namespace pixkey {

class CustomSlider : public QSlider {
    Q_OBJECT
public:
    // Distance of the channel's ends from the left and right edges, and the channel's y.
    static constexpr int kMargin = 13;
    static constexpr int kChannelY = 8;

    explicit CustomSlider(QWidget *parent = nullptr);

    // Texts drawn under the tick marks, spread evenly over them: with n texts over t marks, text i
    // sits under mark i * (t - 1) / (n - 1) (a single text under the first mark). The first text
    // starts at the left edge, the last ends at the right edge, the others are centred.
    void setTickLabels(const QStringList &labels);
    QStringList tickLabels() const { return m_labels; }

    // Number of tick marks for the current range and tick interval (at least 1).
    int tickCount() const;
    // True when the slider draws itself (three or more tick marks).
    bool isCustomDrawn() const { return tickCount() >= 3; }

    // x of each tick mark at the current width.
    std::vector<int> tickPositions() const { return tickPositions(tickCount(), width()); }
    // x of `count` tick marks on a slider `width` pixels wide.
    static std::vector<int> tickPositions(int count, int width);

    // x of the thumb's centre for `value` (clamped to the range) at the current width.
    int positionOf(int value) const;
    // The value whose thumb position is nearest to x (clamped to the range).
    int valueAt(int x) const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void leftButtonPressed();
    void leftButtonReleased();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    int channelLength() const;
    bool onThumb(const QPoint &point) const;
    int labelTick(int index, int ticks) const;

    QStringList m_labels;
    int m_dragOffset = 0;   // pointer x minus thumb centre while the thumb is dragged
    bool m_leftDown = false;
};

} // namespace pixkey
