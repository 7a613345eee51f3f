#pragma once

#include "DesktopPort.h"
#include "HiddenRuntimeWindow.h"
#include "LinkPort.h"

#include <QCoreApplication>

#include <map>
#include <string>
#include <vector>

namespace pixkey::test {

// A desktop with scripted windows (window -> process id and executable name), a settable idle
// time and a record of hotkey registrations and broadcasts.
class FakeDesktop : public DesktopPort {
public:
    struct Window {
        int pid = 0;
        std::string exe;
    };
    int configuratorsCount() override { return configurators; }
    void broadcast(int message, std::int64_t wParam, std::int64_t lParam) override
    {
        calls.push_back("broadcast " + std::to_string(message) + " " + std::to_string(wParam) + " " + std::to_string(lParam));
    }
    bool registerHotkey(int id, int modifiers, int key) override
    {
        calls.push_back("register " + std::to_string(id) + " " + std::to_string(modifiers) + " " + std::to_string(key));
        return true;
    }
    void unregisterHotkey(int id) override { calls.push_back("unregister " + std::to_string(id)); }
    std::optional<std::uint32_t> idleTime() override
    {
        ++idleAsked;
        return idle;
    }
    int processIdOfWindow(unsigned long window) override { return windows.count(window) ? windows[window].pid : 0; }
    std::string executableNameOfWindow(unsigned long window) override
    {
        return windows.count(window) ? windows[window].exe : std::string();
    }

    int configurators = 1;
    std::optional<std::uint32_t> idle;
    int idleAsked = 0;
    std::map<unsigned long, Window> windows;
    std::vector<std::string> calls;
};

// Records what is asked of the keypad link.
class RecordingLink : public LinkPort {
public:
    void postCommand(LinkCommand command, std::uint8_t argument, bool wait) override
    {
        calls.push_back("command " + std::to_string(int(command)) + " " + std::to_string(argument) + (wait ? " wait" : ""));
    }
    void connect() override { calls.push_back("connect"); }
    void disconnect() override { calls.push_back("disconnect"); }
    void requestRefresh() override { calls.push_back("refresh"); }
    QString portName() const override { return port; }

    QString port;
    std::vector<std::string> calls;
};

// The hidden window with the user's business settable.
class BusyWindow : public HiddenRuntimeWindow {
public:
    using HiddenRuntimeWindow::HiddenRuntimeWindow;
    int optionsBusy() const override { return busy; }
    bool keyPreviewHasFocus() const override { return previewFocus; }
    void rowChanged() override { ++rowChanges; }
    void connectionChanged(bool connected) override { connections.push_back(connected); }
    void coreReloaded() override { ++reloads; }
    int busy = 0;
    bool previewFocus = false;
    int rowChanges = 0;
    int reloads = 0;
    std::vector<bool> connections;
};

// Qt timers need an application object; one for the whole test program.
inline QCoreApplication &testApplication()
{
    static int argc = 1;
    static char name[] = "core_switching_test";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

} // namespace pixkey::test
