#include "HotkeyCaptureEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QString>

namespace executor {

namespace {

// The modifier flag a modifier key stands for itself, 0 for other keys. A key press of Ctrl does
// not always carry Ctrl in its own modifiers, so the pressed key is added explicitly.
std::uint16_t modifierOfKey(int key)
{
    switch (key) {
    case Qt::Key_Control:
        return pixkey::CHotkey::Ctrl;
    case Qt::Key_Shift:
        return pixkey::CHotkey::Shift;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return pixkey::CHotkey::Alt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return pixkey::CHotkey::Win;
    default:
        return 0;
    }
}

} // namespace

HotkeyCaptureEdit::HotkeyCaptureEdit(QWidget *parent) : QLineEdit(parent)
{
    // Read-only keeps paste, drop and input methods out; the key handlers below still run.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::StrongFocus);
}

void HotkeyCaptureEdit::setHotkey(const pixkey::CHotkey &hotkey)
{
    m_hotkey = hotkey;
    setText(QString::fromUtf8(m_hotkey.DisplayString()));
}

bool HotkeyCaptureEdit::event(QEvent *event)
{
    // Claim every key before the focus chain (Tab) and the shortcut map see it.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        keyPressEvent(static_cast<QKeyEvent *>(event));
        return true;
    }
    return QLineEdit::event(event);
}

void HotkeyCaptureEdit::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    // Shift+Tab arrives as its own key; it is Tab with Shift held.
    const int key = event->key() == Qt::Key_Backtab ? int(Qt::Key_Tab) : event->key();
    const bool keypad = event->modifiers().testFlag(Qt::KeypadModifier);
    const std::uint16_t modifiers = static_cast<std::uint16_t>(
        pixkey::CHotkey::ModifiersFromQt(static_cast<int>(event->modifiers())) | modifierOfKey(key));
    // Like reading the keys held now: the modifiers held, and the key just pressed unless it is a
    // modifier itself.
    m_hotkey.modifiers = modifiers;
    m_hotkey.key = modifierOfKey(key) ? 0 : pixkey::CHotkey::VirtualKeyFromQtKey(key, keypad);
    showAndNotify();
}

void HotkeyCaptureEdit::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    if (event->isAutoRepeat() || m_hotkey.key != 0)
        return;
    m_hotkey.modifiers = 0;
    showAndNotify();
}

void HotkeyCaptureEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    // Nothing here is edited as text; a selection would only suggest it is.
    deselect();
}

void HotkeyCaptureEdit::focusOutEvent(QFocusEvent *event)
{
    if (m_hotkey.key == 0) {
        m_hotkey.modifiers = 0;
        showAndNotify();
    }
    QLineEdit::focusOutEvent(event);
}

void HotkeyCaptureEdit::showAndNotify()
{
    setText(QString::fromUtf8(m_hotkey.DisplayString()));
    Q_EMIT hotkeyChanged();
}

} // namespace executor
