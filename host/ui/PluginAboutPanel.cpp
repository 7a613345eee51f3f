#include "PluginAboutPanel.h"

#include "LinkStatic.h"
#include "PluginEntry.h"
#include "PluginFunction.h"
#include "PluginLibrary.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace pixkey {

namespace {

bool isAddress(const QString &text)
{
    return !text.isEmpty() && text != QLatin1String("Undefined");
}

} // namespace

PluginAboutPanel::PluginAboutPanel(QWidget *parent) : QDialog(parent)
{
    setWindowTitle(tr("About"));
    m_name = new QLabel(this);
    QFont bold(QStringLiteral("Arial"));
    bold.setPointSizeF(font().pointSizeF() + 6);
    bold.setBold(true);
    m_name->setFont(bold);
    m_name->setTextFormat(Qt::PlainText);
    m_description = new QLabel(this);
    m_description->setWordWrap(true);
    m_description->setTextFormat(Qt::PlainText);
    m_copyright = new QLabel(this);
    m_copyright->setTextFormat(Qt::PlainText);
    m_version = new QLabel(this);
    m_mail = new LinkStatic(this);
    m_web = new LinkStatic(this);
    m_supports = new QLabel(this);
    m_supports->setWordWrap(true);
    m_supports->setTextFormat(Qt::PlainText);

    auto *icons = new QHBoxLayout;
    for (auto &place : m_icons) {
        place = new QLabel(this);
        place->setFixedSize(32, 32);
        place->hide();
        icons->addWidget(place);
    }
    icons->addStretch(1);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::hide);

    auto *layout = new QVBoxLayout(this);
    layout->addLayout(icons);
    layout->addWidget(m_name);
    layout->addWidget(m_description);
    layout->addSpacing(6);
    layout->addWidget(m_copyright);
    layout->addWidget(m_version);
    layout->addWidget(m_mail);
    layout->addWidget(m_web);
    layout->addSpacing(6);
    layout->addWidget(m_supports);
    layout->addStretch(1);
    layout->addWidget(buttons);
    setMinimumWidth(360);
}

void PluginAboutPanel::setEntry(const PluginEntry *entry)
{
    m_entry = entry;
    const PluginLibrary *library = entry ? entry->library.get() : nullptr;
    const QString name = entry ? entry->displayName() : QString();
    setWindowTitle(tr("About ") + name);
    m_name->setText(name);
    m_description->setText(library ? library->description : QString());
    m_copyright->setText(library && !library->author.isEmpty() ? QStringLiteral("\u00A9 ") + library->author : QString());
    // Plug-in files of this system carry no version resource.
    m_version->clear();
    m_version->setVisible(false);
    const QString email = library ? library->email : QString();
    const QString web = library ? library->web : QString();
    m_mail->setText(email);
    m_mail->setLinkKind(isAddress(email) ? LinkStatic::MailLink : LinkStatic::NoLink);
    m_web->setText(web);
    m_web->setLinkKind(isAddress(web) ? LinkStatic::WebLink : LinkStatic::NoLink);
    for (auto *place : m_icons)
        place->hide();
    if (library) {
        const int shown = std::min(library->functionCount(), kIconPlaces);
        for (int n = 1; n <= shown; ++n) {
            const PluginFunction *function = library->function(n);
            if (!function || function->largeIcon.isNull())
                continue;
            m_icons[std::size_t(n - 1)]->setPixmap(QPixmap::fromImage(function->largeIcon.scaled(32, 32)));
            m_icons[std::size_t(n - 1)]->show();
        }
    }
    const QStringList applications = library ? library->applications : QStringList();
    m_supports->setText(applications.isEmpty() ? QString() : tr("Supports ") + applications.join(QStringLiteral(", ")));
}

QString PluginAboutPanel::nameText() const
{
    return m_name->text();
}

QString PluginAboutPanel::supportsText() const
{
    return m_supports->text();
}

int PluginAboutPanel::iconsShown() const
{
    int shown = 0;
    for (const auto *place : m_icons)
        shown += place->isVisibleTo(this) ? 1 : 0;
    return shown;
}

} // namespace pixkey
