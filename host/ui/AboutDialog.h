// AboutDialog: "About Pixkey mini Configurator", the program's modal About box: its picture, the
// version, the links to updates and plug-ins and to the maker, the copyright and the credits, and
// the button "Excellent!". [main-thread] like every widget.
#pragma once

#include <QDialog>

class QPushButton;

namespace pixkey {

class AboutDialog : public QDialog {
    Q_OBJECT
public:
    // `version`: the program's version text (empty: none shown).
    explicit AboutDialog(const QString &version, QWidget *parent = nullptr);
    QPushButton &closeButton() const { return *m_close; }

private:
    QPushButton *m_close = nullptr;
};

} // namespace pixkey
