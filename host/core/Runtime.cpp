#include "Runtime.h"

#include "AppCore.h"
#include "DeviceKeypad.h"
#include "DeviceLink.h"
#include "DeviceLinkPort.h"
#include "DeviceWatcher.h"
#include "FaceHandOff.h"
#include "HostBus.h"
#include "HiddenRuntimeWindow.h"
#include "LayoutSwitcher.h"
#include "MainThreadEvent.h"
#include "PluginCallGuard.h"
#include "PluginEntry.h"
#include "PluginLibrary.h"
#include "PluginInstance.h"
#include "PxkhkDesktop.h"
#include "RuntimeWindow.h"
#include "SessionWatcher.h"
#include "SettingsStore.h"
#include "WindowTitle.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLoggingCategory>
#include <QSocketNotifier>
#include <QThread>

#include <cstdio>
#include <unistd.h>

namespace pixkey {

Q_LOGGING_CATEGORY(lcRuntime, "pixkey.runtime", QtWarningMsg)

// Hook callbacks arrive on the hook thread: each becomes an event for the main thread.
class Runtime::Sink : public HookSink {
public:
    explicit Sink(Runtime &runtime) : m_runtime(runtime) {}
    void onForegroundChanged(unsigned long window, int active) override
    {
        m_runtime.post(new MainThreadEvent(PrivateMessage::ForegroundChanged, std::int64_t(window), active));
    }
    void onModifierRow(int row) override { m_runtime.post(new MainThreadEvent(PrivateMessage::ModifierRow, row, 0)); }
    void onHotkey(int id, std::uint32_t lParam) override
    {
        if (id == LayoutSwitcher::kHotkeyId)
            m_runtime.post(new MainThreadEvent(PrivateMessage::Hotkey, 1, lParam));
    }
    void onPeerMessage(const PeerMessage &message) override
    {
        // Only the messages configurators send each other; anything else is dropped. What comes
        // from a peer is never passed on again (wParam 0).
        switch (PrivateMessage(message.message)) {
        case PrivateMessage::AddPluginFile:
            if (!message.path.empty())
                m_runtime.post(new MainThreadEvent(PrivateMessage::AddPluginFile, 0, 0,
                                                   QString::fromStdString(message.path)));
            break;
        case PrivateMessage::HotkeyChanged:
        case PrivateMessage::Hotkey:
        case PrivateMessage::AdoptProfile:
            m_runtime.post(new MainThreadEvent(PrivateMessage(message.message), 0, message.lParam));
            break;
        default:
            break;
        }
    }
    void onShowWindow() override { m_runtime.post(new MainThreadEvent(PrivateMessage::ShowWindow)); }

private:
    Runtime &m_runtime;
};

Runtime::CommandLine Runtime::parse(const QStringList &arguments)
{
    CommandLine line;
    for (const QString &argument : arguments) {
        QString word = argument;
        while (word.startsWith(QLatin1Char('-')) || word.startsWith(QLatin1Char('/')))
            word.remove(0, 1);
        if (word.compare(QStringLiteral("minimized"), Qt::CaseInsensitive) == 0)
            line.minimized = true;
        else if (argument.endsWith(QStringLiteral(".pkx"), Qt::CaseInsensitive))
            line.pluginFiles << argument;
    }
    return line;
}

Runtime::Runtime(Options options, QObject *parent) : QObject(parent), m_options(std::move(options))
{
    m_commandLine = parse(m_options.arguments);
    if (!m_options.clock) {
        auto timer = std::make_shared<QElapsedTimer>();
        timer->start();
        m_options.clock = [timer] { return std::int64_t(timer->elapsed()); };
    }
    m_idleTimer.setInterval(LayoutSwitcher::kIdlePeriodMs);
}

Runtime::~Runtime()
{
    m_idleTimer.stop();
    m_bus.reset();
    if (m_hook)
        m_hook->UnHook();
    m_session.reset();
    delete m_deviceNotifier;
    m_devices.reset();
    m_switcher.reset();
    if (m_core && m_core->layoutActivated)
        m_core->layoutActivated = nullptr;
    m_window.reset();
    m_core.reset();
    m_keypad.reset();
    m_linkPort.reset();
    m_link.reset();
    m_desktop.reset();
    m_hook.reset();
    m_sink.reset();
    QCoreApplication::removePostedEvents(this);
}

CapabilityReports Runtime::hookCapabilities() const
{
    return m_options.capabilities ? m_options.capabilities() : m_hook ? m_hook->capabilities() : CapabilityReports();
}

CapabilityReports Runtime::desktopCapabilities() const
{
    CapabilityReports reports = hookCapabilities();
    if (m_options.moreCapabilities)
        for (CapabilityReport &report : m_options.moreCapabilities())
            reports.push_back(std::move(report));
    return reports;
}

bool Runtime::capabilityUnavailable(DesktopCapability capability) const
{
    // Asked whenever the tray menu opens: the other parts' reports (which may look at the desktop
    // for a moment) are left out unless they are the ones asked about.
    for (const CapabilityReport &report : capability == DesktopCapability::SendKeys ? desktopCapabilities() : hookCapabilities())
        if (report.capability == capability)
            return report.state == CapabilityState::Unavailable;
    return false;
}

DesktopItems Runtime::desktopReport() const
{
    return DesktopReport::items(desktopCapabilities(), m_window ? m_window->trayState() : TrayState::Unknown,
                                qEnvironmentVariable("XDG_CURRENT_DESKTOP"));
}

void Runtime::post(MainThreadEvent *event)
{
    QCoreApplication::postEvent(this, event);
}

bool Runtime::openOwnKeypad()
{
    m_link->Connect();
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < m_options.openWait.count()) {
        if (!m_link->portName().empty())
            return true;
        if (!m_link->lastOpenError().empty())
            return false;
        QThread::msleep(10);
    }
    return !m_link->portName().empty();
}

