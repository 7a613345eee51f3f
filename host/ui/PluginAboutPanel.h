// PluginAboutPanel: "About <plug-in>", the configurator's panel that describes the selected
// plug-in: its name in bold, description, author, the e-mail and web addresses as links (plain
// text when "Undefined" or empty), the 32x32 icons of up to three functions and the applications it
// supports. Shown by "About ..." in the plug-in list's menu, hidden by OK and Cancel.
//
// It points at the catalogue entry last given and must be told (null) before that entry goes.
// [main-thread] like every widget.
#pragma once

#include <QDialog>

#include <array>

class QLabel;

namespace pixkey {

class LinkStatic;
class PluginEntry;

class PluginAboutPanel : public QDialog {
    Q_OBJECT
public:
    static constexpr int kIconPlaces = 3;

    explicit PluginAboutPanel(QWidget *parent = nullptr);

    void setEntry(const PluginEntry *entry);
    const PluginEntry *entry() const { return m_entry; }

    QString nameText() const;
    QString supportsText() const;
    LinkStatic &mail() const { return *m_mail; }
    LinkStatic &web() const { return *m_web; }
    // How many of the icon places show an icon.
    int iconsShown() const;

private:
    const PluginEntry *m_entry = nullptr;
    QLabel *m_name = nullptr;
    QLabel *m_description = nullptr;
    QLabel *m_copyright = nullptr;
    QLabel *m_version = nullptr;
    LinkStatic *m_mail = nullptr;
    LinkStatic *m_web = nullptr;
    std::array<QLabel *, kIconPlaces> m_icons{};
    QLabel *m_supports = nullptr;
};

} // namespace pixkey
