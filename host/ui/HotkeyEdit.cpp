#include "HotkeyEdit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QString>

namespace pixkey {

namespace {

// The modifier a modifier key stands for, 0 for other keys. The press of Ctrl does not always
// carry Ctrl in its own modifier state (and its release still does), so the key itself counts.
std::uint16_t modifierOfKey(int qtKey)
{
    switch (qtKey) {
    case Qt::Key_Control:
        return CHotkey::Ctrl;
    case Qt::Key_Shift:
        return CHotkey::Shift;
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
        return CHotkey::Alt;
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
        return CHotkey::Win;
    default:
        return 0;
    }
}

// Plain Tab and Shift+Tab keep moving the focus out of the field.
bool isFocusKey(const QKeyEvent *event)
{
    const Qt::KeyboardModifiers held = event->modifiers() & ~Qt::KeypadModifier;
    return (event->key() == Qt::Key_Tab && held == Qt::NoModifier)
        || (event->key() == Qt::Key_Backtab && (held == Qt::NoModifier || held == Qt::ShiftModifier));
}

std::uint16_t virtualKeyOf(const QKeyEvent *event)
{
    if (modifierOfKey(event->key()))
        return 0;
    const int key = event->key() == Qt::Key_Backtab ? int(Qt::Key_Tab) : event->key();
    return CHotkey::VirtualKeyFromQtKey(key, event->modifiers().testFlag(Qt::KeypadModifier));
}

} // namespace

HotkeyEdit::HotkeyEdit(QWidget *parent) : QLineEdit(parent)
{
    // Read-only keeps paste, drops and input methods out; the key handlers below still run.
    setReadOnly(true);
    setContextMenuPolicy(Qt::NoContextMenu);
    setFocusPolicy(Qt::StrongFocus);
    showValue();
}

void HotkeyEdit::setHotkey(std::uint16_t modifiers, std::uint16_t key)
{
    m_value.setPair(modifiers, key);
    showValue();
}

bool HotkeyEdit::event(QEvent *event)
{
    if (event->type() == QEvent::ShortcutOverride || event->type() == QEvent::KeyPress) {
        auto *keyEvent = static_cast<QKeyEvent *>(event);
        if (!isFocusKey(keyEvent)) {
            // Claim the key before dialog shortcuts, default buttons and the focus chain see it.
            if (event->type() == QEvent::KeyPress)
                keyPressEvent(keyEvent);
            event->accept();
            return true;
        }
    }
    return QLineEdit::event(event);
}

void HotkeyEdit::keyPressEvent(QKeyEvent *event)
{
    event->accept();
    if (const std::uint16_t code = virtualKeyOf(event))
        m_down.insert(code);
    const auto modifiers = std::uint16_t(CHotkey::ModifiersFromQt(int(event->modifiers()))
                                         | modifierOfKey(event->key()));
    m_value.capture(modifiers, m_down);
    showAndNotify();
}

void HotkeyEdit::keyReleaseEvent(QKeyEvent *event)
{
    event->accept();
    if (event->isAutoRepeat())
        return;
    if (const std::uint16_t code = virtualKeyOf(event))
        m_down.erase(code);
    if (m_value.key() != 0)
        return; // a combination with a key stays as it is
    m_value.setPair(0, 0);
    showAndNotify();
}

void HotkeyEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    deselect(); // the field shows a value, not text to edit
}

void HotkeyEdit::focusOutEvent(QFocusEvent *event)
{
    // Keys released elsewhere never reach the field.
    m_down.clear();
    if (m_value.key() == 0) {
        m_value.setPair(0, 0);
        showAndNotify();
    }
    QLineEdit::focusOutEvent(event);
}

void HotkeyEdit::showValue()
{
    setText(QString::fromLatin1(m_value.displayString()));
}

void HotkeyEdit::showAndNotify()
{
    showValue();
    Q_EMIT hotkeyChanged();
}

} // namespace pixkey
