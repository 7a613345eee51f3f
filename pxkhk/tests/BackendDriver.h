// BackendDriver: runs one desktop back end on the test's thread the way the hook thread does (poll
// its descriptors, dispatch), records what it reports, and waits with a bound for a condition.
// Also a blocking D-Bus client for the test's own calls (sd-bus), which a test may block on.
#pragma once

#include "DesktopBackend.h"
#include "SdBus.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace pixkey::test {

class BackendDriver : public DesktopEvents {
public:
    std::vector<std::pair<unsigned long, int>> foreground;
    std::vector<int> rows;

    void foregroundChanged(unsigned long window, int active) override { foreground.emplace_back(window, active); }
    void modifierRowChanged(int row) override { rows.push_back(row); }
    void hotkeyPressed(int, std::uint32_t) override {}

    // Polls and dispatches `backend` until `done` holds (true) or `bound` passed (false).
    bool runUntil(DesktopBackend &backend, const std::function<bool()> &done,
                  std::chrono::milliseconds bound = std::chrono::seconds(15))
    {
        const auto end = std::chrono::steady_clock::now() + bound;
        while (!done()) {
            if (std::chrono::steady_clock::now() >= end)
                return false;
            std::vector<pollfd> fds;
            backend.pollFds(fds);
            int wait = backend.timeoutMs();
            wait = wait < 0 ? 50 : std::min(wait, 50);
            ::poll(fds.data(), fds.size(), wait);
            backend.dispatch(*this);
        }
        return true;
    }
    // As runUntil, but also stops as soon as the back end drops itself (garbage, a lost server);
    // true when `done` holds then.
    bool runWhileUsable(DesktopBackend &backend, const std::function<bool()> &done,
                        std::chrono::milliseconds bound = std::chrono::seconds(10))
    {
        runUntil(backend, [&] { return done() || !backend.usable(); }, bound);
        return done();
    }
    // Dispatches for `span` whatever comes (to see that nothing more does).
    void runFor(DesktopBackend &backend, std::chrono::milliseconds span)
    {
        const auto end = std::chrono::steady_clock::now() + span;
        runUntil(backend, [&] { return std::chrono::steady_clock::now() >= end; }, span + std::chrono::seconds(1));
    }
    bool reported(unsigned long window, int active) const
    {
        return std::find(foreground.begin(), foreground.end(), std::make_pair(window, active)) != foreground.end();
    }
    // The window last reported active, 0 when the last report was a deactivation or none came.
    unsigned long lastActive() const
    {
        return foreground.empty() || !foreground.back().second ? 0 : foreground.back().first;
    }
};

// A blocking connection to a test bus.
class TestBusClient {
public:
    explicit TestBusClient(const std::string &address)
    {
        std::string error;
        m_bus = sdbus::openSessionBus(error, address);
    }
    sd_bus *get() const { return m_bus.get(); }

    // Calls a method; the reply (null on error, with the error's name and text in `error`).
    template <typename... Args>
    sdbus::MessagePtr call(const char *destination, const char *path, const char *interface, const char *member,
                           std::string &error, const char *types = "", Args... args)
    {
        sd_bus_error failure = SD_BUS_ERROR_NULL;
        sd_bus_message *reply = nullptr;
        const int r = sd_bus_call_method(m_bus.get(), destination, path, interface, member, &failure, &reply,
                                         types, args...);
        if (r < 0) {
            error = sd_bus_error_is_set(&failure) ? sdbus::errorText(&failure) : sdbus::errorText(r);
            sd_bus_error_free(&failure);
            return nullptr;
        }
        error.clear();
        return sdbus::MessagePtr(reply);
    }

private:
    sdbus::BusPtr m_bus;
};

} // namespace pixkey::test
