// HotkeyEdit: the field in which the user picks a hotkey by pressing it.
//
// It owns one HotkeyValue (initially no key, no modifiers) and shows its readable form, never the
// typed characters. A key press captures the modifiers held and the lowest non-modifier key held
// (keys pressed in the field; a mouse button held at the same time is never taken for the key);
// releasing keys keeps a combination that has a key and clears one that has modifiers only;
// leaving the field clears modifiers without a key. After every change the user makes the field
// shows the new text and emits hotkeyChanged(). Plain Tab and Shift+Tab still move the focus, so
// the field can be left from the keyboard; every other key, Enter and Esc included, is captured.
//
// Its owner decides what a value may be: the switch hotkey's owner answers hotkeyChanged() by
// setHotkey(0, 0) when no modifier is held, so that hotkey always has a modifier.
//
// [main-thread] like every widget.
#pragma once

#include "HotkeyValue.h"

#include <QLineEdit>

#include <cstdint>
#include <set>

namespace pixkey {

class HotkeyEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit HotkeyEdit(QWidget *parent = nullptr);

    // Stores the pair and shows it; emits nothing.
    void setHotkey(std::uint16_t modifiers, std::uint16_t key);
    std::uint16_t modifiers() const { return m_value.modifiers(); }
    std::uint16_t key() const { return m_value.key(); }
    const HotkeyValue &value() const { return m_value; }

Q_SIGNALS:
    // The user changed the value (also when the new value equals the old one).
    void hotkeyChanged();

protected:
    bool event(QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void showValue();
    void showAndNotify();

    HotkeyValue m_value;
    std::set<std::uint16_t> m_down; // virtual-key codes pressed in the field and not yet released
};

} // namespace pixkey
