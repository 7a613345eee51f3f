#include "LinkStatic.h"

#include <QDesktopServices>
#include <QMouseEvent>
#include <QPainter>

namespace pixkey {

namespace {

// A scheme followed by "//" ("http://", "https://", "ftp://") or a mail address already written
// as a link: such a target is opened as it is.
bool hasScheme(const QString &target)
{
    const qsizetype colon = target.indexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    for (qsizetype i = 0; i < colon; ++i) {
        const QChar c = target.at(i);
        if (!(c.isLetterOrNumber() || c == QLatin1Char('+') || c == QLatin1Char('-') || c == QLatin1Char('.'))
            || c.unicode() > 127)
            return false;
    }
    return target.mid(colon + 1).startsWith(QLatin1String("//"));
}

} // namespace

LinkStatic::LinkStatic(QWidget *parent) : QWidget(parent)
{
    applyLook();
}

LinkStatic::LinkStatic(const QString &text, LinkKind kind, QWidget *parent) : QWidget(parent), m_text(text), m_kind(kind)
{
    applyLook();
}

void LinkStatic::setText(const QString &text)
{
    m_text = text;
    updateGeometry();
    adjustSize();
    update();
}

void LinkStatic::setLinkKind(LinkKind kind)
{
    m_kind = kind;
    applyLook();
}

void LinkStatic::setFillBackground(bool fill)
{
    m_fill = fill;
    update();
}

QUrl LinkStatic::targetUrl() const
{
    QString target = (m_linkText.isEmpty() ? m_text : m_linkText).trimmed();
    if (target.isEmpty())
        return QUrl();
    switch (m_kind) {
    case WebLink:
        // Addresses that already carry a scheme ("https://...") are kept; only bare host names get
        // "http://", so a secure address is never turned into "http://https://...".
        if (!hasScheme(target))
            target.prepend(QLatin1String("http://"));
        return QUrl(target, QUrl::TolerantMode);
    case MailLink:
        if (!target.startsWith(QLatin1String("mailto:"), Qt::CaseInsensitive))
            target.prepend(QLatin1String("mailto:"));
        return QUrl(target, QUrl::TolerantMode);
    case NoLink:
        break;
    }
    return QUrl();
}

bool LinkStatic::open()
{
    const QUrl url = targetUrl();
    if (!url.isValid() || url.isEmpty())
        return false;
    Q_EMIT linkActivated(url);
    return m_opener ? m_opener(url) : QDesktopServices::openUrl(url);
}

QSize LinkStatic::sizeHint() const
{
    const QFontMetrics metrics(font());
    return QSize(metrics.horizontalAdvance(m_text) + 2, metrics.height());
}

void LinkStatic::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (m_fill)
        painter.fillRect(rect(), palette().color(QPalette::Window));
    // Pure blue for links, whatever the theme: the link colour of the program's dialogs.
    painter.setPen(m_kind == NoLink ? palette().color(QPalette::WindowText) : QColor(0, 0, 255));
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, m_text);
}

void LinkStatic::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()) && m_kind != NoLink)
        open();
    QWidget::mouseReleaseEvent(event);
}

void LinkStatic::applyLook()
{
    QFont linkFont = font();
    linkFont.setUnderline(m_kind != NoLink);
    setFont(linkFont);
    setCursor(m_kind == NoLink ? Qt::ArrowCursor : Qt::PointingHandCursor);
    setAttribute(Qt::WA_TranslucentBackground, false);
    updateGeometry();
    adjustSize();
    update();
}

} // namespace pixkey
