// The tray menu, the settings dialog and the OLED dialog on a real application core: what the
// menu offers, and what every control does to the record and the keypad, Cancel included.

#include "ConfiguratorFixture.h"

#include "CConfigComboBox.h"
#include "HotkeyEdit.h"
#include "ImagePicker.h"
#include "KeyPreview.h"
#include "OledSettingsDialog.h"
#include "SettingsDialog.h"
#include "TrayIcon.h"

#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QMenu>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>

namespace pixkey::test {
namespace {

using TrayTest = ConfiguratorFixture;
using SettingsDialogTest = ConfiguratorFixture;

QStringList menuTexts(QMenu &menu)
{
    QStringList texts;
    for (QAction *a : menu.actions())
        texts << (a->isSeparator() ? QStringLiteral("-") : a->text() + (a->isChecked() ? QStringLiteral(" [x]") : QString()));
    return texts;
}

TEST_F(TrayTest, MenuListsManualLayoutsInOrderWithTheActiveOneChecked)
{
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("zoo")});
    window->addLayoutFromChoice({QString(), QString(), QString(31, QLatin1Char('L'))});
    window->addLayoutFromChoice({QStringLiteral("Editor"), QStringLiteral("/usr/bin/editor"), QString()});
    window->addLayoutFromChoice({QString(), QString(), QStringLiteral("Apple")});
    core->select(-1);
    auto menu = window->tray().buildMenu();
    EXPECT_EQ(menuTexts(*menu), (QStringList{QStringLiteral("Global [x]"), QStringLiteral("Idle"), QStringLiteral("Apple"),
                                             QString(30, QLatin1Char('L')) + QStringLiteral("..."), QStringLiteral("zoo"),
                                             QStringLiteral("-"), QStringLiteral("Auto switch [x]"), QStringLiteral("-"),
                                             QStringLiteral("Configure..."), QStringLiteral("Exit")}));
    EXPECT_EQ(menu->defaultAction()->text(), QStringLiteral("Configure..."));

    menu->actions().at(4)->trigger();
    EXPECT_EQ(core->activeLayout->name(), QStringLiteral("zoo"));
    EXPECT_EQ(window->layoutsBox().currentText(), QStringLiteral("zoo"));

    window->show();
    EXPECT_FALSE(window->tray().buildMenu()->actions().at(8)->isEnabled());
    window->hide();
    EXPECT_TRUE(window->tray().buildMenu()->actions().at(8)->isEnabled());
}

TEST_F(TrayTest, RowSubmenuOnlyWithoutAModifierSourceAndItLatchesTheRow)
{
    // Without a probe, and where the desktop reports held modifiers, there is no "Row".
    EXPECT_EQ(action(*window->tray().buildMenu(), QStringLiteral("Row")), nullptr);
    bool unavailable = false;
    window->tray().setRowsUnavailable([&] { return unavailable; });
    EXPECT_EQ(action(*window->tray().buildMenu(), QStringLiteral("Row")), nullptr);

    unavailable = true;
    core->setCurrentRow(2);
    auto menu = window->tray().buildMenu();
    QAction *rows = action(*menu, QStringLiteral("Row"));
    ASSERT_NE(rows, nullptr);
    ASSERT_NE(rows->menu(), nullptr);
    EXPECT_EQ(menuTexts(*rows->menu()), (QStringList{QStringLiteral("Default"), QStringLiteral("Ctrl"), QStringLiteral("Shift [x]"),
                                                     QStringLiteral("Alt"), QStringLiteral("Alt+Shift"), QStringLiteral("Ctrl+Shift")}));
    // It sits between the layouts and "Auto switch".
    EXPECT_EQ(menuTexts(*menu).mid(2, 3), (QStringList{QStringLiteral("-"), QStringLiteral("Row"), QStringLiteral("Auto switch [x]")}));

    // Without a handler the core shows the row (an empty one too) and the keys are sent again.
    keypad.calls.clear();
    rows->menu()->actions().at(5)->trigger();
    EXPECT_EQ(core->currentRow, 5);
    EXPECT_FALSE(keypad.calls.empty());
    // The program's handler (the switching) gets the row instead.
    std::vector<int> chosen;
    window->tray().setRowHandler([&](int row) { chosen.push_back(row); });
    action(*window->tray().buildMenu(), QStringLiteral("Row"))->menu()->actions().at(3)->trigger();
    EXPECT_EQ(chosen, std::vector<int>{3});
    EXPECT_EQ(core->currentRow, 5);
    EXPECT_TRUE(action(*window->tray().buildMenu(), QStringLiteral("Row"))->isEnabled());
    core->select(-2);
    EXPECT_FALSE(action(*window->tray().buildMenu(), QStringLiteral("Row"))->isEnabled());
}

