// The desktop hook in a headless sway session started by the test support: the active window
// through sway's IPC (two test clients with their app ids, focus moved with IPC commands), what
// the capability report says there, and the Wayland protocols back end alone (foreign toplevels,
// idle time).
#include <pixkey/pxkhk/DesktopHook.h>
#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/XServer.h>

#include "BackendDriver.h"
#include "RecordingSink.h"
#include "SwayCommand.h"
#include "WaylandProtocols.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <sys/mman.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <thread>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace pixkey;
using pixkey::test::BackendDriver;
using pixkey::test::HeadlessCompositor;
using pixkey::test::Probe;
using pixkey::test::RecordingSink;
using pixkey::test::ServiceProcess;

namespace {

// A keyboard of the test's own in the session (the compositor's virtual keyboard), for input that
// ends an idle period.
class TestKeyboard {
public:
    TestKeyboard(const std::string &display, const std::string &folder)
    {
        m_display = wl_display_connect((folder + "/" + display).c_str());
        if (!m_display)
            return;
        wl_registry *registry = wl_display_get_registry(m_display);
        static const wl_registry_listener listener = {
            [](void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t) {
                auto *self = static_cast<TestKeyboard *>(data);
                if (std::strcmp(interface, wl_seat_interface.name) == 0 && !self->m_seat)
                    self->m_seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
                else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
                    self->m_manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
                        wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
            },
            [](void *, wl_registry *, uint32_t) {}};
        wl_registry_add_listener(registry, &listener, this);
        wl_display_roundtrip(m_display);
        if (!m_seat || !m_manager)
            return;
        m_keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(m_manager, m_seat);
        xkb_context *context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        xkb_keymap *keymap = xkb_keymap_new_from_names(context, nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS);
        char *text = keymap ? xkb_keymap_get_as_string(keymap, XKB_KEYMAP_FORMAT_TEXT_V1) : nullptr;
        if (text) {
            const std::size_t size = std::strlen(text) + 1;
            const int fd = ::memfd_create("pixkey-test-keymap", MFD_CLOEXEC);
            if (fd >= 0 && ::write(fd, text, size) == ssize_t(size)) {
                zwp_virtual_keyboard_v1_keymap(m_keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, uint32_t(size));
                m_ready = true;
            }
            if (fd >= 0)
                ::close(fd);
            std::free(text);
        }
        if (keymap)
            xkb_keymap_unref(keymap);
        xkb_context_unref(context);
        wl_display_roundtrip(m_display);
    }
    ~TestKeyboard()
    {
        if (m_display)
            wl_display_disconnect(m_display);
    }
    bool ready() const { return m_ready; }
    // Presses and releases Shift (evdev code 42).
    void tap()
    {
        zwp_virtual_keyboard_v1_key(m_keyboard, m_time++, 42, WL_KEYBOARD_KEY_STATE_PRESSED);
        zwp_virtual_keyboard_v1_key(m_keyboard, m_time++, 42, WL_KEYBOARD_KEY_STATE_RELEASED);
        wl_display_roundtrip(m_display);
    }

private:
    wl_display *m_display = nullptr;
    wl_seat *m_seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *m_manager = nullptr;
    zwp_virtual_keyboard_v1 *m_keyboard = nullptr;
    uint32_t m_time = 1;
    bool m_ready = false;
};

// One sway for the whole program; the session's variables are set for the hook to find.
class SwaySession : public ::testing::Environment {
public:
    void SetUp() override
    {
        s_sway = std::make_unique<HeadlessCompositor>();
        if (!s_sway->running())
            return;
        s_sway->exportEnvironment();
        ::setenv("XDG_SESSION_TYPE", "wayland", 1);
        ::setenv("XDG_CURRENT_DESKTOP", "sway", 1);
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS"); // never the user's bus; sway needs none
        ::unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    }
    void TearDown() override { s_sway.reset(); }

    static inline std::unique_ptr<HeadlessCompositor> s_sway;
};

const auto *const session = ::testing::AddGlobalTestEnvironment(new SwaySession);

class WaylandSway : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!SwaySession::s_sway || !SwaySession::s_sway->running())
            GTEST_SKIP() << (SwaySession::s_sway ? SwaySession::s_sway->skipReason() : "sway was not started");
        char pattern[] = "/tmp/pxkhk-sway-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        m_base = pattern;
    }
    void TearDown() override
    {
        if (!m_base.empty())
            std::filesystem::remove_all(m_base);
    }

    HeadlessCompositor &sway() { return *SwaySession::s_sway; }
    DesktopHook::Options hookOptions() const
    {
        DesktopHook::Options options;
        options.runtimeFolder = m_base + "/pixkey";
        return options;
    }
    std::string command(const std::string &text) { return test::swayCommand(sway().swaySocket(), text); }

    // The window reported active last, 0 when none (or the last report was a window going).
    static unsigned long lastActive(const RecordingSink::Record &r)
    {
        return r.foreground.empty() || r.foreground.back().second == 0 ? 0 : r.foreground.back().first;
    }

    std::string m_base;
};

} // namespace

