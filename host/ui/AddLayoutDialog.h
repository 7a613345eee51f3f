// AddLayoutDialog: "Add Layout", where the user makes a layout for manual selection (with a name)
// or for an application (chosen from the installed applications, or any program through
// "Browse..."). OK is enabled only while the choice is complete: a name for a manual layout, a row
// for an application layout.
//
// [main-thread] like every widget.
#pragma once

#include "DesktopApplications.h"

#include <QDialog>

#include <functional>
#include <vector>

class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTreeWidget;

namespace pixkey {

class AddLayoutDialog : public QDialog {
    Q_OBJECT
public:
    struct Result {
        QString applicationName; // empty for a manual layout
        QString applicationPath;
        QString name;            // the name box's text
    };

    explicit AddLayoutDialog(const std::vector<DesktopApplications::Row> &applications, QWidget *parent = nullptr);

    // "Browse...": the program chosen, empty when cancelled (default: a file dialog).
    void setBrowseChooser(std::function<QString()> chooser) { m_browse = std::move(chooser); }

    // Adds a row (or finds the row of the same path, then of the same name) and returns its index;
    // -1 when the file is not a program and the row is not forced.
    int addRow(const DesktopApplications::Row &row, bool forced);
    int rowCount() const;
    // Adds the program chosen through "Browse..." as a forced row and selects it.
    void browse();

    void chooseManual();
    void chooseApplication();
    Result result() const { return m_result; }

    QRadioButton &manualButton() const { return *m_manual; }
    QRadioButton &applicationButton() const { return *m_application; }
    QLineEdit &nameBox() const { return *m_name; }
    QTreeWidget &list() const { return *m_list; }
    QPushButton &okButton() const { return *m_ok; }
    QPushButton &browseButton() const { return *m_browseButton; }

    void accept() override;

private:
    void updateState();

    QRadioButton *m_manual = nullptr;
    QRadioButton *m_application = nullptr;
    QLabel *m_nameLabel = nullptr;
    QLineEdit *m_name = nullptr;
    QTreeWidget *m_list = nullptr;
    QPushButton *m_browseButton = nullptr;
    QPushButton *m_ok = nullptr;
    std::function<QString()> m_browse;
    Result m_result;
};

} // namespace pixkey