bool Runtime::start()
{
    m_hook = std::make_unique<DesktopHook>(m_options.hook);
    if (m_hook->desktopAvailable() && !m_hook->idleTime())
        std::fprintf(stderr, "pixkey: the display tells no idle time (XScreenSaver extension missing): the idle layout is off\n");
    m_sink = std::make_unique<Sink>(*this);
    m_desktop = std::make_unique<PxkhkDesktop>(*m_hook);

    // Plug-in files named on the command line go to the copies already running.
    for (const QString &file : m_commandLine.pluginFiles)
        m_hook->BroadcastMessage(std::uint32_t(PrivateMessage::AddPluginFile), 0, 0, file.toStdString());

    const int others = m_hook->GetConfiguratorsCount();
    m_link = std::make_unique<DeviceLink>(static_cast<DeviceListener *>(this));
    if (openOwnKeypad()) {
        if (others > 0)
            m_hook->BroadcastMessage(std::uint32_t(PrivateMessage::AdoptProfile), 0, 0);
    } else if (others > 0) {
        m_hook->ShowConfiguratorWindows();
        return false;
    }

    m_store = std::make_unique<SettingsStore>(m_options.storeFolder.isEmpty() ? SettingsStore::defaultFolder()
                                                                            : m_options.storeFolder);
    m_linkPort = std::make_unique<DeviceLinkPort>(*m_link);
    m_keypad = std::make_unique<DeviceKeypad>(*m_link, [this] {
        return m_core ? m_core->settings.value(Settings::Orientation) : 0;
    });
    m_core = std::make_unique<AppCore>(*m_store, m_options.folders, static_cast<FaceSink &>(*this), *m_keypad);
    m_core->profileSuffix = m_core->startupProfile(QString::fromStdString(m_link->portName()), others);
    m_window = m_options.window ? m_options.window(*m_core) : std::make_unique<HiddenRuntimeWindow>(*m_core);
    if (!m_core->layoutActivated)
        m_core->layoutActivated = [this](LayoutConfig *layout) { m_window->layoutActivated(layout); };
    PluginCallGuard::setErrorSink([](const std::string &text) { qCDebug(lcRuntime, "%s", text.c_str()); });

    m_switcher = std::make_unique<LayoutSwitcher>(
        *m_core, *m_desktop, *m_linkPort, *m_window, m_options.clock,
        [this](int row, int force) { post(new MainThreadEvent(PrivateMessage::ModifierRow, row, force)); },
        int(::getpid()));

    m_core->fullLoad(true);
    // Added after the load, so that the load cannot drop what the file brought.
    for (const QString &file : m_commandLine.pluginFiles)
        m_window->addPluginFile(file);

    m_window->setTitle(WindowTitle::title(*m_core, true), WindowTitle::title(*m_core, false));
    if (!m_hook->Hook(m_sink.get()))
        std::fprintf(stderr, "pixkey: the other configurators cannot reach this one (runtime folder %s)\n",
                     m_hook->runtimeFolder().c_str());
    m_hooked = true;
    m_core->select(-1);
    m_idleTimer.callOnTimeout(this, [this] {
        m_switcher->onIdleTick();
        // Changes made in the window or the tray reach the bus's listeners by the next tick.
        if (m_bus)
            m_bus->sync();
    });
    m_idleTimer.start();
    const int sizeX = m_core->settings.value(Settings::SizeX), sizeY = m_core->settings.value(Settings::SizeY);
    if (sizeX > 0 && sizeY > 0)
        m_window->resizeTo(sizeX, sizeY);
    m_switcher->registerHotkey();
    m_window->layoutActivated(m_core->activeLayout);
    startWatchers();
    m_running = true;
    if (m_options.exportOnBus) {
        m_bus = std::make_unique<HostBus>(*this);
        if (!m_bus->start(m_options.busAddress)) {
            std::fprintf(stderr, "pixkey: %s: scripts and pixkeyctl cannot reach this copy\n", qPrintable(m_bus->error()));
            m_bus.reset();
        } else if (!m_bus->error().isEmpty()) {
            std::fprintf(stderr, "pixkey: %s\n", qPrintable(m_bus->error()));
        }
    }
    if (!m_commandLine.minimized)
        m_window->showWindow();
    return true;
}