TEST_F(WaylandSway, FocusFollowsIpcFocusEventsWithProcessAndAppId)
{
    DesktopHook hook(hookOptions());
    ASSERT_TRUE(hook.desktopAvailable());
    RecordingSink sink;
    hook.Hook(&sink);

    ServiceProcess editor(sway().clientOptions("editor")), viewer(sway().clientOptions("viewer"));
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
    ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));

    // A new window takes the focus in sway; the editor is focused by command.
    auto r = sink.waitUntil([](const RecordingSink::Record &r) { return lastActive(r) != 0; });
    ASSERT_NE(lastActive(r), 0u);
    ASSERT_NE(command("[app_id=\"editor\"] focus").find("\"success\": true"), std::string::npos);
    unsigned long editorWindow = 0;
    r = sink.waitUntil([&](const RecordingSink::Record &r) {
        const unsigned long w = lastActive(r);
        return w != 0 && hook.applicationIdOfWindow(w) == "editor";
    });
    editorWindow = lastActive(r);
    ASSERT_NE(editorWindow, 0u) << "the editor never became the foreground window";
    EXPECT_EQ(hook.processIdOfWindow(editorWindow), editor.pid());
    EXPECT_EQ(hook.executableNameOfWindow(editorWindow), "pixkey_wayland_test_client");

    sink.clear();
    ASSERT_NE(command("[app_id=\"viewer\"] focus").find("\"success\": true"), std::string::npos);
    r = sink.waitUntil([](const RecordingSink::Record &r) { return r.foreground.size() >= 2; });
    ASSERT_GE(r.foreground.size(), 2u);
    EXPECT_EQ(r.foreground[0], std::make_pair(editorWindow, 0)) << "the editor goes first";
    const unsigned long viewerWindow = r.foreground[1].first;
    EXPECT_EQ(r.foreground[1].second, 1);
    EXPECT_EQ(hook.applicationIdOfWindow(viewerWindow), "viewer");
    EXPECT_EQ(hook.processIdOfWindow(viewerWindow), viewer.pid());

    // A closed window in front goes, and nothing is said about windows nobody reported.
    sink.clear();
    viewer.stop();
    r = sink.waitUntil([&](const RecordingSink::Record &r) {
        return std::find(r.foreground.begin(), r.foreground.end(), std::make_pair(viewerWindow, 0)) != r.foreground.end();
    });
    EXPECT_NE(std::find(r.foreground.begin(), r.foreground.end(), std::make_pair(viewerWindow, 0)), r.foreground.end());
    EXPECT_EQ(hook.processIdOfWindow(viewerWindow), 0);
    EXPECT_EQ(hook.processIdOfWindow(0xDEAD), 0);
}

TEST_F(WaylandSway, AHookMadeLaterReportsTheWindowAlreadyInFront)
{
    ServiceProcess editor(sway().clientOptions("editor"));
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
    ASSERT_NE(command("[app_id=\"editor\"] focus").find("\"success\": true"), std::string::npos);

    DesktopHook hook(hookOptions());
    RecordingSink sink;
    hook.Hook(&sink);
    const auto r = sink.waitUntil([](const RecordingSink::Record &r) { return !r.foreground.empty(); });
    ASSERT_FALSE(r.foreground.empty());
    EXPECT_EQ(r.foreground.front().second, 1);
    EXPECT_EQ(hook.processIdOfWindow(r.foreground.front().first), editor.pid());
}