TEST_F(TrayTest, TipNamesTheProfile)
{
    EXPECT_EQ(window->tray().tip(), QStringLiteral("Pixkey mini Configurator"));
    EXPECT_TRUE(window->windowTitle().startsWith(QStringLiteral("Pixkey mini Configurator")));
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" beta")));
    core->profileSuffix = QStringLiteral("ttyUSB1");
    window->setWindowTitle(ConfiguratorWindow::title(*core, true));
    EXPECT_EQ(window->tray().tip(), QStringLiteral("Pixkey mini Configurator (ttyUSB1)"));
    EXPECT_TRUE(window->windowTitle().endsWith(QStringLiteral(" beta (ttyUSB1)")));
}

TEST_F(TrayTest, TipTellsWhyTheKeypadCannotBeUsed)
{
    const QString denied = QStringLiteral("permission denied for /dev/ttyUSB0: install the pixkey-mini package, ...");
    window->setKeypadProblem(denied);
    EXPECT_EQ(window->tray().tip(), QStringLiteral("Pixkey mini Configurator\n") + denied);
    // A changed title keeps the problem under it; a usable keypad takes it away.
    core->profileSuffix = QStringLiteral("ttyUSB1");
    window->setWindowTitle(ConfiguratorWindow::title(*core, true));
    EXPECT_EQ(window->tray().tip(), QStringLiteral("Pixkey mini Configurator (ttyUSB1)\n") + denied);
    window->setKeypadProblem(QString());
    EXPECT_EQ(window->tray().tip(), QStringLiteral("Pixkey mini Configurator (ttyUSB1)"));
}

TEST_F(TrayTest, AutoSwitchTogglesAndIsStored)
{
    core->settings.setValue(Settings::AutoSwitch, 7); // a stored value outside 0..1
    auto menu = window->tray().buildMenu();
    QAction *autoSwitch = menu->actions().at(3);
    ASSERT_EQ(autoSwitch->text(), QStringLiteral("Auto switch"));
    EXPECT_FALSE(autoSwitch->isChecked());
    autoSwitch->trigger();
    EXPECT_EQ(core->settings.value(Settings::AutoSwitch), 1);
    window->tray().buildMenu()->actions().at(3)->trigger();
    EXPECT_EQ(core->settings.value(Settings::AutoSwitch), 0);
    restart();
    EXPECT_EQ(core->settings.value(Settings::AutoSwitch), 0);
}

TEST_F(TrayTest, ExitAndConfigureReachTheWindow)
{
    QSignalSpy exits(window.get(), &ConfiguratorWindow::exitRequested);
    auto menu = window->tray().buildMenu();
    menu->actions().last()->trigger();
    EXPECT_EQ(exits.count(), 1);
    menu->actions().at(menu->actions().size() - 2)->trigger();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(TrayTest, WithoutANotificationAreaTheTrayGivesUpAfterItsRetries)
{
    TrayIcon tray(*core);
    int probes = 0;
    tray.setAvailabilityProbe([&] { ++probes; return false; });
    tray.setRetryInterval(1);
    QSignalSpy unavailable(&tray, &TrayIcon::unavailable);
    tray.update();
    tray.update(); // waits for the pending retry instead of counting as one
    EXPECT_EQ(probes, 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return unavailable.count() > 0; }, 10000));
    EXPECT_EQ(probes, TrayIcon::kRetries);
    EXPECT_EQ(unavailable.count(), 1);
    EXPECT_TRUE(tray.gaveUp());
    EXPECT_FALSE(tray.isShown());
    // Switched off: no attempt at all.
    core->settings.setValue(Settings::TrayIcon, 0);
    const int before = probes;
    tray.update();
    EXPECT_EQ(probes, before);
}

