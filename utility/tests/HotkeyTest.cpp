// Hotkey values: stored form, readable form, parsing and the Qt key mapping.
#include <pixkey/utility/CHotkey.h>

#include <Qt>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using pixkey::CHotkey;

namespace {

TEST(Hotkey, DisplayStrings)
{
    const struct {
        std::uint16_t modifiers, key;
        const char *text;
    } cases[] = {
        {2, 0x41, "Ctrl+A"},
        {9, 0x70, "Win+Alt+F1"},
        {2, 0x03, "Ctrl+#03"},
        {8, 0x21, "Win+PgUp"},
        {0, 0, ""},
        {2, 0, "Ctrl+"},
        {15, 0x60, "Win+Ctrl+Alt+Shift+Num 0"},
        {4, 0x87, "Shift+F24"},
        {1, 0x0D, "Alt+Enter"},
        {2, 0x2C, "Ctrl+PrnSrn"},
        {0, 0x39, "9"},
        {2, 0xBA, "Ctrl+;"},
        {2, 0xFB, "Ctrl+Zoom"},
        {2, 0x22, "Ctrl+PgDown"}, // the cursor block keeps its names without Win
        {6, 0xFF, "Ctrl+Shift+"}, // a code without name or character adds nothing
        {0, 0x1F, "#31"},
    };
    for (const auto &c : cases) {
        CHotkey hotkey(c.modifiers, c.key);
        EXPECT_STREQ(hotkey.DisplayString(), c.text) << c.modifiers << "/" << c.key;
    }
}

TEST(Hotkey, StoredFormRoundTripsEveryValue)
{
    CHotkey hotkey(2, 0x43);
    EXPECT_STREQ(hotkey.ToString(), "2,67");
    for (std::uint16_t modifiers = 0; modifiers < 16; ++modifiers) {
        for (std::uint16_t key = 0; key < 255; ++key) {
            CHotkey original(modifiers, key);
            const std::string stored = original.ToString();
            CHotkey parsed(5, 5);
            ASSERT_TRUE(parsed.Parse(stored.c_str())) << stored;
            ASSERT_EQ(parsed, original) << stored;
        }
    }
}

TEST(Hotkey, ReadableFormParsesBack)
{
    int checked = 0;
    for (std::uint16_t modifiers = 0; modifiers < 16; ++modifiers) {
        for (std::uint16_t key = 1; key < 255; ++key) {
            CHotkey original(modifiers, key);
            const std::string text = original.DisplayString();
            if (text.empty() || text.back() == '+')
                continue; // codes without a name or character have no readable key
            CHotkey parsed;
            ASSERT_TRUE(parsed.Parse(text.c_str())) << text;
            // 0x2A and 0x2C both read as keys of their own names; the cursor block names are unique.
            ASSERT_EQ(parsed, original) << text;
            ++checked;
        }
    }
    EXPECT_GT(checked, 16 * 100);

    CHotkey hotkey;
    ASSERT_TRUE(hotkey.Parse("ctrl+shift+f5"));
    EXPECT_EQ(hotkey, CHotkey(CHotkey::Ctrl | CHotkey::Shift, 0x74));
    ASSERT_TRUE(hotkey.Parse("Ctrl++"));
    EXPECT_EQ(hotkey, CHotkey(CHotkey::Ctrl, 0xBB));
    ASSERT_TRUE(hotkey.Parse("Ctrl+Num +"));
    EXPECT_EQ(hotkey, CHotkey(CHotkey::Ctrl, 0x6B));
    ASSERT_TRUE(hotkey.Parse("Ctrl+"));
    EXPECT_EQ(hotkey, CHotkey(CHotkey::Ctrl, 0));
    ASSERT_TRUE(hotkey.Parse("  2,67 "));
    EXPECT_EQ(hotkey, CHotkey(2, 0x43));
    ASSERT_TRUE(hotkey.Parse(""));
    EXPECT_TRUE(hotkey.isEmpty());
}

TEST(Hotkey, GarbageDoesNotParseAndLeavesTheValue)
{
    for (const char *text : {"abc", "2,300", "16,65", "-1,65", "2;65", "2,", ",65", "2,65,1", "999999,1", "Ctrl+Foo",
                             "Ctrl+#99", "Ctrl+#00", "Hyper+A", "Ctrl+Ctrl+A", "++", "\xff\xfe"}) {
        CHotkey hotkey(2, 0x43);
        EXPECT_FALSE(hotkey.Parse(text)) << text;
        EXPECT_EQ(hotkey, CHotkey(2, 0x43)) << text;
    }
    CHotkey hotkey(2, 0x43);
    EXPECT_FALSE(hotkey.Parse(nullptr));
    EXPECT_EQ(hotkey, CHotkey(2, 0x43));
}

TEST(Hotkey, CopiesCarryThePair)
{
    CHotkey a(CHotkey::Win | CHotkey::Alt, 0x70);
    CHotkey b = a;
    EXPECT_EQ(b.modifiers, 9);
    EXPECT_EQ(b.key, 0x70);
    EXPECT_STREQ(b.DisplayString(), "Win+Alt+F1");
}

TEST(Hotkey, QtKeysMapOntoVirtualKeys)
{
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_C), 0x43);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_7), 0x37);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_7, true), 0x67);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Plus, true), 0x6B);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_F5), 0x74);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_F24), 0x87);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_PageUp), 0x21);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Escape), 0x1B);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Enter, true), 0x0D);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Semicolon), 0xBA);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Control), 0);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_Shift), 0);
    EXPECT_EQ(CHotkey::VirtualKeyFromQtKey(Qt::Key_unknown), 0);
    EXPECT_EQ(CHotkey::ModifiersFromQt(Qt::ControlModifier | Qt::ShiftModifier), CHotkey::Ctrl | CHotkey::Shift);
    EXPECT_EQ(CHotkey::ModifiersFromQt(Qt::MetaModifier | Qt::AltModifier | Qt::KeypadModifier),
              CHotkey::Win | CHotkey::Alt);
}

TEST(Hotkey, WithoutADisplayNothingIsSentOrRead)
{
    const char *saved = std::getenv("DISPLAY");
    const std::string previous = saved ? saved : "";
    ::unsetenv("DISPLAY");
    CHotkey hotkey(2, 0x43);
    EXPECT_FALSE(hotkey.Invoke());
    EXPECT_FALSE(hotkey.InitByKeyboardState());
    EXPECT_EQ(hotkey, CHotkey(2, 0x43));
    EXPECT_FALSE(CHotkey().Invoke());
    if (saved)
        ::setenv("DISPLAY", previous.c_str(), 1);
}

} // namespace