TEST_F(WaylandSway, TheReportSaysWhatSwayOffersAndWhatToDoInstead)
{
    DesktopHook hook(hookOptions());
    std::map<DesktopCapability, CapabilityReport> reports;
    for (const CapabilityReport &report : hook.capabilities())
        reports[report.capability] = report;
    ASSERT_EQ(reports.size(), 4u);
    EXPECT_EQ(reports[DesktopCapability::ActiveWindow].state, CapabilityState::Working);
    EXPECT_NE(reports[DesktopCapability::ActiveWindow].how.find("sway IPC"), std::string::npos);
    // No portal and no XWayland here: the hotkey is the user's binding of pixkeyctl.
    EXPECT_EQ(reports[DesktopCapability::SwitchHotkey].state, CapabilityState::Unavailable);
    EXPECT_NE(reports[DesktopCapability::SwitchHotkey].step.find("pixkeyctl switch-layout"), std::string::npos);
    EXPECT_EQ(reports[DesktopCapability::ModifierRows].state, CapabilityState::Unavailable);
    // sway 1.7 has only the older idle protocol; newer ones the standard one.
    EXPECT_EQ(reports[DesktopCapability::IdleTime].state, CapabilityState::Working);
    EXPECT_NE(reports[DesktopCapability::IdleTime].how.find("idle"), std::string::npos);
    EXPECT_TRUE(hook.idleTime().has_value());
    EXPECT_NE(reports[DesktopCapability::ModifierRows].step.find("pixkeyctl row"), std::string::npos);
    EXPECT_FALSE(hook.RegisterHotkey(1, DesktopHook::Ctrl, 'K')) << "nothing may claim a hotkey it cannot deliver";
}

TEST_F(WaylandSway, ForeignToplevelsGiveTheActiveAppIdWithoutAProcess)
{
    WaylandProtocols backend(WaylandProtocols::Options{sway().waylandDisplay(), sway().runtimeFolder()});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(backend.hasToplevels());
    BackendDriver events;

    ServiceProcess editor(sway().clientOptions("editor")), viewer(sway().clientOptions("viewer"));
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
    ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));
    ASSERT_NE(command("[app_id=\"editor\"] focus").find("\"success\": true"), std::string::npos);
    ASSERT_TRUE(events.runWhileUsable(backend, [&] {
        return backend.activeWindow() != 0 && backend.applicationIdOfWindow(backend.activeWindow()) == "editor";
    }));
    const unsigned long editorWindow = backend.activeWindow();
    EXPECT_EQ(backend.processIdOfWindow(editorWindow), 0) << "the protocol carries no process";

    events.foreground.clear();
    ASSERT_NE(command("[app_id=\"viewer\"] focus").find("\"success\": true"), std::string::npos);
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 2; }));
    EXPECT_EQ(events.foreground[0], std::make_pair(editorWindow, 0));
    EXPECT_EQ(events.foreground[1].second, 1);
    const unsigned long viewerWindow = events.foreground[1].first;
    EXPECT_NE(viewerWindow, editorWindow);
    EXPECT_EQ(backend.applicationIdOfWindow(viewerWindow), "viewer");

    // The window in front closes: it goes, and the next one sway focuses comes.
    events.foreground.clear();
    viewer.stop();
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.foreground.size() >= 2; }));
    EXPECT_EQ(events.foreground[0], std::make_pair(viewerWindow, 0));
    EXPECT_EQ(events.foreground[1], std::make_pair(editorWindow, 1));
    EXPECT_EQ(backend.applicationIdOfWindow(viewerWindow), "");
}

TEST_F(WaylandSway, IdleTimeComesFromTheIdleNotificationInMilliseconds)
{
    WaylandProtocols backend(WaylandProtocols::Options{sway().waylandDisplay(), sway().runtimeFolder()});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(backend.hasIdle());
    BackendDriver events;
    // Nobody types into a headless sway: the notification fires after its timeout and the idle
    // time then keeps growing.
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return backend.idleTime().value_or(0) >= WaylandProtocols::kIdleStepMs; }));
    const std::uint32_t first = *backend.idleTime();
    std::this_thread::sleep_for(200ms);
    events.runWhileUsable(backend, [] { return true; });
    EXPECT_GE(*backend.idleTime(), first + 150);

    // A key typed ends it.
    TestKeyboard keyboard(sway().waylandDisplay(), sway().runtimeFolder());
    ASSERT_TRUE(keyboard.ready()) << "no virtual keyboard in the session";
    keyboard.tap();
    EXPECT_TRUE(events.runWhileUsable(backend, [&] { return backend.idleTime().value_or(1) == 0; }))
        << "idle time " << backend.idleTime().value_or(0);
}

TEST_F(WaylandSway, ACompositorThatGoesAwayIsDroppedAndTheHookCarriesOn)
{
    // A second sway of its own, stopped under the hook.
    HeadlessCompositor second;
    ASSERT_TRUE(second.running()) << second.skipReason();
    WaylandProtocols backend(WaylandProtocols::Options{second.waylandDisplay(), second.runtimeFolder()});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    second.stop();
    BackendDriver events;
    events.runWhileUsable(backend, [] { return false; });
    EXPECT_FALSE(backend.usable());
    EXPECT_FALSE(backend.idleTime().has_value());
    EXPECT_TRUE(backend.capabilities().empty());

    WaylandProtocols nowhere(WaylandProtocols::Options{"wayland-none", m_base});
    EXPECT_FALSE(nowhere.open(error));
    EXPECT_NE(error.find("wayland-none"), std::string::npos) << error;
}

