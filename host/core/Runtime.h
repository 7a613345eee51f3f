#pragma once

#include "DesktopReport.h"
#include "DeviceListener.h"
#include "FaceSink.h"
#include "PluginCatalogue.h"

#include <pixkey/pxkhk/DesktopHook.h>

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace pixkey {

class AppCore;
class DeviceKeypad;
class DeviceLink;
class DeviceLinkPort;
class DeviceWatcher;
class HostBus;
class LayoutSwitcher;
class MainThreadEvent;
class PxkhkDesktop;
class RuntimeWindow;
class SessionWatcher;
class SettingsStore;

// The running host: starts up (command line, the decision whether this copy runs, the profile,
// the full load, the hook, timers and watchers), receives every private message as an event on the
// main thread and hands it to the layout switching or the window, and shuts down in order.
//
// Owns the settings store, the keypad link, the application core, the switching, the desktop hook
// and the watchers; the window comes from the factory in the options and is owned too. The device
// link, the hook and the paint threads reach it only by posting events (`MainThreadEvent`).
// Create, start and destroy on the main thread, with a Q(Core)Application.
class Runtime : public QObject, private DeviceListener, private FaceSink {
    Q_OBJECT
public:
    using WindowFactory = std::function<std::unique_ptr<RuntimeWindow>(AppCore &)>;

    struct Options {
        QStringList arguments;          // the command line without the program name
        QString storeFolder;            // empty: the user's settings folder
        PluginCatalogue::Folders folders = PluginCatalogue::Folders::standard();
        DesktopHook::Options hook;      // peers' folder, display
        bool watchSession = true;       // logind lock, console and sleep
        bool watchDevices = true;       // udev tty changes
        std::chrono::milliseconds openWait{3000}; // how long start-up looks for a keypad of its own
        WindowFactory window;           // empty: a hidden window
        std::function<std::int64_t()> clock; // milliseconds for the key debouncing; empty: steady clock
        std::function<void(int)> onExit; // told the exit code instead of ending the event loop
        // Scripts reach the running copy on the session bus (`HostBus`); `busAddress` empty:
        // DBUS_SESSION_BUS_ADDRESS.
        bool exportOnBus = false;
        QString busAddress;
        // What the desktop offers; empty: the hook's report. `moreCapabilities` adds reports of
        // other parts (the key sending of the Utility library) after it.
        std::function<CapabilityReports()> capabilities;
        std::function<CapabilityReports()> moreCapabilities;
    };

    // The command line: "minimized" (any case, with or without a leading dash) and ".pkx" files.
    struct CommandLine {
        bool minimized = false;
        QStringList pluginFiles;
    };
    static CommandLine parse(const QStringList &arguments);

    explicit Runtime(Options options, QObject *parent = nullptr);
    ~Runtime() override;

    // Runs the start-up. False when this copy is not to run: another copy runs and no keypad of
    // our own was found (the others were asked to show their windows).
    bool start();
    // The Exit command: saves the window size, deactivates the active layout, lets go of the
    // hotkey, the hook and the keypad (keys dark first), then ends the event loop.
    void exit();

    // Puts three reels of the bundled Vegas plug-in on the keys of "Global" and saves, when its
    // first row is empty (a newcomer's first run). False when nothing was placed.
    bool seedDemo();

    bool minimized() const { return m_commandLine.minimized; }
    bool running() const { return m_running; }
    AppCore &core() const { return *m_core; }
    LayoutSwitcher &switcher() const { return *m_switcher; }
    RuntimeWindow &window() const { return *m_window; }
    DeviceLink &link() const { return *m_link; }
    DesktopHook &hook() const { return *m_hook; }
    SettingsStore &store() const { return *m_store; }
    // The bus interface; null when not exported.
    HostBus *bus() const { return m_bus.get(); }
    // What works on this desktop (the hook's and the other parts' reports). Asks the hook thread,
    // which answers at once unless it is stuck (then empty after the hook's request time-out).
    CapabilityReports desktopCapabilities() const;
    // Whether a capability is reported Unavailable (false when it is not reported at all).
    bool capabilityUnavailable(DesktopCapability capability) const;
    // The "Desktop" report: the capabilities and the notification area.
    DesktopItems desktopReport() const;
    // Posts a private message to this runtime from any thread.
    void post(MainThreadEvent *event);

protected:
    void customEvent(QEvent *event) override;

private:
    class Sink;

    // DeviceListener (worker thread): posted on.
    void OnKeyPressed(int deviceKey) override;
    void OnConnectionChanged(int state) override;
    // FaceSink (paint threads): posted on.
    void post(std::shared_ptr<FaceHandOff> handOff) override;

    void handle(const MainThreadEvent &event);
    bool openOwnKeypad();
    void startWatchers();
    void deactivateActiveLayout();
    CapabilityReports hookCapabilities() const;

    Options m_options;
    CommandLine m_commandLine;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<DesktopHook> m_hook;
    std::unique_ptr<Sink> m_sink;
    std::unique_ptr<PxkhkDesktop> m_desktop;
    std::unique_ptr<DeviceLink> m_link;
    std::unique_ptr<DeviceLinkPort> m_linkPort;
    std::unique_ptr<DeviceKeypad> m_keypad;
    std::unique_ptr<AppCore> m_core;
    std::unique_ptr<RuntimeWindow> m_window;
    std::unique_ptr<LayoutSwitcher> m_switcher;
    std::unique_ptr<SessionWatcher> m_session;
    std::unique_ptr<DeviceWatcher> m_devices;
    QSocketNotifier *m_deviceNotifier = nullptr;
    std::unique_ptr<HostBus> m_bus;
    QTimer m_idleTimer;
    bool m_hooked = false;
    bool m_running = false;
};

} // namespace pixkey