TEST_F(TrayTest, WithoutANotificationAreaTheWindowShowsAndClosingAsksToExit)
{
    window->tray().setRetryInterval(1);
    window->tray().update();
    EXPECT_TRUE(QTest::qWaitFor([&] { return window->isVisible(); }, 10000));
    EXPECT_TRUE(window->asksExitOnClose());
}

TEST_F(SettingsDialogTest, CancelPutsOrientationGammaAndBrightnessBackOnTheKeypad)
{
    SettingsDialog &dialog = window->settingsDialog();
    dialog.showSettings();
    keypad.calls.clear();
    // Picker position 2 is orientation 3.
    dialog.orientationPicker().setFocus();
    QTest::keyClick(&dialog.orientationPicker(), Qt::Key_Right);
    QTest::keyClick(&dialog.orientationPicker(), Qt::Key_Right);
    EXPECT_EQ(core->settings.value(Settings::Orientation), 3);
    EXPECT_EQ(window->keyPreview().orientation(), 3);
    EXPECT_TRUE(keypad.saw("hold"));
    QTest::keyClick(&dialog.brightnessPicker(), Qt::Key_Right); // wraps from 2 to 0
    EXPECT_EQ(core->settings.value(Settings::Brightness), 0);
    EXPECT_TRUE(keypad.saw("brightness 20"));

    OledSettingsDialog oled(*core);
    oled.gammaBox().setText(QStringLiteral("1.23"));
    oled.commitGammaText();
    EXPECT_EQ(core->settings.value(Settings::Gamma), 24);
    EXPECT_EQ(oled.gammaSlider().value(), 24);
    EXPECT_EQ(oled.gammaBox().text(), QStringLiteral("1.20"));
    EXPECT_TRUE(keypad.saw("gamma 120"));
    oled.accept();

    keypad.calls.clear();
    dialog.reject();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(core->settings.value(Settings::Orientation), 0);
    EXPECT_EQ(core->settings.value(Settings::Gamma), 13);
    EXPECT_EQ(core->settings.value(Settings::Brightness), 2);
    EXPECT_TRUE(keypad.saw("gamma 65"));
    EXPECT_TRUE(keypad.saw("brightness 60"));
    EXPECT_TRUE(keypad.saw("refresh"));
    EXPECT_EQ(window->keyPreview().orientation(), 0);
    // Nothing reached the store.
    restart();
    EXPECT_EQ(core->settings.value(Settings::Gamma), 13);
}

// A report with a capability in each state, and the notification area missing on GNOME.
DesktopItems mixedReport()
{
    const CapabilityReports reports = {
        {DesktopCapability::ActiveWindow, CapabilityState::Working, "KWin script focus events", ""},
        {DesktopCapability::SwitchHotkey, CapabilityState::NeedsStep, "the GlobalShortcuts portal",
         "Confirm the shortcut in the dialog the desktop shows once."},
        {DesktopCapability::ModifierRows, CapabilityState::Unavailable, "this desktop reports no held modifiers", ""},
    };
    return DesktopReport::items(reports, TrayState::Missing, QStringLiteral("GNOME"));
}

QString labelText(QWidget &page, const QString &name)
{
    auto *label = page.findChild<QLabel *>(name);
    return label ? label->text() : QStringLiteral("<none>");
}

