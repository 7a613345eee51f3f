// MutterIdleMonitor: idle time on GNOME's Wayland session, from the compositor's idle monitor
// (org.gnome.Mutter.IdleMonitor, /org/gnome/Mutter/IdleMonitor/Core, GetIdletime).
//
// The hook thread never waits for the compositor: idleTime() answers the last value received and
// asks again when that is older than the refresh interval and no question is on its way; the
// answer arrives through dispatch. Until the first answer, idleTime() is empty.
//
// Threads: hook thread only (DesktopBackend.h). Owns its sd-bus connection.
#pragma once

#include "DesktopBackend.h"
#include "SdBus.h"

#include <chrono>
#include <functional>

namespace pixkey {

class MutterIdleMonitor : public DesktopBackend {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;
    struct Options {
        std::string busAddress; // empty: $DBUS_SESSION_BUS_ADDRESS
        std::chrono::milliseconds refresh{250}; // an answer younger than this is not asked again
        Clock clock;            // empty: std::chrono::steady_clock::now
    };
    MutterIdleMonitor() : MutterIdleMonitor(Options{}) {}
    explicit MutterIdleMonitor(Options options);
    ~MutterIdleMonitor() override;

    const char *name() const override { return "GNOME idle monitor"; }
    bool open(std::string &error) override;
    bool usable() const override { return m_bus && m_failure.empty(); }
    void pollFds(std::vector<pollfd> &fds) const override;
    int timeoutMs() const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    std::optional<std::uint32_t> idleTime() override;

    const std::string &failure() const { return m_failure; }
    bool asking() const { return m_call != nullptr; } // a GetIdletime call is on its way
    int answers() const { return m_answers; }          // replies received so far

private:
    static int onReply(sd_bus_message *reply, void *self, sd_bus_error *error);
    void ask();
    std::chrono::steady_clock::time_point now() const;

    Options m_options;
    sdbus::BusPtr m_bus;
    sdbus::SlotPtr m_call;
    std::optional<std::uint32_t> m_idle;
    std::chrono::steady_clock::time_point m_answeredAt{};
    int m_answers = 0;
    std::string m_failure;
};

} // namespace pixkey
