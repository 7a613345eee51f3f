#include "MessageBoxSeam.h"

namespace pixkey {

QMessageBox::StandardButton MessageBoxSeam::showModal(QWidget *parent, QMessageBox::Icon icon, const QString &caption,
                                                      const QString &text, QMessageBox::StandardButtons buttons)
{
    QMessageBox box(icon, caption, text, buttons, parent);
    if (buttons & QMessageBox::Ok)
        box.setDefaultButton(QMessageBox::Ok);
    else if (buttons & QMessageBox::Yes)
        box.setDefaultButton(QMessageBox::Yes);
    return QMessageBox::StandardButton(box.exec());
}

} // namespace pixkey