void Runtime::startWatchers()
{
    if (m_options.watchSession) {
        SessionWatcher::Handlers handlers;
        handlers.locked = [this](bool locked) { m_switcher->onSessionLocked(locked); };
        handlers.active = [this](bool active) { m_switcher->onSessionActive(active); };
        handlers.suspend = [this] { m_switcher->onSuspend(); };
        handlers.resume = [this] { m_switcher->onResume(); };
        m_session = std::make_unique<SessionWatcher>(std::move(handlers));
        if (!m_session->start()) {
            std::fprintf(stderr, "pixkey: %s: session lock, session changes and sleep are not followed\n",
                         qPrintable(m_session->error()));
            m_session.reset();
        } else if (!m_session->error().isEmpty()) {
            std::fprintf(stderr, "pixkey: %s\n", qPrintable(m_session->error()));
        }
    }
    if (m_options.watchDevices) {
        m_devices = std::make_unique<DeviceWatcher>([this](DeviceWatcher::Change, const std::string &) {
            m_switcher->onDeviceChange();
        });
        if (m_devices->start()) {
            m_deviceNotifier = new QSocketNotifier(m_devices->fd(), QSocketNotifier::Read, this);
            QObject::connect(m_deviceNotifier, &QSocketNotifier::activated, this, [this] { m_devices->dispatch(); });
        } else {
            std::fprintf(stderr, "pixkey: %s: a keypad plugged in later is found only on restart\n",
                         m_devices->error().c_str());
            m_devices.reset();
        }
    }
}

bool Runtime::seedDemo()
{
    LayoutConfig *global = m_core->findLayout(QStringLiteral("Global"));
    PluginEntry *vegas = m_core->catalogue.findByIdentifier(QStringLiteral("bsp.vegas.mfc5"));
    if (!global || !vegas || !vegas->library || m_core->hasAnyInstance(*global, 1) ||
        m_core->getSlot(*global, 0, 0) || m_core->getSlot(*global, 1, 0) || m_core->getSlot(*global, 2, 0))
        return false;
    if (!vegas->library->load())
        return false;
    PluginFunction *function = vegas->library->function(vegas->library->defaultFunction());
    if (!function)
        return false;
    const int row = m_core->currentRow;
    m_core->currentRow = 0;
    for (int key = 0; key < 3; ++key)
        m_core->assignFromCatalogue(*function, *global, key);
    m_core->currentRow = row;
    m_core->saveSettings();
    m_window->layoutActivated(m_core->activeLayout);
    return true;
}

void Runtime::deactivateActiveLayout()
{
    if (!m_core->activeLayout)
        return;
    for (const InstanceRef &holder : m_core->activeLayout->slots())
        if (holder && holder->instance())
            holder->instance()->Deactivate();
    m_core->activeLayout = nullptr;
}

