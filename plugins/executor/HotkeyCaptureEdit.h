// HotkeyCaptureEdit: the field of the "Hotkey" dialog that captures a shortcut by having the user
// press it. It shows the readable form of its own CHotkey and never the typed characters.
//
// Key presses set the modifiers held and the key pressed (a modifier key alone gives modifiers
// without a key); releasing keys keeps a combination that has a key and clears one that has only
// modifiers; leaving the field does the same. Tab, Enter, Escape and keys bound to shortcuts become
// part of the combination instead of moving the focus or closing the dialog. Every such change
// shows the new text and emits hotkeyChanged.
//
// [main-thread] like every widget.
#pragma once

#include <pixkey/utility/CHotkey.h>

#include <QLineEdit>

namespace executor {

class HotkeyCaptureEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit HotkeyCaptureEdit(QWidget *parent = nullptr);

    // Sets the shortcut shown, without emitting hotkeyChanged.
    void setHotkey(const pixkey::CHotkey &hotkey);
    pixkey::CHotkey hotkey() const { return m_hotkey; }

Q_SIGNALS:
    // The user changed the shortcut (also when the new value equals the old one).
    void hotkeyChanged();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void showAndNotify();

    pixkey::CHotkey m_hotkey;
};

} // namespace executor
