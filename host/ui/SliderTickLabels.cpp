#include "SliderTickLabels.h"

#include <QPainter>
#include <QSlider>
#include <QStyle>

namespace pixkey {

SliderTickLabels::SliderTickLabels(QSlider *slider, std::vector<std::pair<int, QString>> labels, bool largeLast,
                                   QWidget *parent)
    : QWidget(parent), m_slider(slider), m_labels(std::move(labels)), m_largeLast(largeLast)
{
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QFont SliderTickLabels::fontFor(std::size_t index) const
{
    QFont small = font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    if (m_largeLast && index + 1 == m_labels.size())
        small.setPointSizeF(small.pointSizeF() * 1.5);
    return small;
}

QSize SliderTickLabels::sizeHint() const
{
    int height = 0;
    for (std::size_t i = 0; i < m_labels.size(); ++i)
        height = std::max(height, QFontMetrics(fontFor(i)).height());
    return {100, height};
}

int SliderTickLabels::centreOf(int value) const
{
    const int handle = m_slider->style()->pixelMetric(QStyle::PM_SliderLength, nullptr, m_slider);
    const int span = std::max(1, width() - handle);
    return handle / 2 + QStyle::sliderPositionFromValue(m_slider->minimum(), m_slider->maximum(), value, span);
}

void SliderTickLabels::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    for (std::size_t i = 0; i < m_labels.size(); ++i) {
        painter.setFont(fontFor(i));
        const QFontMetrics metrics(painter.font());
        const int textWidth = metrics.horizontalAdvance(m_labels[i].second);
        const int left = std::clamp(centreOf(m_labels[i].first) - textWidth / 2, 0, std::max(0, width() - textWidth));
        painter.drawText(QRect(left, 0, textWidth, height()), Qt::AlignLeft | Qt::AlignVCenter, m_labels[i].second);
    }
}

} // namespace pixkey