TEST_F(WaylandSway, GarbageOnTheIpcSocketHandsTheActiveWindowToTheNextBackEnd)
{
    // $SWAYSOCK leads to a stand-in that talks nonsense; the Wayland connection is sway's own.
    const std::string fake = m_base + "/fake-sway.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, fake.c_str(), sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    const std::string realSocket = sway().swaySocket();
    ::setenv("SWAYSOCK", fake.c_str(), 1);
    auto hook = std::make_unique<DesktopHook>(hookOptions());
    ::setenv("SWAYSOCK", realSocket.c_str(), 1);
    RecordingSink sink;
    hook->Hook(&sink);
    const auto activeHow = [&] {
        for (const CapabilityReport &report : hook->capabilities())
            if (report.capability == DesktopCapability::ActiveWindow)
                return report.how;
        return std::string();
    };
    EXPECT_NE(activeHow().find("sway IPC"), std::string::npos);

    pollfd p{listener, POLLIN, 0};
    ASSERT_EQ(::poll(&p, 1, 10000), 1);
    const int peer = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
    ASSERT_GE(peer, 0);
    testing::internal::CaptureStderr();
    const std::string garbage = "GET / HTTP/1.0\r\n\r\n";
    ASSERT_EQ(::send(peer, garbage.data(), garbage.size(), MSG_NOSIGNAL), ssize_t(garbage.size()));
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while (activeHow().find("foreign-toplevel") == std::string::npos && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(20ms);
    const std::string printed = testing::internal::GetCapturedStderr();
    EXPECT_NE(activeHow().find("foreign-toplevel"), std::string::npos) << activeHow();
    EXPECT_NE(printed.find("sway IPC went away; it answered for: Active window"), std::string::npos) << printed;
    ::close(peer);
    ::close(listener);

    // The hook goes on with the protocols: the editor comes with its app id as its name.
    ServiceProcess editor(sway().clientOptions("editor"));
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
    ASSERT_NE(command("[app_id=\"editor\"] focus").find("\"success\": true"), std::string::npos);
    const auto r = sink.waitUntil([&](const RecordingSink::Record &r) {
        const unsigned long w = lastActive(r);
        return w != 0 && hook->applicationIdOfWindow(w) == "editor";
    });
    ASSERT_NE(lastActive(r), 0u);
    EXPECT_EQ(hook->processIdOfWindow(lastActive(r)), 0);
    EXPECT_EQ(hook->executableNameOfWindow(lastActive(r)), "editor") << "no process: the app id names it";
}

TEST_F(WaylandSway, XWaylandServesOnlyTheHotkeyAndTheRowsAndTheReportSaysSo)
{
    // An X server beside the compositor, as XWayland is.
    test::XServer x;
    if (!x.running())
        GTEST_SKIP() << x.skipReason();
    ::setenv("DISPLAY", x.display().c_str(), 1);
    DesktopHook hook(hookOptions());
    ::unsetenv("DISPLAY");
    std::map<DesktopCapability, CapabilityReport> reports;
    for (const CapabilityReport &report : hook.capabilities())
        reports[report.capability] = report;
    EXPECT_NE(reports[DesktopCapability::ActiveWindow].how.find("sway IPC"), std::string::npos)
        << "X sees X programs only: never the source of the active window";
    for (const DesktopCapability capability : {DesktopCapability::SwitchHotkey, DesktopCapability::ModifierRows}) {
        const CapabilityReport &report = reports[capability];
        EXPECT_EQ(report.state, CapabilityState::Unavailable) << capabilityName(capability);
        EXPECT_NE(report.how.find("XWayland"), std::string::npos) << report.how;
        EXPECT_NE(report.step.find("pixkeyctl"), std::string::npos) << report.step;
    }
    EXPECT_EQ(reports[DesktopCapability::IdleTime].state, CapabilityState::Working);
    EXPECT_EQ(reports[DesktopCapability::IdleTime].how.find("X"), std::string::npos) << "not from X";
    // The grab still serves X programs.
    EXPECT_TRUE(hook.RegisterHotkey(1, DesktopHook::Ctrl, 'K'));
    EXPECT_TRUE(hook.UnregisterHotkey(1));
}
