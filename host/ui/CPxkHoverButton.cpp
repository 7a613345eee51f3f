#include "CPxkHoverButton.h"

#include "UiPictures.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFrame>

namespace pixkey {

namespace {

constexpr int kPadding = 4;
constexpr int kSpacing = 4;

// The icon as a silhouette in one colour: what a disabled button shows.
QPixmap silhouette(const QPixmap &source, const QColor &colour)
{
    QPixmap result(source.size());
    result.setDevicePixelRatio(source.devicePixelRatio());
    result.fill(Qt::transparent);
    QPainter painter(&result);
    painter.drawPixmap(0, 0, source);
    painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
    painter.fillRect(result.rect(), colour);
    return result;
}

} // namespace

CPxkHoverButton::CPxkHoverButton(QWidget *parent) : QAbstractButton(parent)
{
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover, false); // hover is tracked here, not by the style
    setIconSize(QSize(16, 16));
}

CPxkHoverButton::CPxkHoverButton(const QIcon &icon, const QString &text, QWidget *parent)
    : CPxkHoverButton(parent)
{
    setIcon(icon);
    setText(text);
}

bool CPxkHoverButton::loadIcon(const QString &resource)
{
    const QIcon icon = resource.endsWith(QLatin1String(".svg"), Qt::CaseInsensitive) ? UiPictures::icon(resource)
                                                                                     : QIcon(QPixmap(resource));
    if (icon.isNull())
        return false;
    setIcon(icon);
    return true;
}

QSize CPxkHoverButton::sizeHint() const
{
    int width = 2 * kPadding;
    int height = 2 * kPadding;
    if (!icon().isNull()) {
        width += iconSize().width();
        height += iconSize().height();
    }
    if (!text().isEmpty()) {
        const QSize textSize = fontMetrics().size(Qt::TextSingleLine, text());
        width += textSize.width() + (icon().isNull() ? 0 : kSpacing);
        height = std::max(height, textSize.height() + 2 * kPadding);
    }
    return QSize(width + 2, height + 2); // room for the two-pixel shift of the pressed text
}

void CPxkHoverButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));

    const bool pressed = isDown();
    if (pressed || m_hovered) {
        // A thin three-dimensional frame: light over dark for raised, the other way round sunken.
        const QColor light = palette().color(QPalette::Light);
        const QColor dark = palette().color(QPalette::Dark);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        painter.setPen(pressed ? dark : light);
        painter.drawLine(r.topLeft(), r.topRight());
        painter.drawLine(r.topLeft(), r.bottomLeft());
        painter.setPen(pressed ? light : dark);
        painter.drawLine(r.bottomLeft(), r.bottomRight());
        painter.drawLine(r.topRight(), r.bottomRight());
    }

    int x = kPadding;
    if (!icon().isNull()) {
        const QSize size = iconSize();
        QPixmap pixmap = icon().pixmap(size, devicePixelRatioF());
        if (!isEnabled())
            pixmap = silhouette(pixmap, palette().color(QPalette::Disabled, QPalette::WindowText));
        const int shift = pressed ? 1 : 0;
        const int y = (height() - size.height()) / 2;
        painter.drawPixmap(QRect(QPoint(x + shift, y + shift), size), pixmap);
        x += size.width() + kSpacing;
    }
    if (!text().isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        QRect textRect(x, pressed ? 2 : 0, width() - x - kPadding, height());
        painter.drawText(textRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text());
    }
}

void CPxkHoverButton::mouseMoveEvent(QMouseEvent *event)
{
    // Only the button of an active application lights up, and only while the cursor is on it.
    if (!m_hovered && QApplication::activeWindow() && rect().contains(event->position().toPoint()))
        setHovered(true);
    QAbstractButton::mouseMoveEvent(event);
}

void CPxkHoverButton::enterEvent(QEnterEvent *event)
{
    if (QApplication::activeWindow())
        setHovered(true);
    QAbstractButton::enterEvent(event);
}

void CPxkHoverButton::leaveEvent(QEvent *event)
{
    setHovered(false);
    QAbstractButton::leaveEvent(event);
}

void CPxkHoverButton::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        setHovered(false);
    QAbstractButton::changeEvent(event);
}

void CPxkHoverButton::setHovered(bool hovered)
{
    if (m_hovered == hovered)
        return;
    m_hovered = hovered;
    update();
}

} // namespace pixkey
