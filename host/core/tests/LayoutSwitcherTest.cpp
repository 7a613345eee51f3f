#include "CoreFixture.h"
#include "LayoutSwitcher.h"
#include "ModifierRow.h"
#include "PluginEntry.h"
#include "PluginLibrary.h"
#include "PrivateMessage.h"
#include "SwitcherFakes.h"

namespace pixkey::test {
namespace {

constexpr int kOwnPid = 4242;

class LayoutSwitcherTest : public CoreFixture {
protected:
    void SetUp() override
    {
        testApplication();
        CoreFixture::SetUp();
        core->select(-1); // as the start-up does after the full load
        window = std::make_unique<BusyWindow>(*core);
        makeSwitcher();
    }
    void TearDown() override
    {
        switcher.reset();
        window.reset();
        CoreFixture::TearDown();
    }
    void makeSwitcher()
    {
        switcher = std::make_unique<LayoutSwitcher>(
            *core, desktop, link, *window, [this] { return now; },
            [this](int row, int force) { postedRows.push_back({row, force}); }, kOwnPid);
    }
    LayoutConfig &addManual(const char *name)
    {
        return *core->addLayout(QString::fromLatin1(name), QString(), LayoutState::New);
    }
    LayoutConfig &addApplication(const char *name, const char *path)
    {
        return *core->addLayout(QString::fromLatin1(name), QString::fromLatin1(path), LayoutState::New);
    }
    QString active() const { return core->activeLayout ? core->activeLayout->name() : QStringLiteral("<none>"); }
    std::uint32_t hotkey() const { return switcher->hotkeyParameter(); }
    void setIdlePositions(int screensaver, int illumination)
    {
        core->settings.setValue(Settings::ScreensaverOn, screensaver);
        core->settings.setValue(Settings::IlluminationOff, illumination);
    }
    // A tick that finds `idleMs`. The clock moves on by at least that much more idle time, as a
    // desktop's would.
    void tickAt(std::int64_t idleMs)
    {
        now += std::max<std::int64_t>(idleMs - lastIdle, LayoutSwitcher::kIdlePeriodMs);
        lastIdle = idleMs;
        desktop.idle = std::uint32_t(idleMs);
        switcher->onIdleTick();
    }

