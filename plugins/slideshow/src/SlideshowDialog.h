// SlideshowDialog: the "Slideshow" properties dialog (resource 102): the slide number of the
// "Goto" key and its caption. Laid out in dialog units (195 x 127), converted with the dialog
// font's average character width and height as the desktop's dialog templates are.
//
// [main-thread]. The dialog owns its widgets; the values are copied in and out.
#pragma once

#include <QDialog>
#include <QString>

#include <functional>

class QLineEdit;
class QPushButton;

namespace slideshow {

class SlideshowDialog : public QDialog {
    Q_OBJECT
public:
    static constexpr int kResourceId = 102;
    static constexpr int kIndexFieldId = 8017;
    static constexpr int kCaptionFieldId = 8018;

    explicit SlideshowDialog(QWidget *parent = nullptr);

    void setValues(int gotoIndex, const QString &caption);
    int gotoIndex() const;
    QString caption() const;

    // Replaces the message box that tells the user the number field holds no integer (tests
    // answer it themselves).
    void setWarning(std::function<void(QWidget *, const QString &)> warn) { m_warn = std::move(warn); }

    QLineEdit *indexField() const { return m_index; }
    QLineEdit *captionField() const { return m_caption; }
    QPushButton *okButton() const { return m_ok; }
    QPushButton *cancelButton() const { return m_cancel; }

    // The rectangle in pixels of a control placed at x, y, w, h dialog units.
    QRect dialogRect(int x, int y, int w, int h) const;

public Q_SLOTS:
    void accept() override;

private:
    QLineEdit *m_index;
    QLineEdit *m_caption;
    QPushButton *m_ok;
    QPushButton *m_cancel;
    std::function<void(QWidget *, const QString &)> m_warn;
};

} // namespace slideshow