void Runtime::exit()
{
    if (!m_running)
        return;
    m_running = false;
    m_bus.reset(); // clients see this copy gone before it winds down
    m_session.reset();
    if (m_window->width() > 0 && m_window->height() > 0) {
        m_core->settings.setValue(Settings::SizeX, m_window->width());
        m_core->settings.setValue(Settings::SizeY, m_window->height());
    }
    m_core->saveSettings(QStringLiteral("SizeX"));
    m_core->saveSettings(QStringLiteral("SizeY"));
    m_core->modified = false;
    deactivateActiveLayout();
    m_switcher->unregisterHotkey();
    m_window->closeAll();
    m_hook->UnHook();
    m_idleTimer.stop();
    m_link->PostCommand(LinkCommand::DisplayOff, 0, true);
    m_link->Disconnect();
    if (m_options.onExit)
        m_options.onExit(0);
    else
        QCoreApplication::exit(0);
}

// --- from other threads -----------------------------------------------------------------------------

void Runtime::OnKeyPressed(int deviceKey)
{
    post(new MainThreadEvent(PrivateMessage::KeyPressed, deviceKey, 0));
}

void Runtime::OnConnectionChanged(int state)
{
    post(new MainThreadEvent(PrivateMessage::ConnectionChanged, state, 0));
}

void Runtime::post(std::shared_ptr<FaceHandOff> handOff)
{
    post(new MainThreadEvent(PrivateMessage::FaceChanged, [this, handOff] {
        handOff->deliver([this](PluginInstance &instance) {
            if (!m_core)
                return;
            m_core->faceChanged(instance);
            m_window->facesChanged(&instance);
        });
    }));
}

// --- the main thread's messages ----------------------------------------------------------------------

void Runtime::customEvent(QEvent *event)
{
    if (event->type() <= QEvent::User || event->type() > QEvent::MaxUser)
        return;
    if (auto *message = dynamic_cast<MainThreadEvent *>(event))
        handle(*message);
}

void Runtime::handle(const MainThreadEvent &event)
{
    if (!m_switcher) {
        // Before the start-up finished only face hand-offs matter (abandoned otherwise).
        if (event.task())
            event.task()();
        return;
    }
    const std::int64_t w = event.wParam(), l = event.lParam();
    switch (event.message()) {
    case PrivateMessage::OrientationChanged:
        // The settings dialog has already sent the keys their faces for the new orientation;
        // only the window's previews follow here.
        m_window->facesChanged(nullptr);
        break;
    case PrivateMessage::ForegroundChanged:
        m_switcher->onForegroundChanged((unsigned long)w, l != 0);
        break;
    case PrivateMessage::ModifierRow:
        m_switcher->onModifierRow(int(w), l != 0);
        break;
    case PrivateMessage::AddPluginFile:
        m_window->addPluginFile(event.path());
        break;
    case PrivateMessage::HotkeyChanged:
        if (w == 0 && l != 0) {
            // Another configurator's new combination: this copy compares presses with it too.
            m_core->settings.setValue(Settings::SwitchLayoutHotkey, std::int32_t((l >> 16) & 0xFFFF));
            m_core->settings.setValue(Settings::SwitchLayoutModifier, std::int32_t(l & 0xFFFF));
        }
        m_switcher->onHotkeyChanged(w != 0);
        break;
    case PrivateMessage::Hotkey:
        m_switcher->onHotkey(w != 0, std::uint32_t(l));
        break;
    case PrivateMessage::HookAgain:
        m_hook->Hook(m_sink.get());
        break;
    case PrivateMessage::AdoptProfile:
        m_switcher->onAdoptProfile();
        break;
    case PrivateMessage::FaceChanged:
        if (event.task())
            event.task()();
        break;
    case PrivateMessage::KeyPressed:
        m_switcher->onKeyPressed(int(w));
        break;
    case PrivateMessage::ConnectionChanged:
        m_switcher->onConnectionChanged(w != 0);
        if (m_bus)
            m_bus->connectionChanged(w != 0);
        break;
    case PrivateMessage::ShowWindow:
        m_window->showWindow();
        break;
    case PrivateMessage::Exit:
        exit();
        break;
    default:
        break; // the configurator's own messages, the ignored ones
    }
}

} // namespace pixkey
