// The desktop side against a real X server (Xvfb + openbox, started by the test program): active
// window changes of two processes, the switch hotkey typed through XTest, modifier rows and the
// idle time.
#include <pixkey/pxkhk/DesktopHook.h>
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/XServer.h>

#include "RecordingSink.h"
#include "TestWindowProcess.h"

// GoogleTest first: Xlib defines macros (None, Bool, Status) that clash with its templates.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <thread>

#include <unistd.h>

using namespace std::chrono_literals;
using namespace pixkey;
using pixkey::test::testWindow;
using pixkey::test::RecordingSink;
using pixkey::test::ServiceProcess;
using pixkey::test::XServer;
using pixkey::test::XServerEnvironment;

namespace {

const auto *const serverEnvironment = ::testing::AddGlobalTestEnvironment(new XServerEnvironment({.windowManager = true}));

unsigned long activeWindow(Display *display)
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    unsigned long window = 0;
    if (XGetWindowProperty(display, DefaultRootWindow(display), XInternAtom(display, "_NET_ACTIVE_WINDOW", False), 0, 1,
                           False, AnyPropertyType, &type, &format, &count, &remaining, &data) == Success
        && data && count == 1)
        window = *reinterpret_cast<unsigned long *>(data);
    if (data)
        XFree(data);
    return window;
}

std::string describe(const std::vector<std::pair<unsigned long, int>> &events)
{
    std::string text;
    char item[48];
    for (const auto &[window, active] : events) {
        std::snprintf(item, sizeof item, " (0x%lx, %d)", window, active);
        text += item;
    }
    return text.empty() ? " none" : text;
}

bool contains(const std::vector<std::pair<unsigned long, int>> &events, std::vector<std::pair<unsigned long, int>> wanted)
{
    // `wanted` in this order, possibly with other events between.
    auto it = events.begin();
    for (const auto &w : wanted) {
        it = std::find(it, events.end(), w);
        if (it == events.end())
            return false;
        ++it;
    }
    return true;
}


class PxkhkDesktop : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!XServerEnvironment::running())
            GTEST_SKIP() << XServerEnvironment::skipReason();
        char pattern[] = "/tmp/pxkhk-x11-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_base = pattern;
        DesktopHook::Options options;
        options.runtimeFolder = m_base + "/pixkey";
        options.displayName = XServerEnvironment::display();
        hook = std::make_unique<DesktopHook>(options);
        ASSERT_TRUE(hook->desktopAvailable());
        hook->Hook(&sink);
        input = XOpenDisplay(XServerEnvironment::display().c_str());
        ASSERT_NE(input, nullptr);
    }
    void TearDown() override
    {
        hook.reset();
        if (input)
            XCloseDisplay(input);
        if (!m_base.empty())
            std::filesystem::remove_all(m_base);
    }

    // Presses (down) or releases a key through XTest and waits until the server has it.
    void key(KeySym keysym, bool down)
    {
        const KeyCode code = XKeysymToKeycode(input, keysym);
        ASSERT_NE(code, 0) << XKeysymToString(keysym);
        XTestFakeKeyEvent(input, code, down ? True : False, CurrentTime);
        XSync(input, False);
    }
    void tap(KeySym keysym)
    {
        key(keysym, true);
        key(keysym, false);
    }

    // Asks the window manager to activate `window`, the way a task bar does, until the reported
    // changes contain `wanted` (a window manager that is still starting up or placing the window
    // may drop a request); at most 10 s.
    RecordingSink::Record activate(unsigned long window, const std::vector<std::pair<unsigned long, int>> &wanted)
    {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        for (;;) {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(input, "_NET_ACTIVE_WINDOW", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(input, DefaultRootWindow(input), False, SubstructureRedirectMask | SubstructureNotifyMask,
                       &event);
            XSync(input, False);
            auto r = sink.waitUntil([&](const auto &r) { return contains(r.foreground, wanted); }, 200ms);
            if (contains(r.foreground, wanted) || std::chrono::steady_clock::now() >= deadline)
                return r;
        }
    }

    std::unique_ptr<DesktopHook> hook;
    RecordingSink sink;
    Display *input = nullptr;

private:
    std::string m_base;
};

} // namespace

