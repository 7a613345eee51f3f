// The host on a private X server with a window manager: two windows of two different programs,
// each with its own application layout, activated in turn, and the emulated keypad follows; the
// switch hotkey typed through XTest cycles the manual layouts.
#include "AppCore.h"
#include "DeviceLink.h"
#include "LayoutSwitcher.h"
#include "PluginEntry.h"
#include "PluginLibrary.h"
#include "RuntimeFixture.h"
#include "TestWindowProcess.h"

#include <pixkey/test/XServer.h>

#include <QCoreApplication>

#include <X11/Xlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <filesystem>

namespace pixkey::test {
namespace {

const auto *const serverEnvironment = ::testing::AddGlobalTestEnvironment(new XServerEnvironment({.windowManager = true}));

std::string testsFolder()
{
    return std::filesystem::read_symlink("/proc/self/exe").parent_path().string();
}

// Whether the key's frame memory holds a black picture. The frame memory, not the shown frame, is
// what the host's faces reach on the wire; when they are put on the screen is the link's business.
bool keyIsDark(const KeypadEmulator &keypad, int key)
{
    for (std::uint16_t pixel : keypad.frameMemory(key))
        if (pixel != 0)
            return false;
    return true;
}

class RuntimeX11Test : public RuntimeFixture {
protected:
    void SetUp() override
    {
        if (!XServerEnvironment::running())
            GTEST_SKIP() << XServerEnvironment::skipReason();
        RuntimeFixture::SetUp();
        input = XOpenDisplay(XServerEnvironment::display().c_str());
        ASSERT_NE(input, nullptr);
    }
    void TearDown() override
    {
        runtime.reset();
        if (input)
            XCloseDisplay(input);
        RuntimeFixture::TearDown();
    }

    void startRuntime(KeypadEmulator &keypad)
    {
        qputenv("PIXKEY_PORT", QByteArray::fromStdString(keypad.linkPath()));
        Runtime::Options options;
        options.storeFolder = storeFolder(QStringLiteral("x"));
        options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user-x")};
        options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
        options.hook.displayName = XServerEnvironment::display();
        options.watchSession = false;
        options.watchDevices = false;
        options.window = [](AppCore &core) { return std::make_unique<RecordingWindow>(core); };
        options.onExit = [this](int code) { exitCodes.push_back(code); };
        runtime = std::make_unique<Runtime>(std::move(options));
        ASSERT_TRUE(runtime->start());
        ASSERT_TRUE(runtime->hook().desktopAvailable());
    }

    // Asks the window manager to activate `window` until the runtime has switched to `layout`.
    bool activate(unsigned long window, LayoutConfig *layout)
    {
        return pumpUntil([&] {
            XEvent event{};
            event.xclient.type = ClientMessage;
            event.xclient.window = window;
            event.xclient.message_type = XInternAtom(input, "_NET_ACTIVE_WINDOW", False);
            event.xclient.format = 32;
            event.xclient.data.l[0] = 2;
            event.xclient.data.l[1] = CurrentTime;
            XSendEvent(input, DefaultRootWindow(input), False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
            XSync(input, False);
            pumpUntil([&] { return runtime->core().activeLayout == layout; }, std::chrono::milliseconds(200));
            return runtime->core().activeLayout == layout;
        });
    }

    void key(KeySym keysym, bool down)
    {
        XTestFakeKeyEvent(input, XKeysymToKeycode(input, keysym), down ? True : False, CurrentTime);
        XSync(input, False);
    }
    void typeHotkey()
    {
        key(XK_Control_L, true);
        key(XK_Alt_L, true);
        key(XK_k, true);
        key(XK_k, false);
        key(XK_Alt_L, false);
        key(XK_Control_L, false);
    }

    std::unique_ptr<Runtime> runtime;
    Display *input = nullptr;
};

unsigned long windowId(ServiceProcess &window)
{
    return std::stoul(window.readLine().value_or(""), nullptr, 16);
}

TEST_F(RuntimeX11Test, ApplicationLayoutsFollowTheActiveWindowAndTheHotkeyCyclesManualLayouts)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-x"));
    startRuntime(keypad);
    AppCore &core = runtime->core();
    const QString folder = QString::fromStdString(testsFolder());
    LayoutConfig *first = core.addLayout(QStringLiteral("First"), folder + QStringLiteral("/pxkhk_test_window_a"), LayoutState::New);
    LayoutConfig *second = core.addLayout(QStringLiteral("Second"), folder + QStringLiteral("/pxkhk_test_window_b"), LayoutState::New);
    LayoutConfig *manual = core.addLayout(QStringLiteral("Manual"), QString(), LayoutState::New);
    PluginEntry *vegas = core.catalogue.findByIdentifier(QStringLiteral("bsp.vegas.mfc5"));
    ASSERT_TRUE(vegas && vegas->library && vegas->library->load());
    core.setSlot(*first, 0, 0, core.catalogue.CreateInstance(*vegas->library->function(1)));
    ASSERT_TRUE(pumpUntil([&] { return runtime->link().IsConnected() && keyIsDark(keypad, 1); }));

    ServiceProcess a(testWindow("a", "first")), b(testWindow("b", "second"));
    ASSERT_TRUE(a.start());
    ASSERT_TRUE(b.start());
    const unsigned long windowA = windowId(a), windowB = windowId(b);

    ASSERT_TRUE(activate(windowA, first));
    EXPECT_TRUE(pumpUntil([&] { return !keyIsDark(keypad, 1); })) << "the reel of the first program's layout";
    ASSERT_TRUE(activate(windowB, second));
    EXPECT_TRUE(pumpUntil([&] { return keyIsDark(keypad, 1); })) << "the second program's layout has no reel";
    ASSERT_TRUE(activate(windowA, first));
    EXPECT_TRUE(pumpUntil([&] { return !keyIsDark(keypad, 1); }));

    // The switch hotkey: from an application layout to "Global", then the layouts without a path
    // in their order: "Idle", "Manual", "Global".
    core.settings.setValue(Settings::SwitchLayoutModifier, 3); // Ctrl+Alt
    core.settings.setValue(Settings::SwitchLayoutHotkey, 'K');
    runtime->switcher().onHotkeyChanged(false);
    LayoutConfig *global = core.findLayout(QStringLiteral("Global"));
    LayoutConfig *idle = core.findLayout(QStringLiteral("Idle"));
    for (LayoutConfig *expected : {global, idle, manual, global}) {
        typeHotkey();
        EXPECT_TRUE(pumpUntil([&] { return core.activeLayout == expected; })) << expected->name().toStdString();
    }
    EXPECT_TRUE(pumpUntil([&] { return keyIsDark(keypad, 1); }));
}

} // namespace
} // namespace pixkey::test
