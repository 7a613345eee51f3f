// Screenshots of the configurator window, its dialogs and the tray menu, written to
// <build>/screenshots for a look (each test also checks that the picture is not empty).

#include "ConfiguratorFixture.h"

#include "AboutDialog.h"
#include "AddLayoutDialog.h"
#include "CPxkPluginListView.h"
#include "LayoutInfoPanel.h"
#include "OledSettingsDialog.h"
#include "PluginAboutPanel.h"
#include "SettingsDialog.h"
#include "TrayIcon.h"

#include <QDir>
#include <QMenu>
#include <QTabWidget>
#include <QTest>

namespace pixkey::test {
namespace {

class ConfiguratorScreenshots : public ConfiguratorFixture {
protected:
    void save(QWidget &widget, const QString &name)
    {
        widget.show();
        QApplication::processEvents();
        QTest::qWait(20);
        const QPixmap picture = widget.grab();
        ASSERT_FALSE(picture.isNull());
        ASSERT_GT(picture.width(), 50);
        QDir().mkpath(QStringLiteral(PIXKEY_SCREENSHOT_DIR));
        ASSERT_TRUE(picture.save(QStringLiteral(PIXKEY_SCREENSHOT_DIR "/") + name)) << name.toStdString();
    }
};

TEST_F(ConfiguratorScreenshots, WindowAndDialogs)
{
    install("ui_test_plain");
    install("ui_test_multi");
    window->pluginList().setCurrentItem(window->pluginList().itemOfEntry(CPxkPluginListView::entryOf(
        window->pluginList().topLevelItem(1))));
    window->assignToKey(0);
    window->pluginList().setCurrentItem(window->pluginList().topLevelItem(0)->child(1));
    window->assignToKey(2);
    window->addLayoutFromChoice({QStringLiteral("Text Editor"), QStringLiteral("/usr/bin/editor"), QString()});
    window->chooseLayout(core->findLayout(QStringLiteral("Global")));
    ASSERT_TRUE(pumpUntil([&] { return !keypad.faces[0].isNull() && !keypad.faces[2].isNull(); }));
    save(*window, QStringLiteral("configurator-window.png"));

    core->settings.setValue(Settings::Orientation, 2);
    window->onCoreReloaded();
    save(*window, QStringLiteral("configurator-window-vertical.png"));
    core->settings.setValue(Settings::Orientation, 0);
    window->onCoreReloaded();

    window->settingsDialog().showSettings();
    save(window->settingsDialog(), QStringLiteral("settings-dialog.png"));
    window->settingsDialog().reject();

    // The Desktop page on a desktop where one capability works, one needs a step, one is missing.
    window->settingsDialog().setDesktopReport([] {
        const CapabilityReports reports = {
            {DesktopCapability::ActiveWindow, CapabilityState::Working, "KWin script focus events", ""},
            {DesktopCapability::SwitchHotkey, CapabilityState::NeedsStep, "the GlobalShortcuts portal",
             "Confirm the shortcut in the dialog the desktop shows once."},
            {DesktopCapability::ModifierRows, CapabilityState::Unavailable, "this desktop reports no held modifiers", ""},
            {DesktopCapability::IdleTime, CapabilityState::Working, "ext-idle-notify-v1", ""},
        };
        return DesktopReport::items(reports, TrayState::Missing, QStringLiteral("GNOME"));
    });
    window->settingsDialog().showSettings();
    window->settingsDialog().pages().setCurrentWidget(&window->settingsDialog().desktopPage());
    save(window->settingsDialog(), QStringLiteral("settings-desktop-page.png"));
    window->settingsDialog().pages().setCurrentIndex(0);
    window->settingsDialog().reject();

    OledSettingsDialog oled(*core);
    save(oled, QStringLiteral("oled-settings-dialog.png"));
    oled.reject();

    AddLayoutDialog add({{QStringLiteral("Media Player"), QStringLiteral("/bin/sh"), QStringLiteral("multimedia-player")},
                         {QStringLiteral("Text Editor"), QStringLiteral("/bin/ls"), QString()}});
    save(add, QStringLiteral("add-layout-dialog.png"));

    window->layoutInfo().showLayout(core->findLayout(QStringLiteral("Text Editor")));
    save(window->layoutInfo(), QStringLiteral("layout-info-panel.png"));

    window->pluginAbout().setEntry(CPxkPluginListView::entryOf(window->pluginList().topLevelItem(0)));
    save(window->pluginAbout(), QStringLiteral("plugin-about-panel.png"));

    AboutDialog about(QStringLiteral("1.2.0"));
    save(about, QStringLiteral("about-dialog.png"));

    window->hide();
    auto menu = window->tray().buildMenu();
    save(*menu, QStringLiteral("tray-menu.png"));
    menu->hide();

    // Where the desktop reports no held modifiers: the Row submenu, Shift latched.
    window->tray().setRowsUnavailable([] { return true; });
    core->setCurrentRow(2);
    auto withRows = window->tray().buildMenu();
    save(*withRows, QStringLiteral("tray-menu-rows.png"));
    for (QAction *action : withRows->actions())
        if (action->menu())
            save(*action->menu(), QStringLiteral("tray-menu-row-submenu.png"));
    withRows->hide();
}

} // namespace
} // namespace pixkey::test
