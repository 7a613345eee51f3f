// Pressing a Hotkey key sends its shortcut to the desktop: a real X server (Xvfb, started and
// stopped here) and a window that records the key events it receives.
#include "HotkeyPlugin.h"

#include <gtest/gtest.h>

// After gtest: Xlib's macros (None, Bool) would break its headers.
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

bool xvfbInstalled()
{
    return access("/usr/bin/Xvfb", X_OK) == 0;
}

// Xvfb on a display number it picks itself (-displayfd), no TCP listener; killed on destruction.
class Xvfb {
public:
    Xvfb()
    {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return;
        m_pid = fork();
        if (m_pid == 0) {
            dup2(fds[1], 3);
            const int devnull = open("/dev/null", O_WRONLY);
            dup2(devnull, 1);
            dup2(devnull, 2);
            execl("/usr/bin/Xvfb", "Xvfb", "-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "640x480x24",
                  static_cast<char *>(nullptr));
            _exit(127);
        }
        close(fds[1]);
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (m_pid > 0 && number.find('\n') == std::string::npos) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd fd{fds[0], POLLIN, 0};
            if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0)
                break;
            char c;
            if (read(fds[0], &c, 1) != 1)
                break;
            number += c;
        }
        close(fds[0]);
        if (number.find('\n') != std::string::npos)
            m_display = ":" + number.substr(0, number.find('\n'));
    }
    ~Xvfb()
    {
        if (m_pid > 0) {
            kill(m_pid, SIGTERM);
            waitpid(m_pid, nullptr, 0);
        }
    }
    const std::string &display() const { return m_display; }

private:
    pid_t m_pid = -1;
    std::string m_display;
};

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
    if (!xvfbInstalled())
        GTEST_SKIP() << "Xvfb is not installed (/usr/bin/Xvfb): the X11 test of sending shortcuts is skipped";
    Xvfb server;
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
