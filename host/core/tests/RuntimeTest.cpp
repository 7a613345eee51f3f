#include "AppCore.h"
#include "DeviceLink.h"
#include "LayoutSwitcher.h"
#include "MainThreadEvent.h"
#include "PluginEntry.h"
#include "PluginLibrary.h"
#include "RuntimeFixture.h"
#include "SettingsStore.h"
#include "TerminationSignals.h"
#include "WindowTitle.h"

#include <QCoreApplication>

#include <csignal>

namespace pixkey::test {
namespace {

long linesTo(const KeypadEmulator &keypad, int key)
{
    long count = 0;
    for (const EmulatorPacket &packet : keypad.packetLog())
        if (packet.command == 1 && packet.arg1 == key)
            ++count;
    return count;
}

TEST(RuntimeCommandLineTest, MinimizedAndPluginFiles)
{
    EXPECT_TRUE(Runtime::parse({QStringLiteral("minimized")}).minimized);
    EXPECT_TRUE(Runtime::parse({QStringLiteral("--MINIMIZED")}).minimized);
    EXPECT_TRUE(Runtime::parse({QStringLiteral("/Minimized")}).minimized);
    EXPECT_FALSE(Runtime::parse({QStringLiteral("minimize"), QStringLiteral("minimized.txt")}).minimized);
    const auto line = Runtime::parse({QStringLiteral("/a/Clock.PKX"), QStringLiteral("notes.pkx.txt"), QStringLiteral("b.pkx")});
    EXPECT_EQ(line.pluginFiles, (QStringList{QStringLiteral("/a/Clock.PKX"), QStringLiteral("b.pkx")}));
}

TEST(RuntimeTitleTest, WithAndWithoutVersionAndProfile)
{
    EXPECT_EQ(WindowTitle::versionText(QStringLiteral("1, 2, 0, 7")), QStringLiteral("1.2.0"));
    EXPECT_EQ(WindowTitle::versionText(QString()), QString());
    EXPECT_EQ(WindowTitle::title(QString(), false), QStringLiteral("Pixkey mini Configurator"));
    EXPECT_EQ(WindowTitle::title(QStringLiteral("ttyUSB0"), false), QStringLiteral("Pixkey mini Configurator (ttyUSB0)"));
    EXPECT_EQ(WindowTitle::title(QStringLiteral("ttyUSB0"), true),
              QStringLiteral("Pixkey mini Configurator ") + WindowTitle::programVersion() + QStringLiteral(" beta (ttyUSB0)"));
    EXPECT_EQ(WindowTitle::programVersion().count(QLatin1Char('.')), 2); // "1.2.0" style
}

class RuntimeTest : public RuntimeFixture {};

TEST_F(RuntimeTest, TerminationSignalsArriveOnTheEventLoop)
{
    std::vector<int> received;
    {
        TerminationSignals signals([&](int signal) { received.push_back(signal); });
        ASSERT_TRUE(signals.isValid());
        ::raise(SIGTERM);
        ::raise(SIGINT);
        EXPECT_TRUE(received.empty()); // not inside the handler: on the loop
        EXPECT_TRUE(pumpUntil([&] { return received.size() == 2; }));
    }
    EXPECT_EQ(received, (std::vector<int>{SIGTERM, SIGINT}));
    // A second one can be made once the first is gone.
    TerminationSignals again([](int) {});
    EXPECT_TRUE(again.isValid());
}

TEST_F(RuntimeTest, SecondCopyWithoutKeypadShowsTheFirstAndEnds)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    auto first = makeRuntime(QStringLiteral("a"), QString::fromStdString(keypad.linkPath()), {QStringLiteral("minimized")});
    ASSERT_TRUE(first->start());
    EXPECT_TRUE(first->minimized());
    EXPECT_EQ(windowOf(*first).showCount(), 0); // only the tray
    EXPECT_EQ(windowOf(*first).title(), WindowTitle::title(QString(), true));

    auto second = makeRuntime(QStringLiteral("b"), dir.path() + QStringLiteral("/no-keypad-here"));
    EXPECT_FALSE(second->start());
    EXPECT_TRUE(pumpUntil([&] { return windowOf(*first).showCount() == 1; }));
}

TEST_F(RuntimeTest, SecondCopyWithPluginFileMakesTheFirstAddIt)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    auto first = makeRuntime(QStringLiteral("a"), QString::fromStdString(keypad.linkPath()));
    ASSERT_TRUE(first->start());
    EXPECT_EQ(first->core().catalogue.findByIdentifier(QStringLiteral("test.alpha")), nullptr);

    auto second = makeRuntime(QStringLiteral("b"), dir.path() + QStringLiteral("/no-keypad-here"),
                              {QStringLiteral(CORE_TEST_PLUGIN_DIR "/core_test_alpha.pkx")});
    EXPECT_FALSE(second->start());
    EXPECT_TRUE(pumpUntil([&] { return first->core().catalogue.findByIdentifier(QStringLiteral("test.alpha")) != nullptr; }));
}