TEST_F(SettingsDialogTest, DesktopPageShowsEachCapabilityWithItsStepOrFallback)
{
    SettingsDialog &dialog = window->settingsDialog();
    int asked = 0;
    dialog.setDesktopReport([&] { ++asked; return mixedReport(); });
    dialog.showSettings();
    EXPECT_EQ(asked, 0); // read only when the page is shown
    dialog.pages().setCurrentWidget(&dialog.desktopPage());
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(dialog.pages().tabText(dialog.pages().indexOf(&dialog.desktopPage())), QStringLiteral("Desktop"));

    QWidget &page = dialog.desktopPage();
    ASSERT_EQ(dialog.desktopLines().size(), 4);
    EXPECT_EQ(labelText(page, QStringLiteral("desktop-name-0")), QStringLiteral("<b>Active window</b>"));
    EXPECT_TRUE(labelText(page, QStringLiteral("desktop-state-0")).contains(QStringLiteral(">working<")));
    EXPECT_EQ(labelText(page, QStringLiteral("desktop-how-0")), QStringLiteral("KWin script focus events"));
    EXPECT_EQ(page.findChild<QLabel *>(QStringLiteral("desktop-step-0")), nullptr);
    EXPECT_TRUE(labelText(page, QStringLiteral("desktop-state-1")).contains(QStringLiteral(">needs a step<")));
    EXPECT_EQ(labelText(page, QStringLiteral("desktop-step-1")), QStringLiteral("Confirm the shortcut in the dialog the desktop shows once."));
    EXPECT_TRUE(labelText(page, QStringLiteral("desktop-state-2")).contains(QStringLiteral(">unavailable<")));
    EXPECT_TRUE(labelText(page, QStringLiteral("desktop-step-2")).contains(QStringLiteral("pixkeyctl row NAME")));
    EXPECT_EQ(labelText(page, QStringLiteral("desktop-name-3")), QStringLiteral("<b>Notification area</b>"));
    EXPECT_TRUE(labelText(page, QStringLiteral("desktop-step-3")).contains(QStringLiteral("AppIndicator")));
    // The page and pixkeyctl desktop say the same.
    const QString printed = DesktopReport::text(mixedReport());
    for (const DesktopLine &line : dialog.desktopLines())
        EXPECT_TRUE(printed.contains(line.name + QStringLiteral(": ") + line.state + QStringLiteral(" (") + line.how + QLatin1Char(')')) &&
                    printed.contains(line.step))
            << line.name.toStdString();

    // "Check again" reads the report anew: a capability that started working loses its step.
    QPushButton *again = page.findChild<QPushButton *>(QStringLiteral("desktop-check-again"));
    ASSERT_NE(again, nullptr);
    dialog.setDesktopReport([] {
        return DesktopReport::items({{DesktopCapability::ModifierRows, CapabilityState::Working, "held modifiers", ""}},
                                    TrayState::Shown, QString());
    });
    again->click();
    ASSERT_EQ(dialog.desktopLines().size(), 2);
    EXPECT_EQ(page.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^desktop-step-"))).size(), 0);
    EXPECT_EQ(labelText(page, QStringLiteral("desktop-name-0")), QStringLiteral("<b>Modifier rows</b>"));

    // Sending keys through /dev/uinput: switched at once (the report is read again), put back by
    // Cancel; a setting that cannot be written leaves the box as stored and says so.
    bool stored = false, writable = true;
    int choices = 0;
    dialog.setKeySending([&] { return stored; },
                         [&](bool on) {
                             if (writable)
                                 stored = on;
                             return writable;
                         },
                         [&] { ++choices; });
    again->click();
    EXPECT_EQ(choices, 1); // "Check again" lets the key sending choose its way again
    asked = 0;
    dialog.setDesktopReport([&] { ++asked; return mixedReport(); });
    dialog.showSettings();
    EXPECT_EQ(asked, 1); // the Desktop page is the one shown
    dialog.uinputBox().click();
    EXPECT_TRUE(stored);
    EXPECT_EQ(asked, 2);
    dialog.reject();
    EXPECT_FALSE(stored);
    EXPECT_FALSE(dialog.uinputBox().isChecked());
    dialog.showSettings();
    writable = false;
    dialog.uinputBox().click();
    EXPECT_FALSE(dialog.uinputBox().isChecked());
    ASSERT_FALSE(messages.empty());
    EXPECT_TRUE(messages.back().text.contains(QStringLiteral("/dev/uinput")));
    writable = true;
    dialog.uinputBox().click();
    dialog.accept();
    EXPECT_TRUE(stored); // OK keeps it

    // Nothing known: the page says so instead of an empty list.
    dialog.setDesktopReport({});
    again->click();
    EXPECT_TRUE(dialog.desktopLines().isEmpty());
    EXPECT_EQ(page.findChildren<QLabel *>(QRegularExpression(QStringLiteral("^desktop-name-"))).size(), 0);
    dialog.reject();
}

TEST_F(TrayTest, StateFollowsTheNotificationArea)
{
    TrayIcon tray(*core);
    tray.setAvailabilityProbe([] { return false; });
    tray.setRetryInterval(1);
    EXPECT_EQ(tray.state(), TrayState::Unknown);
    QSignalSpy unavailable(&tray, &TrayIcon::unavailable);
    tray.update();
    ASSERT_TRUE(unavailable.wait(5000) || unavailable.count() == 1);
    EXPECT_EQ(tray.state(), TrayState::Missing);
    core->settings.setValue(Settings::TrayIcon, 0); // switched off: nothing to report
    EXPECT_EQ(tray.state(), TrayState::Unknown);
}

TEST_F(SettingsDialogTest, TimeSlidersStayOrdered)
{
    SettingsDialog &dialog = window->settingsDialog();
    dialog.showSettings();
    dialog.idleSlider().setValue(100);
    EXPECT_EQ(core->settings.value(Settings::ScreensaverOn), 100);
    EXPECT_EQ(core->settings.value(Settings::IlluminationOff), 100);
    EXPECT_EQ(dialog.illuminationSlider().value(), 100);
    dialog.illuminationSlider().setValue(0);
    EXPECT_EQ(core->settings.value(Settings::ScreensaverOn), 0);
    EXPECT_EQ(dialog.idleSlider().value(), 0);
    dialog.illuminationSlider().setValue(81);
    EXPECT_EQ(dialog.illuminationText().text(), QStringLiteral("1:30"));
    EXPECT_EQ(core->settings.value(Settings::ScreensaverOn), 0);
}

TEST_F(SettingsDialogTest, OkStoresEverythingAndAsksForTheHotkeyAgain)
{
    QSignalSpy hotkey(window.get(), &ConfiguratorWindow::hotkeyChanged);
    SettingsDialog &dialog = window->settingsDialog();
    dialog.showSettings();
    EXPECT_EQ(dialog.hotkeyEdit().text(), QStringLiteral("Win+Space"));
    dialog.hotkeyEdit().setFocus();
    QTest::keyClick(&dialog.hotkeyEdit(), Qt::Key_F5, Qt::ControlModifier);
    EXPECT_EQ(dialog.hotkeyEdit().text(), QStringLiteral("Ctrl+F5"));
    dialog.idleSlider().setValue(50);
    dialog.accept();
    EXPECT_EQ(hotkey.count(), 1);
    EXPECT_FALSE(dialog.isVisible());
    restart();
    EXPECT_EQ(core->settings.value(Settings::SwitchLayoutModifier), 2);
    EXPECT_EQ(core->settings.value(Settings::SwitchLayoutHotkey), 0x74);
    EXPECT_EQ(core->settings.value(Settings::ScreensaverOn), 50);
}

TEST_F(SettingsDialogTest, StartWithTheDesktopIsWrittenByOkAndLeftAsItWasByCancel)
{
    QTemporaryDir config;
    const Autostart autostart(config.path(), QCoreApplication::applicationFilePath());
    SettingsDialog &dialog = window->settingsDialog();
    dialog.setAutostart(autostart);
    dialog.showSettings();
    EXPECT_FALSE(dialog.autostartBox().isChecked());
    dialog.autostartBox().setChecked(true);
    dialog.reject();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(dialog.autostartBox().isChecked());

    dialog.showSettings();
    dialog.autostartBox().setChecked(true);
    dialog.accept();
    EXPECT_TRUE(autostart.isEnabled());
    // Shown again, the box reads the entry, also one the user removed behind the dialog's back.
    dialog.showSettings();
    EXPECT_TRUE(dialog.autostartBox().isChecked());
    dialog.reject();
    ASSERT_TRUE(autostart.disable());
    dialog.showSettings();
    EXPECT_FALSE(dialog.autostartBox().isChecked());
    dialog.autostartBox().setChecked(true);
    dialog.accept();
    dialog.showSettings();
    dialog.autostartBox().setChecked(false);
    dialog.accept();
    EXPECT_FALSE(autostart.isEnabled());
    EXPECT_FALSE(QFile::exists(autostart.entryPath()));
}

TEST_F(SettingsDialogTest, AHotkeyWithoutModifierIsCleared)
{
    SettingsDialog &dialog = window->settingsDialog();
    core->settings.setValue(Settings::SwitchLayoutModifier, 0);
    dialog.showSettings();
    EXPECT_EQ(dialog.hotkeyEdit().key(), 0);
    EXPECT_EQ(dialog.hotkeyEdit().text(), QString());
    dialog.hotkeyEdit().setFocus();
    QTest::keyClick(&dialog.hotkeyEdit(), Qt::Key_A);
    EXPECT_EQ(dialog.hotkeyEdit().key(), 0);
}

TEST_F(SettingsDialogTest, DefaultSettingsKeepAutoSwitchAndWindowSize)
{
    core->settings.setValue(Settings::AutoSwitch, 0);
    core->settings.setValue(Settings::SizeX, 800);
    core->settings.setValue(Settings::Gamma, 30);
    SettingsDialog &dialog = window->settingsDialog();
    dialog.showSettings();
    dialog.applyToControls(dialog.defaultRecord());
    EXPECT_EQ(core->settings.value(Settings::Gamma), 13);
    EXPECT_EQ(core->settings.value(Settings::AutoSwitch), 0);
    EXPECT_EQ(core->settings.value(Settings::SizeX), 800);
}

TEST(OledSettingsParsing, TypedValues)
{
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("1.23")), 24);
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("0.35")), 7);
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("3")), 60); // kept beyond the slider
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("abc")), std::nullopt);
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("-1")), std::nullopt);
    EXPECT_EQ(OledSettingsDialog::parseGamma(QStringLiteral("1e300")), std::nullopt);
    EXPECT_EQ(OledSettingsDialog::parseWhiteBalance(QStringLiteral("7000")), 7000);
    EXPECT_EQ(OledSettingsDialog::parseWhiteBalance(QStringLiteral("70.5")), std::nullopt);
    EXPECT_EQ(OledSettingsDialog::parseWhiteBalance(QStringLiteral("0")), std::nullopt);
}

TEST_F(SettingsDialogTest, OledCancelRestoresAndBadTextIsRefused)
{
    OledSettingsDialog oled(*core);
    oled.whiteBox().setText(QStringLiteral("nonsense"));
    oled.commitWhiteText();
    EXPECT_EQ(oled.whiteBox().text(), QStringLiteral("8500"));
    EXPECT_EQ(core->settings.value(Settings::WhiteBalance), 8500);
    oled.whiteSlider().setValue(12000);
    EXPECT_EQ(oled.whiteBox().text(), QStringLiteral("12000"));
    EXPECT_TRUE(keypad.saw("white 12000"));
    oled.restoreDefaults();
    oled.whiteSlider().setValue(6000);
    keypad.calls.clear();
    oled.reject();
    EXPECT_EQ(core->settings.value(Settings::WhiteBalance), 8500);
    EXPECT_TRUE(keypad.saw("white 8500"));
    EXPECT_FALSE(keypad.saw("gamma 65")); // unchanged, not sent
}

} // namespace
} // namespace pixkey::test
