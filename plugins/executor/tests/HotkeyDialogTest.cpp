// The "Hotkey" dialog and its capture field, driven with synthetic key events on the offscreen
// platform, and the plug-in's ShowProperties around it.
#include "FacePreview.h"
#include "HotkeyCaptureEdit.h"
#include "HotkeyDialog.h"
#include "HotkeyPlugin.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using executor::HotkeyCaptureEdit;
using executor::HotkeyDialog;
using pixkey::CHotkey;

namespace {

const CHotkey kCtrlC(CHotkey::Ctrl, 0x43);

class ExecutorDialogTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { executor_test::ensureApplication(true); }

    void SetUp() override
    {
        m_dialog.show();
        m_dialog.activateWindow();
        m_dialog.hotkeyEdit()->setFocus();
        QApplication::processEvents();
    }

    HotkeyCaptureEdit *field() { return m_dialog.hotkeyEdit(); }
    QString shown() { return field()->text(); }

    HotkeyDialog m_dialog;
};

TEST_F(ExecutorDialogTest, OkIsDisabledWhileNoShortcutIsSet)
{
    m_dialog.setValues(QString(), QStringLiteral("Ctrl+C"), CHotkey());
    EXPECT_EQ(shown(), QString());
    EXPECT_FALSE(m_dialog.okButton()->isEnabled());

    // A modifier held alone shows, and is dropped when released.
    QTest::keyPress(field(), Qt::Key_Control);
    EXPECT_EQ(shown(), QStringLiteral("Ctrl+"));
    EXPECT_TRUE(m_dialog.okButton()->isEnabled());
    QTest::keyRelease(field(), Qt::Key_Control);
    EXPECT_EQ(shown(), QString());
    EXPECT_FALSE(m_dialog.okButton()->isEnabled());

    // A combination with a key stays after the keys are released.
    QTest::keyClick(field(), Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(shown(), QStringLiteral("Ctrl+F5"));
    EXPECT_EQ(field()->hotkey(), CHotkey(CHotkey::Ctrl, 0x74));
    EXPECT_TRUE(m_dialog.okButton()->isEnabled());

    // Leaving the field with only modifiers clears it.
    QTest::keyPress(field(), Qt::Key_Shift);
    EXPECT_EQ(shown(), QStringLiteral("Shift+"));
    m_dialog.textEdit()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(shown(), QString());
    EXPECT_FALSE(m_dialog.okButton()->isEnabled());
}

TEST_F(ExecutorDialogTest, TextFollowsTheShortcutUntilTheUserEditsIt)
{
    m_dialog.setValues(QString(), QStringLiteral("Ctrl+C"), kCtrlC);
    EXPECT_EQ(m_dialog.textEdit()->text(), QStringLiteral("Ctrl+C"));

    QTest::keyClick(field(), Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(shown(), QStringLiteral("Ctrl+Shift+V"));
    EXPECT_EQ(m_dialog.textEdit()->text(), QStringLiteral("Ctrl+Shift+V"));

    // Through every intermediate step: a modifier press alone moves the text along too.
    QTest::keyPress(field(), Qt::Key_Alt);
    EXPECT_EQ(m_dialog.textEdit()->text(), QStringLiteral("Alt+"));
    QTest::keyClick(field(), Qt::Key_X, Qt::AltModifier);
    QTest::keyRelease(field(), Qt::Key_Alt);
    EXPECT_EQ(m_dialog.textEdit()->text(), QStringLiteral("Alt+X"));

    // The user writes a text of their own: from now on the shortcut leaves it alone.
    m_dialog.textEdit()->setText(QStringLiteral("Cut"));
    QTest::keyClick(field(), Qt::Key_X, Qt::ControlModifier);
    EXPECT_EQ(shown(), QStringLiteral("Ctrl+X"));
    EXPECT_EQ(m_dialog.textEdit()->text(), QStringLiteral("Cut"));
    EXPECT_EQ(m_dialog.text(), QStringLiteral("Cut"));
    EXPECT_EQ(m_dialog.hotkey(), CHotkey(CHotkey::Ctrl, 0x58));
}

TEST_F(ExecutorDialogTest, TabEnterAndEscapeBecomePartOfTheShortcut)
{
    m_dialog.setValues(QString(), QString(), kCtrlC);
    QTest::keyClick(field(), Qt::Key_Tab);
    EXPECT_EQ(shown(), QStringLiteral("Tab"));
    EXPECT_TRUE(field()->hasFocus());

    QTest::keyClick(field(), Qt::Key_Backtab, Qt::ShiftModifier);
    EXPECT_EQ(shown(), QStringLiteral("Shift+Tab"));
    EXPECT_TRUE(field()->hasFocus());

    QTest::keyClick(field(), Qt::Key_Escape);
    EXPECT_EQ(shown(), QStringLiteral("Esc"));
    QTest::keyClick(field(), Qt::Key_Return, Qt::ControlModifier);
    EXPECT_EQ(shown(), QStringLiteral("Ctrl+Enter"));
    EXPECT_TRUE(m_dialog.isVisible()) << "neither Escape nor Enter closed the dialog";

    // Characters never land in the field as typed text.
    QTest::keyClicks(field(), QStringLiteral("ab"));
    EXPECT_EQ(shown(), QStringLiteral("B"));
}

TEST_F(ExecutorDialogTest, PreviewShowsTheFaceOfTheFields)
{
    QTemporaryDir dir;
    const std::string red = executor_test::writePng(dir.path(), "red.png", 5, 5, Qt::red);
    m_dialog.setFileChooser([&](QWidget *, const QString &) { return QString::fromStdString(red); });
    m_dialog.setValues(QString(), QString(), kCtrlC);

    // No text and no picture: the default picture.
    const QImage defaultFace = m_dialog.preview()->face().copy();
    m_dialog.textEdit()->setText(QStringLiteral("Paste"));
    EXPECT_NE(m_dialog.preview()->face(), defaultFace);
    EXPECT_EQ(m_dialog.preview()->face().pixelColor(48, 5), QColor(Qt::black));

    // "Browse..." puts the chosen file into the path field and the picture into the preview.
    QTest::mouseClick(m_dialog.browseButton(), Qt::LeftButton);
    EXPECT_EQ(m_dialog.imagePath().toStdString(), red);
    EXPECT_EQ(m_dialog.preview()->face().pixelColor(48, 5), QColor(Qt::red));

    // A cancelled file dialog changes nothing.
    m_dialog.setFileChooser([](QWidget *, const QString &) { return QString(); });
    QTest::mouseClick(m_dialog.browseButton(), Qt::LeftButton);
    EXPECT_EQ(m_dialog.imagePath().toStdString(), red);

    // A typed path takes effect when the field is left.
    m_dialog.imagePathEdit()->setFocus();
    m_dialog.imagePathEdit()->setText(QStringLiteral("/nonexistent.png"));
    m_dialog.textEdit()->setText(QString());
    m_dialog.hotkeyEdit()->setFocus();
    QApplication::processEvents();
    EXPECT_EQ(m_dialog.preview()->face(), defaultFace);
}

// Runs `answer` on the dialog once it is open, from inside its event loop.
void answerDialog(std::function<void(HotkeyDialog &)> answer)
{
    QTimer::singleShot(0, [answer] {
        auto *dialog = qobject_cast<HotkeyDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        answer(*dialog);
    });
}

TEST(ExecutorPluginDialog, OkStoresTheDialogsValuesCancelKeepsThem)
{
    executor_test::ensureApplication(true);
    executor::HotkeyPlugin plugin;
    executor_test::Face face;
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    ASSERT_EQ(plugin.Paint(*face.surface()), 1);

    answerDialog([](HotkeyDialog &dialog) {
        EXPECT_EQ(dialog.text(), QStringLiteral("Ctrl+C"));
        EXPECT_EQ(dialog.hotkey(), kCtrlC);
        dialog.textEdit()->setText(QStringLiteral("Never"));
        dialog.reject();
    });
    EXPECT_EQ(plugin.ShowProperties(nullptr), 0);
    EXPECT_EQ(plugin.Paint(*face.surface()), 0);

    answerDialog([](HotkeyDialog &dialog) {
        QTest::keyClick(dialog.hotkeyEdit(), Qt::Key_F2, Qt::AltModifier);
        dialog.imagePathEdit()->setText(QStringLiteral("/some/picture.png"));
        dialog.okButton()->click();
    });
    EXPECT_EQ(plugin.ShowProperties(nullptr), 1);

    char name[PKX_PROPERTY_TEXT_SIZE] = {};
    char value[PKX_PROPERTY_TEXT_SIZE] = {};
    ASSERT_EQ(plugin.GetProperty(257, name, value), 1);
    EXPECT_STREQ(value, "Alt+F2");
    ASSERT_EQ(plugin.GetProperty(256, name, value), 1);
    EXPECT_STREQ(value, "/some/picture.png");
    CHotkey stored;
    ASSERT_EQ(plugin.GetProperty(258, name, value), 1);
    ASSERT_TRUE(stored.Parse(value));
    EXPECT_EQ(stored, CHotkey(CHotkey::Alt, 0x71));
    EXPECT_EQ(plugin.Paint(*face.surface()), 1) << "OK marks the face for drawing";
}

} // namespace
