#include "pixkey/dialogs/CustomSlider.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPolygon>

#include <algorithm>

namespace pixkey {

namespace {

// The five pens of the look, as 0x00BBGGRR colour values.
constexpr unsigned kShadowInner = 0xABA79F;
constexpr unsigned kShadowOuter = 0x63605A;
constexpr unsigned kLightInner = 0xD5D2CF;
constexpr unsigned kLightOuter = 0xFFFFFF;
constexpr unsigned kChannel = 0x959595;

QColor fromColorRef(unsigned value)
{
    return QColor(int(value & 0xFF), int((value >> 8) & 0xFF), int((value >> 16) & 0xFF));
}

// The thumb: a pentagon 11 pixels wide pointing up at the channel, its tip 1 pixel from the top.
constexpr int kThumbHalf = 5;
constexpr int kThumbTip = 1;
constexpr int kThumbShoulder = 6;
constexpr int kThumbBottom = 17;
constexpr int kLabelTop = 20;
constexpr int kTallTick = 5;
constexpr int kShortTick = 3;

} // namespace

CustomSlider::CustomSlider(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void CustomSlider::setTickLabels(const QStringList &labels)
{
    m_labels = labels;
    updateGeometry();
    update();
}

int CustomSlider::tickCount() const
{
    const int interval = tickInterval() > 0 ? tickInterval() : 1;
    return std::max(1, (maximum() - minimum()) / interval + 1);
}

std::vector<int> CustomSlider::tickPositions(int count, int width)
{
    std::vector<int> positions;
    if (count < 1)
        return positions;
    positions.reserve(std::size_t(count));
    const int span = std::max(0, width - 2 * kMargin);
    if (count == 1) {
        positions.push_back(kMargin);
        return positions;
    }
    const int gaps = count - 1;
    const int step = span / gaps;
    const int remainder = span % gaps;
    int x = kMargin;
    for (int i = 0; i < count; ++i) {
        positions.push_back(x);
        x += step + (i < remainder ? 1 : 0);
    }
    return positions;
}

int CustomSlider::channelLength() const
{
    return std::max(0, width() - 2 * kMargin);
}

int CustomSlider::positionOf(int value) const
{
    const int range = maximum() - minimum();
    if (range <= 0)
        return kMargin;
    const long long offset = std::clamp(value, minimum(), maximum()) - minimum();
    return kMargin + int(offset * channelLength() / range);
}

int CustomSlider::valueAt(int x) const
{
    const int range = maximum() - minimum();
    const int length = channelLength();
    if (range <= 0 || length <= 0)
        return minimum();
    const long long along = std::clamp(x - kMargin, 0, length);
    return minimum() + int((along * range + length / 2) / length);
}

int CustomSlider::labelTick(int index, int ticks) const
{
    const int count = int(m_labels.size());
    if (count <= 1)
        return 0;
    return index * (ticks - 1) / (count - 1);
}

QSize CustomSlider::sizeHint() const
{
    if (!isCustomDrawn())
        return QSlider::sizeHint();
    int height = kThumbBottom + 2;
    int width = 4 * kMargin;
    if (!m_labels.isEmpty()) {
        const QFontMetrics metrics(font());
        height = kLabelTop + metrics.height();
        for (const QString &label : m_labels)
            width += metrics.horizontalAdvance(label) + 6;
    }
    return {std::max(width, 120), height};
}

QSize CustomSlider::minimumSizeHint() const
{
    if (!isCustomDrawn())
        return QSlider::minimumSizeHint();
    return {4 * kMargin, sizeHint().height()};
}

void CustomSlider::paintEvent(QPaintEvent *event)
{
    if (!isCustomDrawn()) {
        QSlider::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);

    // Channel and tick marks.
    painter.setPen(QPen(fromColorRef(kChannel), 1));
    const int right = std::max(kMargin, width() - kMargin);
    painter.drawLine(kMargin, kChannelY, right, kChannelY);
    const std::vector<int> ticks = tickPositions();
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        const int height = i % 2 == 0 ? kTallTick : kShortTick;
        painter.drawLine(ticks[i], kChannelY - height, ticks[i], kChannelY);
    }

    // Tick texts.
    if (!m_labels.isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
        const QFontMetrics metrics(font());
        const int count = int(m_labels.size());
        for (int i = 0; i < count; ++i) {
            const int textWidth = metrics.horizontalAdvance(m_labels[i]);
            const int centre = ticks[std::size_t(labelTick(i, int(ticks.size())))];
            int left = centre - textWidth / 2;
            if (count > 1 && i == 0)
                left = std::min(left, centre - kMargin + 2);
            if (count > 1 && i == count - 1)
                left = std::max(left, centre + kMargin - 2 - textWidth);
            left = std::clamp(left, 0, std::max(0, width() - textWidth));
            painter.drawText(QRect(left, kLabelTop, textWidth, metrics.height()), Qt::AlignLeft | Qt::AlignTop,
                             m_labels[i]);
        }
    }

    // Thumb: filled, then outlined light on the upper left and dark on the lower right.
    const int c = positionOf(sliderPosition());
    const int l = c - kThumbHalf;
    const int r = c + kThumbHalf;
    const QPolygon thumb({QPoint(c, kThumbTip), QPoint(r, kThumbTip + kThumbHalf), QPoint(r, kThumbBottom),
                          QPoint(l, kThumbBottom), QPoint(l, kThumbTip + kThumbHalf)});
    painter.setPen(Qt::NoPen);
    painter.setBrush(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::Button));
    painter.drawPolygon(thumb);
    painter.setBrush(Qt::NoBrush);