TEST_F(PxkhkDesktop, ForegroundChangesOfTwoProcessesWithTheirExecutables)
{
    ServiceProcess first(testWindow("a", "first")), second(testWindow("b", "second"));
    ASSERT_TRUE(first.start());
    const unsigned long a = std::stoul(first.readLine().value_or(""), nullptr, 16);
    ASSERT_NE(a, 0u);
    auto r = activate(a, {{a, 1}});
    ASSERT_TRUE(contains(r.foreground, {{a, 1}})) << "seen:" << describe(r.foreground) << ", active now "
                                                  << activeWindow(input);

    ASSERT_TRUE(second.start());
    const unsigned long b = std::stoul(second.readLine().value_or(""), nullptr, 16);
    r = activate(b, {{a, 1}, {a, 0}, {b, 1}});
    ASSERT_TRUE(contains(r.foreground, {{a, 1}, {a, 0}, {b, 1}})) << "seen:" << describe(r.foreground);

    EXPECT_EQ(hook->processIdOfWindow(a), first.pid());
    EXPECT_EQ(hook->processIdOfWindow(b), second.pid());
    EXPECT_EQ(hook->executableNameOfWindow(a), "pxkhk_test_window_a");
    EXPECT_EQ(hook->executableNameOfWindow(b), "pxkhk_test_window_b");
    EXPECT_EQ(hook->processIdOfWindow(DefaultRootWindow(input)), 0) << "the root window names no process";
    EXPECT_EQ(hook->applicationIdOfWindow(a), "first");
    EXPECT_EQ(hook->applicationIdOfWindow(b), "second");

    r = activate(a, {{b, 1}, {b, 0}, {a, 1}});
    EXPECT_TRUE(contains(r.foreground, {{b, 1}, {b, 0}, {a, 1}})) << "seen:" << describe(r.foreground);

    // A window whose process is gone: no process, no name, no crash.
    second.stop();
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (hook->processIdOfWindow(b) != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    EXPECT_EQ(hook->processIdOfWindow(b), 0);
    EXPECT_EQ(hook->executableNameOfWindow(b), "");
    EXPECT_EQ(hook->applicationIdOfWindow(b), "");
}

TEST_F(PxkhkDesktop, EveryCapabilityIsReportedWorkingOnAnXServerWithItsExtensions)
{
    const CapabilityReports reports = hook->capabilities();
    std::set<DesktopCapability> seen;
    for (const CapabilityReport &report : reports) {
        EXPECT_EQ(report.state, CapabilityState::Working) << capabilityName(report.capability) << ": " << report.how;
        EXPECT_FALSE(report.how.empty());
        seen.insert(report.capability);
    }
    EXPECT_EQ(seen, (std::set<DesktopCapability>{DesktopCapability::ActiveWindow, DesktopCapability::SwitchHotkey,
                                                  DesktopCapability::ModifierRows, DesktopCapability::IdleTime}));
}

TEST_F(PxkhkDesktop, SwitchHotkeyArrivesWhenTypedAndNotAfterUnregistering)
{
    const std::uint16_t ctrlAlt = DesktopHook::Ctrl | DesktopHook::Alt;
    ASSERT_TRUE(hook->RegisterHotkey(1, ctrlAlt, 'K'));
    // F9 without modifiers marks the end of what the server sent before it.
    ASSERT_TRUE(hook->RegisterHotkey(2, 0, 0x78));
    const std::uint32_t switchKey = std::uint32_t('K') * 65536 + ctrlAlt;
    const std::uint32_t marker = 0x78u * 65536;

    key(XK_Control_L, true);
    key(XK_Alt_L, true);
    tap(XK_k);
    key(XK_Alt_L, false);
    key(XK_Control_L, false);
    auto r = sink.waitUntil([](const auto &r) { return !r.hotkeys.empty() && r.rows.size() >= 4; });
    ASSERT_EQ(r.hotkeys.size(), 1u);
    EXPECT_EQ(r.hotkeys[0], std::make_pair(1, switchKey));
    // The grab taken while the hotkey is down does not hide the modifier keys: Ctrl, Ctrl+Alt
    // (row 0), Ctrl, none.
    EXPECT_EQ(r.rows, (std::vector<int>{1, 0, 1, 0}));

    // With NumLock and CapsLock on, the same keys still reach it.
    tap(XK_Num_Lock);
    tap(XK_Caps_Lock);
    key(XK_Control_L, true);
    key(XK_Alt_L, true);
    tap(XK_k);
    key(XK_Alt_L, false);
    key(XK_Control_L, false);
    tap(XK_Caps_Lock);
    tap(XK_Num_Lock);
    r = sink.waitUntil([](const auto &r) { return r.hotkeys.size() >= 2; });
    ASSERT_EQ(r.hotkeys.size(), 2u);
    EXPECT_EQ(r.hotkeys[1], std::make_pair(1, switchKey));

    // K alone, or with other modifiers, is not the hotkey.
    tap(XK_k);
    key(XK_Control_L, true);
    tap(XK_k);
    key(XK_Control_L, false);
    tap(XK_F9);
    r = sink.waitUntil([](const auto &r) { return r.hotkeys.size() >= 3; });
    ASSERT_EQ(r.hotkeys.size(), 3u);
    EXPECT_EQ(r.hotkeys[2], std::make_pair(2, marker));

    ASSERT_TRUE(hook->UnregisterHotkey(1));
    EXPECT_FALSE(hook->UnregisterHotkey(1)) << "already gone";
    key(XK_Control_L, true);
    key(XK_Alt_L, true);
    tap(XK_k);
    key(XK_Alt_L, false);
    key(XK_Control_L, false);
    tap(XK_F9);
    r = sink.waitUntil([](const auto &r) { return r.hotkeys.size() >= 4; });
    ASSERT_EQ(r.hotkeys.size(), 4u);
    EXPECT_EQ(r.hotkeys[3], std::make_pair(2, marker)) << "only the marker after unregistering";
}

TEST_F(PxkhkDesktop, HotkeyHeldByAnotherProgramIsRefusedAndLeavesNothingGrabbed)
{
    // Another client owns Ctrl+Shift+J (without lock variants).
    const KeyCode j = XKeysymToKeycode(input, XK_j);
    XGrabKey(input, j, ControlMask | ShiftMask, DefaultRootWindow(input), False, GrabModeAsync, GrabModeAsync);
    XSync(input, False);
    EXPECT_FALSE(hook->RegisterHotkey(1, DesktopHook::Ctrl | DesktopHook::Shift, 'J'));

    XUngrabKey(input, j, ControlMask | ShiftMask, DefaultRootWindow(input));
    XSync(input, False);
    EXPECT_TRUE(hook->RegisterHotkey(1, DesktopHook::Ctrl | DesktopHook::Shift, 'J'))
        << "the refused attempt left no variant of its own behind";

    EXPECT_FALSE(hook->RegisterHotkey(3, DesktopHook::Ctrl, 0x07)) << "a code without a key";
    EXPECT_FALSE(hook->RegisterHotkey(3, DesktopHook::Ctrl, 0)) << "no key at all";
}

TEST_F(PxkhkDesktop, ModifierRowsFollowTheHeldKeys)
{
    key(XK_Control_L, true);  // Ctrl 1
    key(XK_Control_L, false); // 0
    key(XK_Shift_L, true);    // Shift 2
    key(XK_Shift_L, false);   // 0
    key(XK_Alt_L, true);      // Alt 3
    key(XK_Shift_R, true);    // Alt+Shift 4
    key(XK_Alt_L, false);     // Shift 2
    key(XK_Shift_R, false);   // 0
    key(XK_Control_R, true);  // Ctrl 1
    key(XK_Shift_L, true);    // Ctrl+Shift 5
    key(XK_Shift_L, false);   // Ctrl 1
    key(XK_Alt_L, true);      // Ctrl+Alt: no row of its own, 0
    key(XK_Alt_L, false);     // Ctrl 1
    tap(XK_a);                // not a modifier: no change
    key(XK_Control_R, false); // 0
    const std::vector<int> expected = {1, 0, 2, 0, 3, 4, 2, 0, 1, 5, 1, 0, 1, 0};
    const auto r = sink.waitUntil([&](const auto &r) { return r.rows.size() >= expected.size(); });
    EXPECT_EQ(r.rows, expected);
}

TEST_F(PxkhkDesktop, ModifierRowsStayRightWhenModifiersAreReleasedDuringTheHotkeyGrab)
{
    // While the hotkey's key is down the keyboard is grabbed for this layer and the server withholds
    // raw events; releases in that time must still count.
    ASSERT_TRUE(hook->RegisterHotkey(1, DesktopHook::Ctrl | DesktopHook::Alt, 'K'));
    key(XK_Control_L, true); // 1
    key(XK_Alt_L, true);     // Ctrl+Alt 0
    key(XK_k, true);         // the grab starts
    key(XK_Control_L, false); // Alt 3
    key(XK_Alt_L, false);     // 0
    key(XK_k, false);         // the grab ends
    key(XK_Shift_L, true);    // 2
    key(XK_Shift_L, false);   // 0
    const std::vector<int> expected = {1, 0, 3, 0, 2, 0};
    const auto r = sink.waitUntil([&](const auto &r) { return r.rows.size() >= expected.size(); });
    EXPECT_EQ(r.rows, expected);
    EXPECT_EQ(r.hotkeys.size(), 1u);
}

TEST_F(PxkhkDesktop, AModifierReleasedUnderAnotherProgramsGrabIsNoticed)
{
    // A window manager's Alt+Tab, a game: another client grabs the keyboard and the server keeps
    // the raw release from this layer; the row must not stay on Ctrl.
    key(XK_Control_L, true);
    ASSERT_EQ(sink.waitUntil([](const auto &r) { return !r.rows.empty(); }).rows, std::vector<int>{1});
    ASSERT_EQ(XGrabKeyboard(input, DefaultRootWindow(input), False, GrabModeAsync, GrabModeAsync, CurrentTime),
              GrabSuccess);
    XSync(input, False);
    key(XK_Control_L, false);
    XUngrabKeyboard(input, CurrentTime);
    XSync(input, False);
    const auto r = sink.waitUntil([](const auto &r) { return r.rows.size() >= 2; });
    EXPECT_EQ(r.rows, (std::vector<int>{1, 0}));
}

TEST_F(PxkhkDesktop, IdleTimeGrowsWithoutInputAndDropsAfterIt)
{
    const auto start = hook->idleTime();
    ASSERT_TRUE(start.has_value());
    // Without input it grows past a second (bounded wait).
    std::optional<std::uint32_t> before = start;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (before && *before < std::max<std::uint32_t>(*start + 1, 1000) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(50ms);
        before = hook->idleTime();
    }
    ASSERT_TRUE(before.has_value());
    ASSERT_GE(*before, 1000u);

    tap(XK_Shift_L);
    const auto after = hook->idleTime();
    ASSERT_TRUE(after.has_value());
    EXPECT_LT(*after, *before);
}

TEST(PxkhkDisplayLost, AServerThatGoesAwaySwitchesTheDesktopSideOffAndNothingElse)
{
    XServer server;
    if (!server.running())
        GTEST_SKIP() << server.skipReason();
    const std::string display = server.display();
    char pattern[] = "/tmp/pxkhk-x11-XXXXXX";
    ASSERT_NE(::mkdtemp(pattern), nullptr);
    DesktopHook::Options options;
    options.runtimeFolder = std::string(pattern) + "/pixkey";
    options.displayName = display;
    {
        DesktopHook hook(options);
        RecordingSink sink;
        ASSERT_TRUE(hook.desktopAvailable());
        ASSERT_TRUE(hook.Hook(&sink));
        ASSERT_TRUE(hook.RegisterHotkey(1, DesktopHook::Ctrl, 'K'));
        ASSERT_TRUE(hook.idleTime().has_value());

        testing::internal::CaptureStderr();
        server.stop();
        // Xlib would end the process here; the hook notices and carries on without the display.
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (hook.desktopAvailable() && std::chrono::steady_clock::now() < deadline) {
            hook.idleTime();
            std::this_thread::sleep_for(20ms);
        }
        const std::string printed = testing::internal::GetCapturedStderr();
        EXPECT_FALSE(hook.desktopAvailable());
        EXPECT_NE(printed.find("lost"), std::string::npos) << printed;
        EXPECT_FALSE(hook.idleTime().has_value());
        EXPECT_FALSE(hook.RegisterHotkey(1, DesktopHook::Ctrl, 'K'));
        EXPECT_EQ(hook.processIdOfWindow(0x200001), 0);
        EXPECT_EQ(hook.GetConfiguratorsCount(), 1) << "peers still work";
    }
    std::filesystem::remove_all(pattern);
}
