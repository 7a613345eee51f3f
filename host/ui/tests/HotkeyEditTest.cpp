// The hotkey field: readable text of key and modifier pairs, and what sequences of key presses,
// releases and focus changes leave in the field and tell its owner.

#include "HotkeyEdit.h"
#include "HotkeyValue.h"

#include <QApplication>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSignalSpy>

#include <gtest/gtest.h>

using pixkey::HotkeyEdit;
using pixkey::HotkeyValue;

namespace {

struct DisplayCase {
    std::uint16_t modifiers;
    std::uint16_t key;
    const char *text;
};

TEST(HotkeyValueTest, ReadableText)
{
    const DisplayCase cases[] = {
        {2, 0x41, "Ctrl+A"},
        {9, 0x70, "Win+Alt+F1"},
        {2, 0x03, "Ctrl+#03"},
        {8, 0x21, "Win+PgUp"},
        {15, 0x91, "Win+Ctrl+Alt+Shift+Scroll Lock"}, // the longest text there is
        {6, 0x87, "Ctrl+Shift+F24"},
        {0, 0x60, "Num 0"},
        {0, 0x69, "Num 9"},
        {1, 0x6E, "Alt+Num ."},
        {4, 0xBA, "Shift+;"},
        {8, 0x20, "Win+Space"},
        {2, 0, "Ctrl+"},           // modifiers alone
        {0, 0, ""},
        {2, 0xE0, "Ctrl+"},        // a code without name or character adds nothing
        {0, 0x1F, "#31"},
    };
    for (const DisplayCase &c : cases) {
        HotkeyValue value;
        value.setPair(c.modifiers, c.key);
        EXPECT_STREQ(value.displayString(), c.text) << "modifiers " << c.modifiers << " key " << c.key;
        EXPECT_EQ(value.modifiers(), c.modifiers);
        EXPECT_EQ(value.key(), c.key);
    }
}

TEST(HotkeyValueTest, CaptureTakesTheLowestKeyThatIsNoModifier)
{
    HotkeyValue value;
    // Shift, Ctrl, Alt, their sided codes and both Win keys never become the key.
    value.capture(2, {0x10, 0x11, 0x12, 0x5B, 0x5C, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5});
    EXPECT_EQ(value.modifiers(), 2);
    EXPECT_EQ(value.key(), 0);
    value.capture(2, {0xA2, 0x74, 0x41});
    EXPECT_EQ(value.key(), 0x41);
    EXPECT_STREQ(value.displayString(), "Ctrl+A");
    value.capture(0, {255});
    EXPECT_EQ(value.key(), 0) << "255 is no key";
}

class HotkeyEditTest : public ::testing::Test {
protected:
    void press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
    {
        QKeyEvent event(QEvent::KeyPress, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(&m_edit, &event);
    }
    void release(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier, bool autoRepeat = false)
    {
        QKeyEvent event(QEvent::KeyRelease, key, modifiers, QString(), autoRepeat);
        QApplication::sendEvent(&m_edit, &event);
    }
    void loseFocus()
    {
        QFocusEvent event(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(&m_edit, &event);
    }

    HotkeyEdit m_edit;
    QSignalSpy m_changed{&m_edit, &HotkeyEdit::hotkeyChanged};
};

TEST_F(HotkeyEditTest, StartsEmptyAndSetHotkeyShowsWithoutNotifying)
{
    EXPECT_EQ(m_edit.text(), QString());
    m_edit.setHotkey(8, 0x20);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Win+Space"));
    EXPECT_EQ(m_edit.modifiers(), 8);
    EXPECT_EQ(m_edit.key(), 0x20);
    EXPECT_EQ(m_changed.count(), 0);
}

TEST_F(HotkeyEditTest, ModifierAloneIsClearedOnRelease)
{
    // The press of Ctrl does not carry Ctrl in its own modifier state; the field still shows it.
    press(Qt::Key_Control);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+"));
    EXPECT_EQ(m_edit.modifiers(), 2);
    release(Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QString());
    EXPECT_EQ(m_edit.modifiers(), 0);
    EXPECT_EQ(m_edit.key(), 0);
    EXPECT_EQ(m_changed.count(), 2);
}

TEST_F(HotkeyEditTest, CombinationWithKeySurvivesReleasingAllKeys)
{
    press(Qt::Key_Control);
    press(Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+F5"));
    release(Qt::Key_F5, Qt::ControlModifier);
    release(Qt::Key_Control, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+F5"));
    EXPECT_EQ(m_edit.modifiers(), 2);
    EXPECT_EQ(m_edit.key(), 0x74);
    EXPECT_EQ(m_changed.count(), 2) << "releases of a kept combination change nothing";

    // A new combination replaces it.
    press(Qt::Key_Alt);
    press(Qt::Key_Meta, Qt::AltModifier);
    press(Qt::Key_F1, Qt::AltModifier | Qt::MetaModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Win+Alt+F1"));
    EXPECT_EQ(m_edit.modifiers(), 9);
}

TEST_F(HotkeyEditTest, LowestHeldKeyWinsAndReleasedKeysStopCounting)
{
    press(Qt::Key_F5, Qt::ControlModifier);
    press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+A")) << "0x41 is below F5's 0x74";
    release(Qt::Key_A, Qt::ControlModifier);
    release(Qt::Key_F5, Qt::ControlModifier);
    press(Qt::Key_B, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+B")) << "released keys are not held any more";
}

TEST_F(HotkeyEditTest, OwnerClearsAValueWithoutModifier)
{
    // What the switch hotkey's owner does: a hotkey needs a modifier.
    QObject::connect(&m_edit, &HotkeyEdit::hotkeyChanged, &m_edit, [this] {
        if (m_edit.modifiers() == 0)
            m_edit.setHotkey(0, 0);
    });
    QStringList shown;
    QObject::connect(&m_edit, &QLineEdit::textChanged, &m_edit, [&shown](const QString &text) { shown << text; });
    press(Qt::Key_A);
    EXPECT_EQ(shown.value(0), QStringLiteral("A")) << "the letter is shown before the owner answers";
    EXPECT_EQ(m_edit.text(), QString());
    EXPECT_EQ(m_edit.key(), 0);
    press(Qt::Key_Control);
    press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+A"));
}

TEST_F(HotkeyEditTest, LeavingTheFieldClearsModifiersWithoutKey)
{
    press(Qt::Key_Shift);
    press(Qt::Key_Control, Qt::ShiftModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+Shift+"));
    const int before = m_changed.count();
    loseFocus();
    EXPECT_EQ(m_edit.text(), QString());
    EXPECT_EQ(m_edit.modifiers(), 0);
    EXPECT_EQ(m_changed.count(), before + 1);

    // A full combination stays when the field is left, and keys held then are forgotten.
    press(Qt::Key_F9, Qt::AltModifier);
    loseFocus();
    EXPECT_EQ(m_edit.text(), QStringLiteral("Alt+F9"));
    press(Qt::Key_F2, Qt::AltModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Alt+F2")) << "F9 was released outside the field";
}

TEST_F(HotkeyEditTest, KeysMapOntoVirtualKeys)
{
    const struct {
        int key;
        Qt::KeyboardModifiers modifiers;
        const char *text;
    } cases[] = {
        {Qt::Key_PageUp, Qt::MetaModifier, "Win+PgUp"},
        {Qt::Key_5, Qt::ControlModifier | Qt::KeypadModifier, "Ctrl+Num 5"},
        {Qt::Key_Asterisk, Qt::AltModifier | Qt::KeypadModifier, "Alt+Num *"},
        {Qt::Key_Return, Qt::AltModifier, "Alt+Enter"},
        {Qt::Key_Escape, Qt::ShiftModifier, "Shift+Esc"},
        {Qt::Key_Tab, Qt::ControlModifier, "Ctrl+Tab"}, // Tab with Ctrl is a hotkey, not a focus move
        {Qt::Key_Backtab, Qt::ShiftModifier | Qt::AltModifier, "Alt+Shift+Tab"},
        {Qt::Key_Exclam, Qt::ShiftModifier | Qt::ControlModifier, "Ctrl+Shift+1"},
        {Qt::Key_F24, Qt::ControlModifier, "Ctrl+F24"},
    };
    for (const auto &c : cases) {
        press(c.key, c.modifiers);
        EXPECT_EQ(m_edit.text(), QString::fromLatin1(c.text));
        release(c.key, c.modifiers);
        EXPECT_EQ(m_edit.text(), QString::fromLatin1(c.text)) << "kept after the release";
    }
}

TEST_F(HotkeyEditTest, PlainTabMovesFocusInsteadOfBeingCaptured)
{
    QWidget window;
    auto *edit = new HotkeyEdit(&window);
    auto *other = new QLineEdit(&window);
    other->move(0, 40);
    window.show();
    QApplication::setActiveWindow(&window);
    edit->setFocus();
    edit->setHotkey(2, 0x41);
    QSignalSpy changed(edit, &HotkeyEdit::hotkeyChanged);
    QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
    QApplication::sendEvent(edit, &tab);
    EXPECT_EQ(edit->text(), QStringLiteral("Ctrl+A"));
    EXPECT_EQ(changed.count(), 0);
    EXPECT_EQ(QApplication::focusWidget(), other);
}

TEST_F(HotkeyEditTest, HeldMouseButtonIsNoKey)
{
    // A mouse button held while pressing a combination must not become its key ("#01").
    m_edit.show();
    QMouseEvent down(QEvent::MouseButtonPress, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&m_edit, &down);
    press(Qt::Key_Control);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+"));
    press(Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+A"));
    QMouseEvent up(QEvent::MouseButtonRelease, QPointF(3, 3), QPointF(3, 3), Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(&m_edit, &up);
}

TEST_F(HotkeyEditTest, AutoRepeatReleaseKeepsModifiers)
{
    press(Qt::Key_Control);
    release(Qt::Key_Control, Qt::ControlModifier, true); // the repeat's release, not the user's
    EXPECT_EQ(m_edit.text(), QStringLiteral("Ctrl+"));
}

} // namespace
