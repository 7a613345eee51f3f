// Pressing a Hotkey key sends its shortcut to the desktop: a real X server (a private Xvfb of the
// test's own) and a window that records the key events it receives.
#include "HotkeyPlugin.h"

#include <pixkey/test/XServer.h>

#include <gtest/gtest.h>

// After gtest: Xlib's macros (None, Bool) would break its headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

struct KeyRecord {
    bool press;
    KeySym sym;
    unsigned state;
};

// A focused window that records key presses and releases.
class RecordingWindow {
public:
    explicit RecordingWindow(const std::string &display) : m_display(XOpenDisplay(display.c_str()))
    {
        if (!m_display)
            return;
        m_window = XCreateSimpleWindow(m_display, DefaultRootWindow(m_display), 0, 0, 200, 200, 0, 0, 0);
        XSelectInput(m_display, m_window, KeyPressMask | KeyReleaseMask | ExposureMask);
        XMapRaised(m_display, m_window);
        // Wait for the window to be viewable before focusing it.
        XEvent event;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < deadline) {
            if (XCheckTypedWindowEvent(m_display, m_window, Expose, &event))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        XSetInputFocus(m_display, m_window, RevertToParent, CurrentTime);
        XSync(m_display, False);
    }
    ~RecordingWindow()
    {
        if (m_display)
            XCloseDisplay(m_display);
    }
    bool ok() const { return m_display != nullptr; }

    // Collects key events until `count` have arrived or 10 seconds have passed.
    std::vector<KeyRecord> collect(std::size_t count)
    {
        std::vector<KeyRecord> records;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (records.size() < count && std::chrono::steady_clock::now() < deadline) {
            XEvent event;
            if (!XCheckWindowEvent(m_display, m_window, KeyPressMask | KeyReleaseMask, &event)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            const KeySym sym = XkbKeycodeToKeysym(m_display, static_cast<KeyCode>(event.xkey.keycode), 0, 0);
            records.push_back({event.type == KeyPress, sym, event.xkey.state});
        }
        return records;
    }

private:
    Display *m_display;
    Window m_window = 0;
};

TEST(ExecutorInvokeX11, PressingTheKeySendsTheShortcutToTheFocusedWindow)
{
    pixkey::test::XServer server;
    if (!server.running())
        GTEST_SKIP() << server.skipReason() << ": the X11 test of sending shortcuts is skipped";
    ASSERT_FALSE(server.display().empty()) << "Xvfb did not start";
    RecordingWindow window(server.display());
    ASSERT_TRUE(window.ok());
    setenv("DISPLAY", server.display().c_str(), 1);

    executor::HotkeyPlugin plugin;
    ASSERT_EQ(plugin.SetProperty("Hotkey", "Ctrl+Shift+F5"), 1);
    plugin.OnKeyDown();

    const std::vector<KeyRecord> keys = window.collect(6);
    ASSERT_EQ(keys.size(), 6u);
    // Modifiers down, the key down and up, modifiers up in reverse order.
    EXPECT_TRUE(keys[0].press);
    EXPECT_TRUE(keys[1].press);
    EXPECT_EQ((keys[0].sym == XK_Control_L || keys[0].sym == XK_Control_R) + (keys[1].sym == XK_Shift_L || keys[1].sym == XK_Shift_R), 2)
        << "Ctrl, then Shift";
    EXPECT_TRUE(keys[2].press);
    EXPECT_EQ(keys[2].sym, static_cast<KeySym>(XK_F5));
    EXPECT_EQ(keys[2].state & (ControlMask | ShiftMask), static_cast<unsigned>(ControlMask | ShiftMask));
    EXPECT_FALSE(keys[3].press);
    EXPECT_EQ(keys[3].sym, static_cast<KeySym>(XK_F5));
    EXPECT_FALSE(keys[4].press);
    EXPECT_FALSE(keys[5].press);
    EXPECT_EQ(keys[4].sym, keys[1].sym);
    EXPECT_EQ(keys[5].sym, keys[0].sym);

    // The default shortcut, Ctrl+C, arrives as well.
    executor::HotkeyPlugin fresh;
    fresh.OnKeyDown();
    const std::vector<KeyRecord> copy = window.collect(4);
    ASSERT_EQ(copy.size(), 4u);
    EXPECT_EQ(copy[1].sym, static_cast<KeySym>(XK_c));
    EXPECT_TRUE(copy[1].state & ControlMask);
    unsetenv("DISPLAY");
}

} // namespace
