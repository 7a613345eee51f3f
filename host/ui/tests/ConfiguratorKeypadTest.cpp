// The configurator against the emulated keypad behind a real device link: what the user does in
// the window and the settings dialog shows on the keys, and Cancel puts the keys back.

#include "AppCore.h"
#include "ConfiguratorWindow.h"
#include "CPxkPluginListView.h"
#include "DeviceKeypad.h"
#include "DeviceLink.h"
#include "DeviceListener.h"
#include "ImagePicker.h"
#include "MainThreadQueue.h"
#include "SettingsDialog.h"
#include "SettingsStore.h"
#include "TrayIcon.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <QDir>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidgetItemIterator>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>

namespace pixkey::test {
namespace {

class ConnectionListener : public DeviceListener {
public:
    void OnKeyPressed(int) override {}
    void OnConnectionChanged(int state) override { connected = state != 0; }
    std::atomic<bool> connected{false};
};

enum class Look { Face, Black, Other };

class ConfiguratorKeypadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(QDir().mkpath(programDir.path() + QStringLiteral("/Plugins")));
        ASSERT_TRUE(emulated.start());
        {
            const auto port = emulated.portVariable();
            link = std::make_unique<DeviceLink>(&listener);
        }
        store = std::make_unique<SettingsStore>(storeDir.path() + QStringLiteral("/Vostrel"));
        keypad = std::make_unique<DeviceKeypad>(*link, [this] { return core->settings.value(Settings::Orientation); });
        core = std::make_unique<AppCore>(*store, PluginCatalogue::Folders{programDir.path(), userDir.path() + QStringLiteral("/Plugins")},
                                         queue, *keypad);
        queue.setFaceHandler([this](PluginInstance &instance) { core->faceChanged(instance); });
        core->fullLoad(true);
        ASSERT_TRUE(pumpUntil([&] { return listener.connected.load(); })) << link->lastOpenError();
        core->select(-1);
        window = std::make_unique<ConfiguratorWindow>(*core);
        window->tray().setAvailabilityProbe([] { return false; });
        window->messages().setFunction([](QWidget *, QMessageBox::Icon, const QString &, const QString &,
                                          QMessageBox::StandardButtons) { return QMessageBox::Ok; });
    }
    void TearDown() override
    {
        window.reset();
        core.reset();
        link.reset();
    }

    bool pumpUntil(const std::function<bool()> &done)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (!done()) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            queue.pumpFor(std::chrono::milliseconds(20));
            QCoreApplication::processEvents();
        }
        return true;
    }

    // What device key 1..3 shows: the test plug-in's face (strongly red), black, or anything else.
    Look look(int deviceKey) const
    {
        const std::vector<uint8_t> rgb = emulated->shownFrameRgb(deviceKey);
        if (rgb.size() < 3 * 96 * 96)
            return Look::Other;
        const std::size_t middle = (48 * 96 + 48) * 3;
        const int r = rgb[middle], g = rgb[middle + 1], b = rgb[middle + 2];
        if (r < 12 && g < 12 && b < 12)
            return Look::Black;
        return r > 100 && r > 2 * g ? Look::Face : Look::Other;
    }

    QTemporaryDir storeDir, programDir, userDir;
    EmulatedKeypad emulated;
    ConnectionListener listener;
    std::unique_ptr<DeviceLink> link;
    std::unique_ptr<SettingsStore> store;
    std::unique_ptr<DeviceKeypad> keypad;
    MainThreadQueue queue;
    std::unique_ptr<AppCore> core;
    std::unique_ptr<ConfiguratorWindow> window;
};

TEST_F(ConfiguratorKeypadTest, SettingsCancelPutsOrientationAndBrightnessBackOnTheKeypad)
{
    window->addPluginFile(QStringLiteral(UI_TEST_PLUGIN_DIR "/ui_test_plain.pkx"));
    window->assignToKey(0);
    ASSERT_TRUE(pumpUntil([&] { return look(1) == Look::Face && look(3) == Look::Black; }));

    SettingsDialog &dialog = window->settingsDialog();
    dialog.showSettings();
    // Orientation 1 turns the keypad over: slot 0 is now device key 3.
    dialog.orientationPicker().setFocus();
    QTest::keyClick(&dialog.orientationPicker(), Qt::Key_Right);
    QTest::keyClick(&dialog.brightnessPicker(), Qt::Key_Left);
    EXPECT_TRUE(pumpUntil([&] { return look(3) == Look::Face && look(1) == Look::Black && emulated->brightness() == 40; }));

    dialog.reject();
    EXPECT_TRUE(pumpUntil([&] { return look(1) == Look::Face && look(3) == Look::Black && emulated->brightness() == 60; }));
}

TEST_F(ConfiguratorKeypadTest, CancelShowsTheStoredLayoutOnTheKeys)
{
    window->addPluginFile(QStringLiteral(UI_TEST_PLUGIN_DIR "/ui_test_plain.pkx"));
    window->assignToKey(1);
    window->accept();
    ASSERT_TRUE(pumpUntil([&] { return look(2) == Look::Face; }));
    window->show();
    window->assignToKey(2);
    window->clearKey(1);
    ASSERT_TRUE(pumpUntil([&] { return look(3) == Look::Face && look(2) == Look::Black; }));
    window->reject();
    EXPECT_TRUE(pumpUntil([&] { return look(2) == Look::Face && look(3) == Look::Black; }));
}

} // namespace
} // namespace pixkey::test
