// SessionBus: a private D-Bus session bus for tests of code that talks D-Bus (media players,
// notifications, phones), so that they never see or disturb the user's own bus.
//
// Starts: dbus-daemon --nofork with a configuration file written to a fresh temporary folder
// (type session, listening on a unix socket in that folder, every name ownable, optional service
// folders for activation).
// Ready: the daemon prints its address (--print-address to a pipe) once it accepts connections.
// Stops: in the destructor, by pid (TERM, then KILL), reaped; the folder is removed.
// Nothing is exported: the test hands address() or environmentEntry() to whoever should use the
// bus (a ServiceProcess's environment, QDBusConnection::connectToBus, or exportAddress() for code
// that only knows the session bus, which also forgets the test's own session bus).
//
// Threads: made and destroyed on one thread; the accessors may be read anywhere.
#pragma once

#include <pixkey/test/ServiceProcess.h>

#include <memory>
#include <string>
#include <vector>

namespace pixkey::test {

class SessionBus {
public:
    struct Options {
        std::vector<std::string> serviceFolders; // <servicedir> entries, for activation
    };

    explicit SessionBus(Options options);
    SessionBus() : SessionBus(Options{}) {}
    ~SessionBus();
    SessionBus(const SessionBus &) = delete;
    SessionBus &operator=(const SessionBus &) = delete;

    bool running() const { return m_error.empty(); }
    const std::string &error() const { return m_error; } // why it did not start (a skip reason)
    const std::string &address() const { return m_address; } // "unix:path=...,guid=..."
    std::string environmentEntry() const { return "DBUS_SESSION_BUS_ADDRESS=" + m_address; }
    std::string configFile() const { return m_folder + "/session.conf"; }
    // Sets DBUS_SESSION_BUS_ADDRESS in this process to this bus (restored by the destructor).
    void exportAddress();
    ServiceProcess *daemon() { return m_daemon.get(); }

private:
    std::string m_folder;
    std::string m_address;
    std::string m_error;
    std::unique_ptr<ServiceProcess> m_daemon;
    bool m_exported = false;
    bool m_hadAddress = false;
    std::string m_previousAddress;
};

} // namespace pixkey::test
