// SliderTickLabels: a line of texts under a horizontal slider, each centred under the tick of its
// value (the first and last kept inside the line). Placed directly under the slider with the same
// width. [main-thread] like every widget.
#pragma once

#include <QString>
#include <QWidget>

#include <utility>
#include <vector>

class QSlider;

namespace pixkey {

class SliderTickLabels : public QWidget {
    Q_OBJECT
public:
    // (value, text) pairs; `largeLast` draws the last text half as large again (a symbol).
    SliderTickLabels(QSlider *slider, std::vector<std::pair<int, QString>> labels, bool largeLast = false,
                     QWidget *parent = nullptr);

    // Where the text of `value` is centred, in this widget's coordinates.
    int centreOf(int value) const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QFont fontFor(std::size_t index) const;

    QSlider *m_slider;
    std::vector<std::pair<int, QString>> m_labels;
    bool m_largeLast;
};

} // namespace pixkey
