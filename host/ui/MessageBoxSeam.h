// MessageBoxSeam: how the configurator's windows put a message in front of the user and read the
// answer. Production shows a QMessageBox; tests replace the function to record the question and
// answer it without a modal loop.
//
// [main-thread] like every widget.
#pragma once

#include <QMessageBox>
#include <QString>

#include <functional>

class QWidget;

namespace pixkey {

class MessageBoxSeam {
public:
    using Function = std::function<QMessageBox::StandardButton(
        QWidget *parent, QMessageBox::Icon icon, const QString &caption, const QString &text,
        QMessageBox::StandardButtons buttons)>;

    // The caption of every message unless a message says otherwise.
    static QString caption() { return QStringLiteral("Pixkey mini Configurator"); }

    // A modal QMessageBox; the default button is the first of OK, Yes given.
    static QMessageBox::StandardButton showModal(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                                 const QString &text, QMessageBox::StandardButtons buttons);

    MessageBoxSeam() : m_function(&MessageBoxSeam::showModal) {}
    // An empty function restores the modal message box.
    void setFunction(Function function) { m_function = function ? std::move(function) : Function(&showModal); }

    QMessageBox::StandardButton operator()(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                           const QString &text,
                                           QMessageBox::StandardButtons buttons = QMessageBox::Ok) const
    {
        return m_function(parent, icon, caption, text, buttons);
    }

private:
    Function m_function;
};

} // namespace pixkey
