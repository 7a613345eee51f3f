// KWinScript: the active window on KDE Plasma's Wayland session. A small script loaded into KWin
// over D-Bus (org.kde.KWin /Scripting) calls an object this back end exports on its own session
// bus connection whenever a window is activated or removed; the back end turns those calls into
// foreground changes with window ids of its own (1, 2, ... per KWin window) and answers the
// process id and application id of those windows.
//
// When KWin leaves the bus and comes back (Plasma restarts it after a crash), the script is loaded
// into the new KWin.
//
// The script file lives in the runtime folder as kwin-focus-PID-N.js and is loaded under the
// plug-in name pixkey-focus-PID-N; the back end unloads it and removes the file when it is
// destroyed, and on open unloads and removes those of copies that are no longer running.
//
// Threads: hook thread only (DesktopBackend.h). Owns its sd-bus connection and the script file.
#pragma once

#include "DesktopBackend.h"
#include "SdBus.h"

#include <deque>
#include <map>
#include <string>
#include <utility>

namespace pixkey {

class KWinScript : public DesktopBackend {
public:
    struct Options {
        std::string busAddress;    // empty: $DBUS_SESSION_BUS_ADDRESS
        std::string runtimeFolder; // empty: the hook's runtime folder ($XDG_RUNTIME_DIR/pixkey)
    };
    KWinScript() : KWinScript(Options{}) {}
    explicit KWinScript(Options options);
    ~KWinScript() override;

    const char *name() const override { return "KWin script"; }
    bool open(std::string &error) override;
    bool usable() const override { return m_bus && m_failure.empty(); }
    void pollFds(std::vector<pollfd> &fds) const override;
    int timeoutMs() const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    unsigned long activeWindow() const override { return m_active; }
    int processIdOfWindow(unsigned long window) override;
    std::string applicationIdOfWindow(unsigned long window) override;

    // For tests and messages.
    const std::string &pluginName() const { return m_plugin; }
    const std::string &serviceName() const { return m_service; } // the name the script calls
    const std::string &scriptPath() const { return m_scriptPath; }
    const std::string &failure() const { return m_failure; }
    bool running() const { return m_state == State::Running; }

    // The script text with the service, object and interface filled in.
    static std::string scriptText(const std::string &service, const std::string &object,
                                  const std::string &interface);

private:
    // Waiting: KWin left the bus (a crash Plasma restarts it after); loaded again when it is back.
    enum class State { Loading, Running, Waiting, Failed };
    struct Window {
        int pid = 0;
        std::string resourceClass;
        std::string desktopFile;
    };

    static int onMethod(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onKWinOwner(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onLoaded(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onRun(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    int handleMethod(sd_bus_message *message);
    bool loadScript(std::string &error);
    void runScript(const std::string &object);
    void fail(const std::string &why);
    void removeStaleScripts();
    void unloadScript(const std::string &plugin);

    Options m_options;
    sdbus::BusPtr m_bus;
    sdbus::SlotPtr m_objectSlot, m_ownerSlot, m_loadSlot, m_runSlot, m_nameSlot, m_ownerChangedSlot;
    std::string m_service; // our well-known name the script calls
    std::string m_plugin;
    std::string m_scriptPath;
    std::string m_kwinOwner; // KWin's unique name; calls from anyone else are refused
    State m_state = State::Loading;
    int m_scriptId = -1;
    int m_runAttempt = 0;
    std::string m_failure;

    std::map<std::string, unsigned long> m_ids; // KWin's internal window id -> ours
    std::map<unsigned long, Window> m_windows;
    unsigned long m_nextId = 1;
    unsigned long m_active = 0;
    std::deque<std::pair<unsigned long, int>> m_pending; // foreground changes not yet reported
};

} // namespace pixkey
