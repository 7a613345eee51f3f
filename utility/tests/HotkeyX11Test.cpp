// CHotkey against a real X server: a private Xvfb, a window that records key events.
#include <pixkey/test/XServer.h>
#include <pixkey/utility/CHotkey.h>

// GoogleTest first: Xlib defines macros (None, Bool, Status) that clash with its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <poll.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

using pixkey::CHotkey;
using pixkey::test::XServerEnvironment;
using namespace std::chrono_literals;

namespace {

// A focused window recording key events, on its own connection.
class KeyWindow {
public:
    KeyWindow()
    {
        m_display = XOpenDisplay(XServerEnvironment::display().c_str());
        if (!m_display)
            return;
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 100, 100, 0, 0, 0);
        XSelectInput(m_display, m_window, KeyPressMask | KeyReleaseMask | StructureNotifyMask);
        XMapRaised(m_display, m_window);
        waitFor(MapNotify);
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    ~KeyWindow()
    {
        if (m_display) {
            XDestroyWindow(m_display, m_window);
            XCloseDisplay(m_display);
        }
    }

    bool ok() const { return m_display != nullptr; }
    Display *display() const { return m_display; }

    // Key events as "+Control_L", "-c", ... until `count` arrived or 5 s passed.
    std::vector<std::string> keys(std::size_t count)
    {
        std::vector<std::string> result;
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (result.size() < count && std::chrono::steady_clock::now() < deadline) {
            if (!XPending(m_display)) {
                pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
                ::poll(&fd, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type != KeyPress && event.type != KeyRelease)
                continue;
            const KeySym keysym = XLookupKeysym(&event.xkey, 0);
            const char *name = XKeysymToString(keysym);
            result.push_back(std::string(event.type == KeyPress ? "+" : "-") + (name ? name : "?"));
        }
        return result;
    }

private:
    void waitFor(int type)
    {
        const auto deadline = std::chrono::steady_clock::now() + 5s;
        while (std::chrono::steady_clock::now() < deadline) {
            if (!XPending(m_display)) {
                pollfd fd{ConnectionNumber(m_display), POLLIN, 0};
                ::poll(&fd, 1, 50);
                continue;
            }
            XEvent event;
            XNextEvent(m_display, &event);
            if (event.type == type)
                return;
        }
    }

    Display *m_display = nullptr;
    Window m_window = 0;
};

class HotkeyX11 : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XServerEnvironment::running())
            GTEST_SKIP() << XServerEnvironment::skipReason();
        ASSERT_TRUE(window.ok());
    }
    KeyWindow window;
};

TEST_F(HotkeyX11, InvokeSendsModifiersKeyAndReleasesInReverse)
{
    CHotkey ctrlC(CHotkey::Ctrl, 0x43);
    ASSERT_TRUE(ctrlC.Invoke());
    EXPECT_EQ(window.keys(4), (std::vector<std::string>{"+Control_L", "+c", "-c", "-Control_L"}));

    CHotkey all(CHotkey::Win | CHotkey::Ctrl | CHotkey::Alt | CHotkey::Shift, 0x70);
    ASSERT_TRUE(all.Invoke());
    EXPECT_EQ(window.keys(10), (std::vector<std::string>{"+Super_L", "+Control_L", "+Alt_L", "+Shift_L", "+F1", "-F1",
                                                         "-Shift_L", "-Alt_L", "-Control_L", "-Super_L"}));

    CHotkey numpad(0, 0x65);
    ASSERT_TRUE(numpad.Invoke());
    const auto keys = window.keys(2);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys[0] == "+KP_5" || keys[0] == "+KP_Begin") << keys[0];
}

TEST_F(HotkeyX11, KeysWithoutAKeyOnTheMapFailWithoutSendingAnything)
{
    EXPECT_FALSE(CHotkey(CHotkey::Ctrl, 0xFB).Invoke()); // "Zoom": no keysym
    EXPECT_FALSE(CHotkey(CHotkey::Ctrl, 0xE5).Invoke());
    EXPECT_FALSE(CHotkey().Invoke());
    const auto keys = window.keys(1);
    EXPECT_TRUE(keys.empty()) << keys.front(); // Ctrl was not left pressed nor sent alone
}

TEST_F(HotkeyX11, InitByKeyboardStateReadsTheKeysHeldNow)
{
    Display *d = window.display();
    const KeyCode shift = XKeysymToKeycode(d, XK_Shift_R);
    const KeyCode f5 = XKeysymToKeycode(d, XK_F5);
    const KeyCode q = XKeysymToKeycode(d, XK_q);
    XTestFakeKeyEvent(d, shift, True, CurrentTime);
    XTestFakeKeyEvent(d, q, True, CurrentTime);
    XTestFakeKeyEvent(d, f5, True, CurrentTime);
    XSync(d, False);

    CHotkey hotkey;
    const bool read = hotkey.InitByKeyboardState();

    XTestFakeKeyEvent(d, f5, False, CurrentTime);
    XTestFakeKeyEvent(d, q, False, CurrentTime);
    XTestFakeKeyEvent(d, shift, False, CurrentTime);
    XSync(d, False);

    ASSERT_TRUE(read);
    EXPECT_EQ(hotkey.modifiers, CHotkey::Shift);
    EXPECT_EQ(hotkey.key, 0x51); // Q (0x51) is below F5 (0x74): the lowest code wins
    EXPECT_STREQ((hotkey.DisplayString)(), "Shift+Q"); // parenthesised: Xlib has a DisplayString macro

    ASSERT_TRUE(hotkey.InitByKeyboardState()); // nothing held any more
    EXPECT_TRUE(hotkey.isEmpty());
}

TEST_F(HotkeyX11, ShortcutsFromSeveralThreadsAllArrive)
{
    std::vector<std::thread> threads;
    for (int t = 0; t < 3; ++t)
        threads.emplace_back([] { CHotkey(0, 0x41).Invoke(); });
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(window.keys(6).size(), 6u);
}

} // namespace

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    // One Xvfb for the whole program; DISPLAY points at it.
    ::testing::AddGlobalTestEnvironment(new pixkey::test::XServerEnvironment({.screen = "320x240x24"}));
    return RUN_ALL_TESTS();
}
