#include "ConfiguratorWindowAdapter.h"

#include "AppCore.h"
#include "CPxkPluginListView.h"
#include "ConfiguratorWindow.h"
#include "DeviceLink.h"
#include "KeyPreview.h"
#include "LayoutSwitcher.h"
#include "MainThreadEvent.h"
#include "Runtime.h"
#include "SettingsDialog.h"
#include "TrayIcon.h"

#include <QApplication>
#include <QScreen>
#include <QTimer>

#include <algorithm>

namespace pixkey {

ConfiguratorWindowAdapter::ConfiguratorWindowAdapter(AppCore &core, Runtime &runtime)
    : m_core(core), m_window(std::make_unique<ConfiguratorWindow>(core))
{
    Runtime *target = &runtime;
    QObject::connect(m_window.get(), &ConfiguratorWindow::hotkeyChanged, m_window.get(),
                     [target] { target->post(new MainThreadEvent(PrivateMessage::HotkeyChanged, 1, 0)); });
    QObject::connect(m_window.get(), &ConfiguratorWindow::exitRequested, m_window.get(),
                     [target] { target->post(new MainThreadEvent(PrivateMessage::Exit)); });
    QObject::connect(&m_window->settingsDialog(), &SettingsDialog::orientationChanged, m_window.get(),
                     [target] { target->post(new MainThreadEvent(PrivateMessage::OrientationChanged)); });
    // The row selector forces its row, through the same path as the modifier keys.
    m_window->setRowHandler(
        [target](int row) { target->post(new MainThreadEvent(PrivateMessage::ModifierRow, row, 1)); });
    // Where the desktop reports no held modifiers, the tray menu offers the rows to latch by hand.
    m_window->tray().setRowsUnavailable([target] { return target->capabilityUnavailable(DesktopCapability::ModifierRows); });
    m_window->tray().setRowHandler([target](int row) { target->switcher().chooseRow(row); });
    m_window->settingsDialog().setDesktopReport([target] { return target->desktopReport(); });
    // The link retries on its own thread and keeps why its last attempt failed; the tray's tip
    // tells the user, for example which two ways lead to a port the user may not open. Looked at
    // only while the keypad is not connected: a connected link has no problem to show, and the
    // program at rest should not wake for it.
    m_problemTimer = new QTimer(m_window.get());
    m_problemTimer->setInterval(kProblemPollMs);
    QObject::connect(m_problemTimer, &QTimer::timeout, m_window.get(), [this, target] { showKeypadProblem(*target); });
    m_problemTimer->start();
}

void ConfiguratorWindowAdapter::showKeypadProblem(Runtime &runtime)
{
    const DeviceLink &link = runtime.link();
    const bool connected = link.IsConnected();
    m_window->setKeypadProblem(connected ? QString() : QString::fromStdString(link.lastOpenError()));
}

ConfiguratorWindowAdapter::~ConfiguratorWindowAdapter() = default;

void ConfiguratorWindowAdapter::layoutActivated(LayoutConfig *layout) { m_window->onLayoutActivated(layout); }
void ConfiguratorWindowAdapter::facesChanged(PluginInstance *instance) { m_window->onFacesChanged(instance); }
void ConfiguratorWindowAdapter::rowChanged() { m_window->onRowChanged(); }
void ConfiguratorWindowAdapter::connectionChanged(bool connected)
{
    m_window->onConnectionChanged(connected);
    if (connected) {
        m_problemTimer->stop();
        m_window->setKeypadProblem(QString());
    } else if (!m_problemTimer->isActive()) {
        m_problemTimer->start();
    }
}
void ConfiguratorWindowAdapter::coreReloaded() { m_window->onCoreReloaded(); }
void ConfiguratorWindowAdapter::catalogueChanged() { m_window->onCatalogueChanged(); }
int ConfiguratorWindowAdapter::optionsBusy() const { return m_window->optionsBusy(); }
bool ConfiguratorWindowAdapter::keyPreviewHasFocus() const { return m_window->keyPreview().hasFocus(); }
bool ConfiguratorWindowAdapter::pluginListHasFocus() const { return m_window->pluginList().hasFocus(); }

void ConfiguratorWindowAdapter::setTitle(const QString &withVersion, const QString &)
{
    // The tray tip follows the core's profile by itself.
    m_window->setWindowTitle(withVersion);
}

void ConfiguratorWindowAdapter::addPluginFile(const QString &path) { m_window->addPluginFile(path); }

// The window keeps its size in the settings record while it is visible.
int ConfiguratorWindowAdapter::width() const { return m_core.settings.value(Settings::SizeX); }
int ConfiguratorWindowAdapter::height() const { return m_core.settings.value(Settings::SizeY); }

void ConfiguratorWindowAdapter::resizeTo(int width, int height)
{
    // No larger than a maximized window of the screen.
    const QScreen *screen = m_window->screen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, width, height);
    m_window->move(0, 0);
    m_window->resize(std::min(width, available.width()), std::min(height, available.height()));
}

void ConfiguratorWindowAdapter::showWindow() { m_window->showConfigurator(); }

TrayState ConfiguratorWindowAdapter::trayState() const { return m_window->tray().state(); }

void ConfiguratorWindowAdapter::closeAll()
{
    // Every other visible window of the program closes (open dialogs first), then the main one.
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (widget != m_window.get() && widget->isVisible() && widget->window() == widget &&
            widget->inherits("QDialog"))
            widget->close();
    m_window->hide();
}

} // namespace pixkey