    painter.setPen(QPen(fromColorRef(kLightOuter), 1));
    painter.drawLine(l, kThumbBottom - 1, l, kThumbShoulder);
    painter.drawLine(l, kThumbShoulder, c, kThumbTip);
    painter.setPen(QPen(fromColorRef(kLightInner), 1));
    painter.drawLine(l + 1, kThumbBottom - 2, l + 1, kThumbShoulder + 1);
    painter.drawLine(l + 1, kThumbShoulder, c, kThumbTip + 1);
    painter.setPen(QPen(fromColorRef(kShadowOuter), 1));
    painter.drawLine(c, kThumbTip, r, kThumbShoulder);
    painter.drawLine(r, kThumbShoulder, r, kThumbBottom);
    painter.drawLine(r, kThumbBottom, l, kThumbBottom);
    painter.setPen(QPen(fromColorRef(kShadowInner), 1));
    painter.drawLine(c + 1, kThumbTip + 2, r - 1, kThumbShoulder + 1);
    painter.drawLine(r - 1, kThumbShoulder + 1, r - 1, kThumbBottom - 1);
    painter.drawLine(r - 1, kThumbBottom - 1, l + 1, kThumbBottom - 1);

    if (hasFocus()) {
        QPen dotted(fromColorRef(kChannel), 1, Qt::DotLine);
        painter.setPen(dotted);
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

bool CustomSlider::onThumb(const QPoint &point) const
{
    const int c = positionOf(sliderPosition());
    return std::abs(point.x() - c) <= kThumbHalf + 1 && point.y() >= 0 && point.y() <= kThumbBottom + 1;
}

void CustomSlider::mousePressEvent(QMouseEvent *event)
{
    const bool left = event->button() == Qt::LeftButton;
    if (left) {
        m_leftDown = true;
        Q_EMIT leftButtonPressed();
    }
    if (!isCustomDrawn() || !left) {
        QSlider::mousePressEvent(event);
        return;
    }
    event->accept();
    if (focusPolicy() & Qt::ClickFocus)
        setFocus(Qt::MouseFocusReason);
    const QPoint point = event->position().toPoint();
    if (onThumb(point)) {
        m_dragOffset = point.x() - positionOf(sliderPosition());
        setSliderDown(true);
    } else {
        // A click on the channel pages toward the pointer, as track bars do.
        triggerAction(point.x() < positionOf(sliderPosition()) ? SliderPageStepSub : SliderPageStepAdd);
    }
}

void CustomSlider::mouseMoveEvent(QMouseEvent *event)
{
    if (!isCustomDrawn()) {
        QSlider::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (!isSliderDown())
        return;
    setSliderPosition(valueAt(event->position().toPoint().x() - m_dragOffset));
}

void CustomSlider::mouseReleaseEvent(QMouseEvent *event)
{
    const bool left = event->button() == Qt::LeftButton;
    if (!isCustomDrawn() || !left) {
        QSlider::mouseReleaseEvent(event);
    } else {
        event->accept();
        if (isSliderDown())
            setSliderDown(false);
    }
    if (left && m_leftDown) {
        m_leftDown = false;
        Q_EMIT leftButtonReleased();
    }
}

} // namespace pixkey
