// CHotkey against a real X server: a private Xvfb started here, a window that records key events.
#include <pixkey/utility/CHotkey.h>

// GoogleTest first: Xlib defines macros (None, Bool, Status) that clash with its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char **environ;

using pixkey::CHotkey;
using namespace std::chrono_literals;

namespace {

std::string findProgram(const char *name)
{
    const char *path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= dirs.size()) {
        const std::size_t end = dirs.find(':', start);
        const std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (::access(candidate.c_str(), X_OK) == 0)
            return candidate;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return std::string();
}

// One Xvfb for the whole test program, on a display number of its own choice, killed at the end.
// -noreset: the server would otherwise reset (and refuse connections) whenever its last client left.
class XvfbEnvironment : public ::testing::Environment {
public:
    static inline std::string display;
    static inline std::string skipReason;

    void SetUp() override
    {
        const std::string program = findProgram("Xvfb");
        if (program.empty()) {
            skipReason = "Xvfb is not installed (apt-get install xvfb)";
            return;
        }
        // -displayfd: the server picks a free display number itself and writes it to the pipe, so
        // tests running in parallel never fight over a number.
        int pipeFds[2];
        if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
            skipReason = "no pipe for Xvfb";
            return;
        }
        std::vector<std::string> args = {program, "-displayfd", "3", "-nolisten", "tcp", "-noreset",
                                         "-screen", "0", "320x240x24"};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 3);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const int spawned = posix_spawn(&m_pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(pipeFds[1]);
        if (spawned != 0) {
            m_pid = 0;
            ::close(pipeFds[0]);
            skipReason = "Xvfb could not be started";
            return;
        }
        // Up to 10 s for the display number (written once the server accepts connections).
        std::string number;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (number.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
            pollfd fd{pipeFds[0], POLLIN, 0};
            if (::poll(&fd, 1, 100) <= 0)
                continue;
            char buffer[16];
            const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
            if (n <= 0)
                break; // the server ended
            number.append(buffer, std::size_t(n));
        }
        ::close(pipeFds[0]);
        while (!number.empty() && (number.back() == '\n' || number.back() == ' '))
            number.pop_back();
        if (number.empty()) {
            skipReason = "Xvfb did not report a display within 10 s";
            return;
        }
        display = ":" + number;
        ::setenv("DISPLAY", display.c_str(), 1);
    }

    void TearDown() override
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGTERM);
            ::waitpid(m_pid, nullptr, 0);
        }
    }

private:
    pid_t m_pid = 0;
};

// A focused window recording key events, on its own connection.
class KeyWindow {
public:
    KeyWindow()
    {
        m_display = XOpenDisplay(XvfbEnvironment::display.c_str());
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
        if (!XvfbEnvironment::skipReason.empty())
            GTEST_SKIP() << XvfbEnvironment::skipReason;
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
    ::testing::AddGlobalTestEnvironment(new XvfbEnvironment);
    return RUN_ALL_TESTS();
}