TEST_F(RuntimeTest, SecondKeypadGivesEachCopyItsOwnProfile)
{
    KeypadEmulator &a = startKeypad(QStringLiteral("keypad-a"));
    KeypadEmulator &b = startKeypad(QStringLiteral("keypad-b"));
    auto first = makeRuntime(QStringLiteral("shared"), QString::fromStdString(a.linkPath()));
    ASSERT_TRUE(first->start());
    EXPECT_TRUE(first->core().profileSuffix.isEmpty());
    auto second = makeRuntime(QStringLiteral("shared2"), QString::fromStdString(b.linkPath()));
    ASSERT_TRUE(second->start());
    EXPECT_EQ(second->core().profileSuffix, QStringLiteral("keypad-b"));
    EXPECT_TRUE(pumpUntil([&] { return first->core().profileSuffix == QStringLiteral("keypad-a"); }));
    EXPECT_TRUE(windowOf(*first).title().endsWith(QStringLiteral("(keypad-a)")));
}

TEST_F(RuntimeTest, ExitSavesTheSizeButNotUnsavedLayoutsAndDarkensTheKeys)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    auto runtime = makeRuntime(QStringLiteral("a"), QString::fromStdString(keypad.linkPath()));
    ASSERT_TRUE(runtime->start());
    ASSERT_TRUE(pumpUntil([&] { return keypad.displayOn() && runtime->link().IsConnected(); }));
    runtime->window().resizeTo(640, 480); // the user sized the window
    runtime->core().addLayout(QStringLiteral("Unsaved"), QString(), LayoutState::New);
    runtime->post(new MainThreadEvent(PrivateMessage::Exit));
    ASSERT_TRUE(pumpUntil([&] { return !exitCodes.empty(); }));
    EXPECT_EQ(exitCodes, std::vector<int>{0});
    EXPECT_FALSE(keypad.displayOn());
    EXPECT_EQ(runtime->core().activeLayout, nullptr);
    EXPECT_FALSE(runtime->link().IsConnected());
    runtime.reset();

    SettingsStore store(storeFolder(QStringLiteral("a")));
    const KeyPath key = SettingsStore::settingsKey();
    EXPECT_EQ(store.readDword(key, QStringLiteral("SizeX")), 640);
    EXPECT_EQ(store.readDword(key, QStringLiteral("SizeY")), 480);
    EXPECT_FALSE(store.keyExists(key + QStringList{QStringLiteral("Config"), QStringLiteral("Unsaved")}));
}

// Waits until no line has gone to the keypad for 700 ms (the reels are at rest).
bool settled(KeypadEmulator &keypad)
{
    return RuntimeFixture::pumpUntil([&] {
        const long before = keypad.packetCount(1);
        QCoreApplication::processEvents();
        return !keypad.waitUntil([&] { return keypad.packetCount(1) != before; }, std::chrono::milliseconds(700));
    });
}

TEST_F(RuntimeTest, PressOnTheKeypadSpinsTheVegasReels)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    auto runtime = makeRuntime(QStringLiteral("a"), QString::fromStdString(keypad.linkPath()));
    ASSERT_TRUE(runtime->start());
    ASSERT_TRUE(runtime->seedDemo());
    EXPECT_FALSE(runtime->seedDemo()); // only onto an empty layout
    ASSERT_TRUE(pumpUntil([&] { return linesTo(keypad, 1) > 0 && linesTo(keypad, 2) > 0 && linesTo(keypad, 3) > 0; }));
    ASSERT_TRUE(settled(keypad));
    const long key2 = linesTo(keypad, 2);
    keypad.press(2);
    EXPECT_TRUE(pumpUntil([&] { return linesTo(keypad, 2) > key2; }));
}

TEST_F(RuntimeTest, TurnedKeypadRoutesPressesToTheMirroredSlot)
{
    KeypadEmulator &keypad = startKeypad(QStringLiteral("keypad-a"));
    auto runtime = makeRuntime(QStringLiteral("a"), QString::fromStdString(keypad.linkPath()));
    ASSERT_TRUE(runtime->start());
    AppCore &core = runtime->core();
    core.settings.setValue(Settings::Orientation, 1);
    PluginEntry *vegas = core.catalogue.findByIdentifier(QStringLiteral("bsp.vegas.mfc5"));
    ASSERT_TRUE(vegas && vegas->library && vegas->library->load());
    // One reel, on slot 2: a turned keypad shows it on device key 1.
    core.assignFromCatalogue(*vegas->library->function(1), *core.activeLayout, 2);
    ASSERT_TRUE(pumpUntil([&] { return linesTo(keypad, 1) > 0; }));
    ASSERT_TRUE(settled(keypad));
    const long key1 = linesTo(keypad, 1);

    keypad.press(3); // slot 0: empty
    pumpUntil([] { return false; }, std::chrono::milliseconds(300)); // the report reaches the main thread
    EXPECT_TRUE(settled(keypad));
    EXPECT_EQ(linesTo(keypad, 1), key1);

    keypad.press(1); // slot 2: the reel spins
    EXPECT_TRUE(pumpUntil([&] { return linesTo(keypad, 1) > key1; }));
}

} // namespace
} // namespace pixkey::test
