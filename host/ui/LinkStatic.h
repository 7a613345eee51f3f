// LinkStatic: a line of text that can be a link to a web page or an e-mail address.
//
// With a link kind the text is blue and underlined and the mouse shows a pointing hand; a click
// opens the target: the link text, or the shown text when there is no link text. A web target
// without a scheme gets "http://" in front; a mail target becomes "mailto:" + address. Without a
// link kind the text is drawn in the window-text colour and a click does nothing. The background
// is transparent unless filling is switched on (window colour). The size follows the text.
//
// [main-thread] like every widget.
#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>

namespace pixkey {

class LinkStatic : public QWidget {
    Q_OBJECT
public:
    enum LinkKind { NoLink = 0, WebLink = 1, MailLink = 2 };

    explicit LinkStatic(QWidget *parent = nullptr);
    LinkStatic(const QString &text, LinkKind kind, QWidget *parent = nullptr);

    void setText(const QString &text);
    QString text() const { return m_text; }
    void setLinkKind(LinkKind kind);
    LinkKind linkKind() const { return m_kind; }
    // The address opened instead of the shown text; empty = the shown text.
    void setLinkText(const QString &linkText) { m_linkText = linkText; }
    QString linkText() const { return m_linkText; }
    void setFillBackground(bool fill);

    // What a click opens; an empty URL without a link kind or without any text.
    QUrl targetUrl() const;
    // Opens targetUrl() through the opener (the desktop's handler unless replaced); false when
    // there is nothing to open or the opener refused.
    bool open();
    // Replaces how URLs are opened (tests); an empty function restores the desktop's handler.
    void setOpener(std::function<bool(const QUrl &)> opener) { m_opener = std::move(opener); }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

Q_SIGNALS:
    // A click opened (or tried to open) this URL.
    void linkActivated(const QUrl &url);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void applyLook();

    QString m_text;
    QString m_linkText;
    LinkKind m_kind = NoLink;
    bool m_fill = false;
    std::function<bool(const QUrl &)> m_opener;
};

} // namespace pixkey