    FakeDesktop desktop;
    RecordingLink link;
    std::unique_ptr<BusyWindow> window;
    std::unique_ptr<LayoutSwitcher> switcher;
    std::int64_t now = 100000;
    std::int64_t lastIdle = 0; // what tickAt gave last
    std::vector<std::pair<int, int>> postedRows;
};

// --- automatic switching ---------------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, ForegroundApplicationActivatesItsLayoutAndReturnsToGlobal)
{
    LayoutConfig &editor = addApplication("Editor", "/usr/bin/editor");
    desktop.windows[10] = {100, "Editor"}; // names compare without regard to case
    desktop.windows[11] = {101, "shell"};
    desktop.windows[12] = {102, ""};       // a process that cannot be read

    switcher->onForegroundChanged(10, true);
    EXPECT_EQ(core->activeLayout, &editor);
    EXPECT_EQ(switcher->autoSwitchedWindow(), 10u);

    switcher->onForegroundChanged(10, false); // the window that switched goes away
    EXPECT_EQ(active(), QStringLiteral("Global"));
    EXPECT_EQ(switcher->autoSwitchedWindow(), 0u);

    // Another program without a layout returns to "Global" even after a manual choice; so does one
    // whose executable cannot be read (it must not match the layouts without a path).
    LayoutConfig &manual = addManual("Manual");
    core->activate(&manual);
    switcher->onForegroundChanged(11, true);
    EXPECT_EQ(active(), QStringLiteral("Global"));
    core->activate(&manual);
    switcher->onForegroundChanged(12, true);
    EXPECT_EQ(active(), QStringLiteral("Global"));
}

TEST_F(LayoutSwitcherTest, OwnWindowsUnknownProcessesAndAutoSwitchOffNeverSwitch)
{
    LayoutConfig &editor = addApplication("Editor", "/usr/bin/editor");
    LayoutConfig &manual = addManual("Manual");
    desktop.windows[10] = {100, "editor"};
    desktop.windows[20] = {kOwnPid, "PixkeyMiniConfigurator"};
    core->activate(&manual);

    switcher->onForegroundChanged(20, true); // the configurator's own window
    switcher->onForegroundChanged(99, true); // a window without a process id or application id
    EXPECT_EQ(core->activeLayout, &manual);

    core->settings.setValue(Settings::AutoSwitch, 0);
    switcher->onForegroundChanged(10, true);
    EXPECT_EQ(core->activeLayout, &manual);

    // Switched in with automatic switching on, then turned off: not even the return happens.
    core->settings.setValue(Settings::AutoSwitch, 1);
    switcher->onForegroundChanged(10, true);
    EXPECT_EQ(core->activeLayout, &editor);
    core->settings.setValue(Settings::AutoSwitch, 0);
    switcher->onForegroundChanged(10, false);
    EXPECT_EQ(core->activeLayout, &editor);
}

TEST_F(LayoutSwitcherTest, WindowWithoutProcessSwitchesByItsApplicationId)
{
    // Compositors that list toplevels without a process give the app id as the window's name.
    LayoutConfig &editor = addApplication("Editor", "/usr/bin/editor");
    desktop.windows[30] = {0, "editor"};
    desktop.windows[31] = {0, "viewer"};
    switcher->onForegroundChanged(30, true);
    EXPECT_EQ(core->activeLayout, &editor);
    switcher->onForegroundChanged(30, false);
    switcher->onForegroundChanged(31, true);
    EXPECT_EQ(active(), QStringLiteral("Global"));
}

TEST_F(LayoutSwitcherTest, DeletedApplicationLayoutIsNotSwitchedTo)
{
    LayoutConfig &editor = addApplication("Editor", "/usr/bin/editor");
    desktop.windows[10] = {100, "editor"};
    core->deleteLayout(editor);
    switcher->onForegroundChanged(10, true);
    EXPECT_EQ(active(), QStringLiteral("Global"));
    EXPECT_EQ(switcher->autoSwitchedWindow(), 0u);
}

// --- switch hotkey ----------------------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, HotkeyCyclesLayoutsWithoutPathInArrayOrder)
{
    addManual("One");
    LayoutConfig &app = addApplication("Editor", "/usr/bin/editor");
    addManual("Two");
    std::vector<QString> seen;
    for (int i = 0; i < 5; ++i) {
        switcher->onHotkey(false, hotkey());
        seen.push_back(active());
    }
    // Array order: Global, Idle, One, Editor (skipped), Two; wrapping to Global.
    EXPECT_EQ(seen, (std::vector<QString>{QStringLiteral("Idle"), QStringLiteral("One"), QStringLiteral("Two"),
                                          QStringLiteral("Global"), QStringLiteral("Idle")}));

    core->activate(&app);
    switcher->onHotkey(false, hotkey());
    EXPECT_EQ(active(), QStringLiteral("Global")); // from an application layout
}

TEST_F(LayoutSwitcherTest, HotkeyPassesOnOnlyWhenAskedAndOthersRun)
{
    switcher->onHotkey(true, hotkey());
    EXPECT_TRUE(desktop.calls.empty()); // alone
    desktop.configurators = 2;
    switcher->onHotkey(false, hotkey()); // a peer's, not passed on again
    EXPECT_TRUE(desktop.calls.empty());
    switcher->onHotkey(true, hotkey());
    ASSERT_EQ(desktop.calls.size(), 1u);
    EXPECT_EQ(desktop.calls[0], "broadcast " + std::to_string(messageNumber(PrivateMessage::Hotkey)) + " 0 " +
                                    std::to_string(hotkey()));
}

TEST_F(LayoutSwitcherTest, SwitchLayoutWithoutTheKeyIsTheHotkeysAction)
{
    // No hotkey stored (0, 0): the command still switches and tells the others with the stored pair,
    // which their own hotkey path accepts.
    desktop.configurators = 2;
    switcher->switchLayout(true);
    EXPECT_EQ(active(), QStringLiteral("Idle"));
    ASSERT_EQ(desktop.calls.size(), 1u);
    EXPECT_EQ(desktop.calls[0], "broadcast " + std::to_string(messageNumber(PrivateMessage::Hotkey)) + " 0 " +
                                    std::to_string(hotkey()));
    core->settings.setValue(Settings::SwitchLayoutModifier, 2 /* Ctrl */);
    core->settings.setValue(Settings::SwitchLayoutHotkey, 'L');
    switcher->switchLayout(false);
    EXPECT_EQ(active(), QStringLiteral("Global"));
    EXPECT_EQ(desktop.calls.size(), 1u);
}

TEST_F(LayoutSwitcherTest, RowChosenByHandHoldsUntilModifiersOrTheLayoutChange)
{
    PluginEntry &alpha = install("core_test_alpha");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    core->setSlot(global, 0, 2, core->catalogue.CreateInstance(*alpha.library->function(1)));

    // An empty row is shown when chosen, also while the key preview has the focus.
    window->previewFocus = true;
    EXPECT_TRUE(switcher->chooseRow(5));
    EXPECT_EQ(core->currentRow, 5);
    EXPECT_EQ(window->rowChanges, 1);
    window->previewFocus = false;
    // Held modifiers win as soon as they change.
    switcher->onModifierRow(2, false);
    EXPECT_EQ(core->currentRow, 2);

    EXPECT_FALSE(switcher->chooseRow(6));
    EXPECT_FALSE(switcher->chooseRow(-1));
    window->busy = 1;
    EXPECT_FALSE(switcher->chooseRow(1));
    EXPECT_EQ(core->currentRow, 2);
    window->busy = 0;

    // Another layout starts on its default row; "Idle" has no other.
    EXPECT_TRUE(switcher->chooseRow(3));
    core->select(-2);
    EXPECT_EQ(core->currentRow, 0);
    EXPECT_FALSE(switcher->chooseRow(3));
    EXPECT_EQ(core->currentRow, 0);
    EXPECT_TRUE(switcher->chooseRow(0));
}

TEST_F(LayoutSwitcherTest, ChangedHotkeyIgnoresTheOldCombination)
{
    const std::uint32_t old = hotkey();
    core->settings.setValue(Settings::SwitchLayoutHotkey, 75);
    core->settings.setValue(Settings::SwitchLayoutModifier, 3);
    desktop.configurators = 2;
    switcher->onHotkeyChanged(true);
    EXPECT_EQ(desktop.calls, (std::vector<std::string>{
                                 "register 1 3 75",
                                 "broadcast " + std::to_string(messageNumber(PrivateMessage::HotkeyChanged)) + " 0 " +
                                     std::to_string(75 * 65536 + 3)}));
    switcher->onHotkey(false, old);
    EXPECT_EQ(active(), QStringLiteral("Global"));
    switcher->onHotkey(false, 75 * 65536 + 3);
    EXPECT_EQ(active(), QStringLiteral("Idle"));

    // Without a modifier the hotkey is let go; a modifier without a key leaves it as it was.
    desktop.calls.clear();
    core->settings.setValue(Settings::SwitchLayoutModifier, 0);
    switcher->onHotkeyChanged(false);
    core->settings.setValue(Settings::SwitchLayoutModifier, 2);
    core->settings.setValue(Settings::SwitchLayoutHotkey, 0);
    switcher->onHotkeyChanged(false);
    EXPECT_EQ(desktop.calls, (std::vector<std::string>{"unregister 1"}));
}

// --- inactivity -----------------------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, NeverIdleAtPositionHundred)
{
    setIdlePositions(100, 100);
    tickAt(std::int64_t(24) * 3600 * 1000);
    EXPECT_FALSE(core->idleActive);
    EXPECT_FALSE(core->illuminationOff);
    EXPECT_EQ(active(), QStringLiteral("Global"));
    EXPECT_TRUE(link.calls.empty());
}

TEST_F(LayoutSwitcherTest, IdleThenDarkThenBackOnInputWithinOneTick)
{
    setIdlePositions(0, 20); // 1 and 5 minutes
    const std::int64_t idleAfter = Settings::sliderDurationMs(0);
    const std::int64_t darkAfter = Settings::sliderDurationMs(20);
    ASSERT_LT(idleAfter, darkAfter);
    LayoutConfig &manual = addManual("Manual");
    core->activate(&manual);

    tickAt(idleAfter); // not beyond yet
    EXPECT_FALSE(core->idleActive);
    tickAt(idleAfter + 1);
    EXPECT_TRUE(core->idleActive);
    EXPECT_EQ(active(), QStringLiteral("Idle"));
    EXPECT_EQ(switcher->layoutBeforeIdle(), &manual);
    EXPECT_EQ(postedRows, (std::vector<std::pair<int, int>>{{0, 0}}));

    // While idle nothing else may switch: tray or configurator choice, hotkey, foreground.
    core->select(core->indexOf(&manual));
    switcher->onHotkey(false, hotkey());
    desktop.windows[10] = {100, "other"};
    switcher->onForegroundChanged(10, true);
    EXPECT_EQ(active(), QStringLiteral("Idle"));

    tickAt(darkAfter + 1);
    EXPECT_TRUE(core->illuminationOff);
    EXPECT_EQ(link.calls, (std::vector<std::string>{"command 3 0 wait"}));
    core->select(-1);
    EXPECT_EQ(active(), QStringLiteral("Idle"));

    link.calls.clear();
    tickAt(200); // input: one tick brings everything back
    EXPECT_EQ(link.calls, (std::vector<std::string>{"command 2 0 wait", "command 4 1", "command 4 2", "command 4 3"}));
    EXPECT_FALSE(core->illuminationOff);
    EXPECT_FALSE(core->idleActive);
    EXPECT_EQ(core->activeLayout, &manual);
}

TEST_F(LayoutSwitcherTest, BothThresholdsInOneTickGoDarkWithoutIdleLayout)
{
    setIdlePositions(0, 0);
    tickAt(Settings::sliderDurationMs(0) + 1);
    EXPECT_TRUE(core->illuminationOff);
    EXPECT_FALSE(core->idleActive);
    EXPECT_EQ(active(), QStringLiteral("Global"));
}

TEST_F(LayoutSwitcherTest, NoIdleSourceMeansNoIdle)
{
    setIdlePositions(0, 0);
    desktop.idle.reset();
    switcher->onIdleTick();
    EXPECT_FALSE(core->idleActive);
    EXPECT_FALSE(core->illuminationOff);
}

TEST_F(LayoutSwitcherTest, TheDesktopIsAskedOnlyWhenItsAnswerCouldMatter)
{
    setIdlePositions(0, 20); // 1 and 5 minutes
    const std::int64_t idleAfter = Settings::sliderDurationMs(0);
    std::int64_t lastInput = now;
    // Ticks every period, the desktop's idle time following the clock from the last input.
    const auto tickFor = [&](std::int64_t ms) {
        for (const std::int64_t end = now + ms; now < end;) {
            now += LayoutSwitcher::kIdlePeriodMs;
            desktop.idle = std::uint32_t(now - lastInput);
            switcher->onIdleTick();
        }
    };
    desktop.idle = 0;
    switcher->onIdleTick();
    EXPECT_EQ(desktop.idleAsked, 1);

    // Input half-way: the switcher does not see it until the first moment the threshold could
    // have been reached, then asks and counts from the new answer.
    tickFor(30000);
    lastInput = now;
    tickFor(30000);
    EXPECT_EQ(desktop.idleAsked, 1) << "a minute cannot have passed since the first answer";
    tickFor(LayoutSwitcher::kIdlePeriodMs);
    EXPECT_EQ(desktop.idleAsked, 2);
    EXPECT_FALSE(core->idleActive);

    // Without input the idle layout comes on the first tick past the threshold, as if every
    // tick had asked.
    while (!core->idleActive && now - lastInput < 2 * idleAfter)
        tickFor(LayoutSwitcher::kIdlePeriodMs);
    EXPECT_TRUE(core->idleActive);
    EXPECT_GT(now - lastInput, idleAfter);
    EXPECT_LE(now - lastInput, idleAfter + LayoutSwitcher::kIdlePeriodMs);

    // While idle every tick asks, so that input ends it within one tick.
    const int asked = desktop.idleAsked;
    tickFor(3 * LayoutSwitcher::kIdlePeriodMs);
    EXPECT_EQ(desktop.idleAsked, asked + 3);
    lastInput = now;
    tickFor(LayoutSwitcher::kIdlePeriodMs);
    EXPECT_FALSE(core->idleActive);
}

TEST_F(LayoutSwitcherTest, WithoutAnIdleLayoutTheDesktopIsAskedOnceAMinute)
{
    setIdlePositions(100, 0); // never idle; the illumination threshold alone does nothing
    desktop.idle = 0;
    for (int tick = 0; tick < 80; ++tick) { // two minutes
        now += LayoutSwitcher::kIdlePeriodMs;
        switcher->onIdleTick();
    }
    EXPECT_EQ(desktop.idleAsked, 2);

    // A locked session counts as idle: every tick asks.
    switcher->onSessionLocked(true);
    const int asked = desktop.idleAsked;
    for (int tick = 0; tick < 3; ++tick) {
        now += LayoutSwitcher::kIdlePeriodMs;
        switcher->onIdleTick();
    }
    EXPECT_EQ(desktop.idleAsked, asked + 3);
}

TEST_F(LayoutSwitcherTest, LayoutDeletedWhileIdleGivesGlobalOnReturn)
{
    setIdlePositions(0, 100);
    LayoutConfig &manual = addManual("Manual");
    core->activate(&manual);
    tickAt(Settings::sliderDurationMs(0) + 1);
    ASSERT_TRUE(core->idleActive);
    core->deleteLayout(manual); // the layout remembered from before the idle period
    core->saveSettings();       // destroys it
    tickAt(10);
    EXPECT_FALSE(core->idleActive);
    EXPECT_EQ(active(), QStringLiteral("Global"));
}

TEST_F(LayoutSwitcherTest, LockShowsIdleAtOnceAndUnlockRestores)
{
    LayoutConfig &manual = addManual("Manual");
    core->activate(&manual);
    switcher->onSessionLocked(true);
    EXPECT_EQ(active(), QStringLiteral("Idle"));
    EXPECT_TRUE(core->idleActive);
    EXPECT_TRUE(switcher->forcedIdle());
    EXPECT_EQ(postedRows, (std::vector<std::pair<int, int>>{{0, 0}}));

    // Input while locked does not end the idle period; the illumination goes off on time.
    setIdlePositions(100, 0);
    tickAt(10);
    EXPECT_TRUE(core->idleActive);
    tickAt(Settings::sliderDurationMs(0) + 1);
    EXPECT_TRUE(core->illuminationOff);

    // Unlocked while dark: the first tick lights the keys and brings the layout back (it must not
    // stay on "Idle" because the return was refused while dark).
    switcher->onSessionLocked(false);
    EXPECT_FALSE(core->idleActive);
    tickAt(10);
    EXPECT_FALSE(core->illuminationOff);
    EXPECT_EQ(core->activeLayout, &manual);

    // Unlocked while only idle: back at once.
    switcher->onSessionLocked(true);
    EXPECT_EQ(active(), QStringLiteral("Idle"));
    switcher->onSessionLocked(false);
    EXPECT_EQ(core->activeLayout, &manual);
}

// --- session, power, devices -------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, SessionSuspendAndDeviceChangesDriveTheLink)
{
    switcher->onSessionActive(false);
    switcher->onSessionActive(true);
    switcher->onSuspend();
    switcher->onResume();
    EXPECT_EQ(link.calls, (std::vector<std::string>{"command 3 0 wait", "disconnect", "connect", "command 3 0 wait",
                                                    "disconnect", "connect"}));
    link.calls.clear();
    switcher->onDeviceChange();
    switcher->onDeviceChange();
    EXPECT_TRUE(switcher->deviceSearchPending());
    EXPECT_TRUE(link.calls.empty());
    switcher->onDeviceTimer(); // what the settle timer does when it runs out
    EXPECT_FALSE(switcher->deviceSearchPending());
    EXPECT_EQ(link.calls, (std::vector<std::string>{"connect"}));
}

// --- modifier rows -----------------------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, ModifierRowNeedsAnInstanceUnlessForced)
{
    PluginEntry &alpha = install("core_test_alpha");
    LayoutConfig &global = layout(QStringLiteral("Global"));
    core->setSlot(global, 0, 2, core->catalogue.CreateInstance(*alpha.library->function(1)));

    switcher->onModifierRow(1, false); // Ctrl: nothing there
    EXPECT_EQ(core->currentRow, 0);
    switcher->onModifierRow(2, false); // Shift: an instance
    EXPECT_EQ(core->currentRow, 2);
    EXPECT_EQ(window->rowChanges, 1);
    switcher->onModifierRow(1, true); // the row selector forces it
    EXPECT_EQ(core->currentRow, 1);
    switcher->onModifierRow(6, true);
    EXPECT_EQ(core->currentRow, 1);

    window->busy = 1; // an options dialog is open
    switcher->onModifierRow(0, true);
    EXPECT_EQ(core->currentRow, 1);
    window->busy = 0;
    window->previewFocus = true;
    switcher->onModifierRow(0, true);
    EXPECT_EQ(core->currentRow, 1);
    window->previewFocus = false;
    switcher->onModifierRow(0, false); // row 0 always passes
    EXPECT_EQ(core->currentRow, 0);
}

// --- connection ----------------------------------------------------------------------------------------

TEST_F(LayoutSwitcherTest, ConnectedKeypadGetsDisplayBrightnessAndRefresh)
{
    link.port = QStringLiteral("ttyUSB0");
    core->settings.setValue(Settings::Brightness, 1);
    switcher->onConnectionChanged(true);
    EXPECT_EQ(link.calls, (std::vector<std::string>{"command 2 0", "command 2 0", "command 9 40", "refresh"}));
    EXPECT_TRUE(core->profileSuffix.isEmpty()); // alone and without a profile key
    switcher->onConnectionChanged(false);
    EXPECT_EQ(window->connections, (std::vector<bool>{true, false}));
}

TEST_F(LayoutSwitcherTest, SecondConfiguratorMakesEachKeypadUseItsProfile)
{
    link.port = QStringLiteral("ttyUSB1");
    desktop.configurators = 2;
    switcher->onConnectionChanged(true);
    EXPECT_EQ(core->profileSuffix, QStringLiteral("ttyUSB1"));
    EXPECT_TRUE(window->title().endsWith(QStringLiteral(" (ttyUSB1)")));
    EXPECT_TRUE(core->modified); // the profile key is created at the next save

    // Adopting again (the message of yet another copy) changes nothing once a profile is used.
    link.port = QStringLiteral("ttyUSB2");
    switcher->onAdoptProfile();
    EXPECT_EQ(core->profileSuffix, QStringLiteral("ttyUSB1"));
}

} // namespace
} // namespace pixkey::test
