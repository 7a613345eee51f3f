// The host with its real configurator window, off-screen, on a desktop whose report the test sets:
// the tray menu offers "Row" exactly while the desktop reports no held modifiers, a row chosen
// there reaches the switching (also an empty one), and the Desktop page shows the runtime's report
// with the key sending's line.
#include "AppCore.h"
#include "ConfiguratorWindow.h"
#include "ConfiguratorWindowAdapter.h"
#include "Runtime.h"
#include "SettingsDialog.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QMenu>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace pixkey::test {
namespace {

QAction *find(QMenu &menu, const QString &text)
{
    for (QAction *action : menu.actions())
        if (action->text() == text)
            return action;
    return nullptr;
}

TEST(RowMenuTest, RowSubmenuFollowsTheDesktopReportAndLatchesTheRow)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "app_row_menu_test";
    static char *argv[] = {name, nullptr};
    QApplication application(argc, argv);
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());

    CapabilityState rows = CapabilityState::Unavailable;
    Runtime *self = nullptr;
    Runtime::Options options;
    options.arguments = {QStringLiteral("minimized")};
    options.storeFolder = dir.path() + QStringLiteral("/store");
    options.folders = {dir.path() + QStringLiteral("/program"), dir.path() + QStringLiteral("/user")};
    options.hook.runtimeFolder = (dir.path() + QStringLiteral("/peers")).toStdString();
    options.hook.useDisplay = false;
    options.watchSession = false;
    options.watchDevices = false;
    options.openWait = std::chrono::milliseconds(0);
    options.onExit = [](int) {};
    options.capabilities = [&] {
        return CapabilityReports{{DesktopCapability::ModifierRows, rows, "the test's desktop", ""}};
    };
    options.moreCapabilities = [] {
        return CapabilityReports{{DesktopCapability::SendKeys, CapabilityState::Working, "the test's keyboard", ""}};
    };
    options.window = [&self](AppCore &core) -> std::unique_ptr<RuntimeWindow> {
        return std::make_unique<ConfiguratorWindowAdapter>(core, *self);
    };
    qputenv("PIXKEY_PORT", (dir.path() + QStringLiteral("/no-keypad")).toLocal8Bit());
    Runtime runtime(std::move(options));
    self = &runtime;
    ASSERT_TRUE(runtime.start());
    ConfiguratorWindow &window = static_cast<ConfiguratorWindowAdapter &>(runtime.window()).window();

    auto menu = window.tray().buildMenu();
    QAction *row = find(*menu, QStringLiteral("Row"));
    ASSERT_NE(row, nullptr);
    ASSERT_NE(row->menu(), nullptr);
    QAction *ctrlShift = find(*row->menu(), QStringLiteral("Ctrl+Shift"));
    ASSERT_NE(ctrlShift, nullptr);
    ctrlShift->trigger(); // "Global" has nothing on that row: shown all the same
    EXPECT_EQ(runtime.core().currentRow, 5);
    auto again = window.tray().buildMenu();
    EXPECT_TRUE(find(*find(*again, QStringLiteral("Row"))->menu(), QStringLiteral("Ctrl+Shift"))->isChecked());

    // Where the desktop reports the held modifiers, they choose the row: no submenu.
    rows = CapabilityState::Working;
    EXPECT_EQ(find(*window.tray().buildMenu(), QStringLiteral("Row")), nullptr);

    // The Desktop page shows what the runtime reports, the key sending's line included.
    SettingsDialog &settings = window.settingsDialog();
    settings.refreshDesktopPage();
    QStringList names;
    for (const DesktopLine &line : settings.desktopLines())
        names << line.name + QLatin1Char('=') + line.state;
    EXPECT_TRUE(names.startsWith(QStringLiteral("Modifier rows=working"))) << qPrintable(names.join(QLatin1Char(' ')));
    EXPECT_TRUE(names.contains(QStringLiteral("Sending keys=working"))) << qPrintable(names.join(QLatin1Char(' ')));
    runtime.exit();
}

} // namespace
} // namespace pixkey::test
