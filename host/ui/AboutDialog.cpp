#include "AboutDialog.h"

#include "LinkStatic.h"
#include "UiPictures.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace pixkey {

AboutDialog::AboutDialog(const QString &version, QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("About Pixkey mini Configurator"));
    setAutoFillBackground(true);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    white.setColor(QPalette::WindowText, Qt::black);
    setPalette(white);

    QFont bold = font();
    bold.setWeight(QFont::Bold);

    auto *picture = new QLabel(this);
    picture->setPixmap(UiPictures::windowIcon().pixmap(96, 96));
    picture->setAlignment(Qt::AlignTop);

    auto *versionLabel = new QLabel(tr("Configurator version") + (version.isEmpty() ? QString() : QLatin1Char(' ') + version), this);
    versionLabel->setFont(bold);
    auto *updates = new LinkStatic(tr("Updates and plug-ins"), LinkStatic::WebLink, this);
    updates->setLinkText(QStringLiteral("https://pixkey.example.org/download/"));
    auto *maker = new LinkStatic(QStringLiteral("pixkey.example.org"), LinkStatic::WebLink, this);
    maker->setLinkText(QStringLiteral("https://pixkey.example.org/"));
    auto *copyright = new QLabel(tr("Copyright \u00A9 2026 the Pixkey mini host contributors"), this);
    copyright->setFont(bold);
    auto *creditsTitle = new QLabel(tr("Credits"), this);
    creditsTitle->setFont(bold);
    auto *credits = new QLabel(tr("Built with Qt. Keypad pictures and icons drawn for this program.\n"
                                  "Thanks to everyone who tested the keypad on their desktop."), this);
    credits->setWordWrap(true);

    m_close = new QPushButton(tr("Excellent!"), this);
    m_close->setDefault(true);
    connect(m_close, &QPushButton::clicked, this, &QDialog::accept);

    auto *text = new QVBoxLayout;
    text->addWidget(versionLabel);
    text->addSpacing(8);
    text->addWidget(updates);
    text->addWidget(maker);
    text->addSpacing(8);
    text->addWidget(copyright);
    text->addSpacing(8);
    text->addWidget(creditsTitle);
    text->addWidget(credits);
    text->addStretch(1);

    auto *top = new QHBoxLayout;
    top->addWidget(picture);
    top->addSpacing(12);
    top->addLayout(text, 1);

    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_close);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(16, 16, 16, 12);
    layout->addLayout(top);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    setMinimumWidth(420);
}

} // namespace pixkey
