// The host in a headless sway session started by the test support: a layout made for the Wayland
// test client is switched to when a client of that program is focused (through sway's IPC, as a
// user's click would), and away from it when another program's window is focused.
#include "AppCore.h"
#include "DeviceLink.h"
#include "LayoutSwitcher.h"
#include "RuntimeFixture.h"
#include "SwayCommand.h"

#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/test/SessionBus.h>

#include <QCoreApplication>

#include <cstdlib>
#include <filesystem>

namespace pixkey::test {
namespace {

std::string testsFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// sway and a private bus for the whole program; the session's variables are set for the hook.
class SwaySession : public ::testing::Environment {
public:
    void SetUp() override
    {
        s_bus = std::make_unique<SessionBus>();
        if (s_bus->running())
            s_bus->exportAddress();
        s_sway = std::make_unique<HeadlessCompositor>();
        if (!s_sway->running())
            return;
        s_sway->exportEnvironment();
        ::setenv("XDG_SESSION_TYPE", "wayland", 1);
        ::setenv("XDG_CURRENT_DESKTOP", "sway", 1);
        ::unsetenv("HYPRLAND_INSTANCE_SIGNATURE");
    }
    void TearDown() override
    {
        s_sway.reset();
        s_bus.reset();
    }
    static inline std::unique_ptr<SessionBus> s_bus;
    static inline std::unique_ptr<HeadlessCompositor> s_sway;
};

const auto *const session = ::testing::AddGlobalTestEnvironment(new SwaySession);

class RuntimeSwayTest : public RuntimeFixture {
protected:
    void SetUp() override
    {
        if (!SwaySession::s_sway || !SwaySession::s_sway->running())
            GTEST_SKIP() << (SwaySession::s_sway ? SwaySession::s_sway->skipReason() : "sway was not started");
        RuntimeFixture::SetUp();
    }
    void TearDown() override
    {
        runtime.reset();
        RuntimeFixture::TearDown();
    }

    HeadlessCompositor &sway() { return *SwaySession::s_sway; }

    void startRuntime(KeypadEmulator &keypad)
    {
        qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
        Runtime::Options options;
        options.storeFolder = storeFolder(QStringLiteral("sway"));
        options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user-sway")};
        options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
        options.watchSession = false;
        options.watchDevices = false;
        options.window = [](AppCore &core) { return std::make_unique<RecordingWindow>(core); };
        options.onExit = [this](int code) { exitCodes.push_back(code); };
        runtime = std::make_unique<Runtime>(std::move(options));
        ASSERT_TRUE(runtime->start());
        ASSERT_TRUE(runtime->hook().desktopAvailable());
    }

    // Focuses the window with `appId` through sway until the runtime shows `layout`.
    bool focus(const std::string &appId, LayoutConfig *layout)
    {
        return pumpUntil([&] {
            swayCommand(sway().swaySocket(), "[app_id=\"" + appId + "\"] focus");
            pumpUntil([&] { return runtime->core().activeLayout == layout; }, std::chrono::milliseconds(300));
            return runtime->core().activeLayout == layout;
        }, std::chrono::seconds(20));
    }

    std::unique_ptr<Runtime> runtime;
};

TEST_F(RuntimeSwayTest, FocusingTheEditorSwitchesToTheLayoutMadeForIt)
{
    // Another program: the same client under another file name.
    const std::string other = dir.path().toStdString() + "/pixkey_wayland_viewer";
    std::filesystem::copy_file(testsFolder() + "/pixkey_wayland_test_client", other);

    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-sway"));
    startRuntime(keypad);
    AppCore &core = runtime->core();
    LayoutConfig *editorLayout = core.addLayout(
        QStringLiteral("Editor"), QString::fromStdString(testsFolder() + "/pixkey_wayland_test_client"), LayoutState::New);
    LayoutConfig *global = core.findLayout(QStringLiteral("Global"));
    ASSERT_TRUE(editorLayout && global);

    ServiceProcess::Options viewerOptions = sway().clientOptions("viewer");
    viewerOptions.program = other;
    ServiceProcess editor(sway().clientOptions("editor")), viewer(viewerOptions);
    ASSERT_TRUE(editor.start(Probe::outputContains("mapped")));
    ASSERT_TRUE(viewer.start(Probe::outputContains("mapped")));

    ASSERT_TRUE(focus("editor", editorLayout)) << "the editor's layout was not switched to";
    ASSERT_TRUE(focus("viewer", global)) << "another program's window leaves the editor's layout";
    ASSERT_TRUE(focus("editor", editorLayout));
    // The editor closing while in front leaves its layout too.
    editor.stop();
    EXPECT_TRUE(pumpUntil([&] { return core.activeLayout == global; }));
}

} // namespace
} // namespace pixkey::test
