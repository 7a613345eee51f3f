// HotkeyDialog: the "Hotkey" properties dialog: the shortcut to send, the picture (a file or a web
// address) and the text of the face, with a live 96x96 preview.
//
// While the text equals the readable form of the shortcut, it follows the shortcut; once the user
// writes a text of their own it stays. OK is enabled only while a shortcut is set.
//
// [main-thread]. The dialog owns its widgets; the values are copied in and out.
#pragma once

#include <pixkey/utility/CHotkey.h>

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

namespace executor {

class FacePreview;
class HotkeyCaptureEdit;

class HotkeyDialog : public QDialog {
    Q_OBJECT
public:
    // Asks the user for a picture file; returns the chosen path, or an empty text when cancelled.
    using FileChooser = std::function<QString(QWidget *parent, const QString &current)>;

    explicit HotkeyDialog(QWidget *parent = nullptr);

    // Fills the fields and refreshes the preview.
    void setValues(const QString &imagePath, const QString &text, const pixkey::CHotkey &hotkey);

    QString imagePath() const;
    QString text() const;
    pixkey::CHotkey hotkey() const;

    // Replaces the system's open-file dialog behind "Browse..." (tests answer it themselves).
    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }

    HotkeyCaptureEdit *hotkeyEdit() const { return m_hotkeyEdit; }
    QLineEdit *imagePathEdit() const { return m_imagePathEdit; }
    QLineEdit *textEdit() const { return m_textEdit; }
    QPushButton *browseButton() const { return m_browseButton; }
    QPushButton *okButton() const { return m_okButton; }
    FacePreview *preview() const { return m_preview; }

private:
    void refresh();
    void browse();

    HotkeyCaptureEdit *m_hotkeyEdit;
    QLineEdit *m_imagePathEdit;
    QPushButton *m_browseButton;
    QLineEdit *m_textEdit;
    FacePreview *m_preview;
    QPushButton *m_okButton;

    pixkey::CHotkey m_previousHotkey; // the shortcut the text followed up to the last refresh
    FileChooser m_chooseFile;
};

} // namespace executor
