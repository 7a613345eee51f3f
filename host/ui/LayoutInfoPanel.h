// LayoutInfoPanel: "Layout Info", a small panel of the configurator with the chosen layout's name
// and path in two read-only boxes. The configurator updates it whenever the chosen layout changes
// and hides it with OK and Cancel. [main-thread] like every widget.
#pragma once

#include <QDialog>

class QLineEdit;

namespace pixkey {

class LayoutConfig;

class LayoutInfoPanel : public QDialog {
    Q_OBJECT
public:
    explicit LayoutInfoPanel(QWidget *parent = nullptr);

    // Shows the layout's name and path; both empty for none.
    void showLayout(const LayoutConfig *layout);
    QString name() const;
    QString path() const;

private:
    using QDialog::setLayout;
    QLineEdit *m_name = nullptr;
    QLineEdit *m_path = nullptr;
};

} // namespace pixkey
