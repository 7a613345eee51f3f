// SdBus: small owning helpers over sd-bus for the back ends that talk D-Bus on the hook thread.
// Each back end owns its own connection (BusPtr), opened without waiting on the daemon, polled in
// the hook's loop (fillPoll, busTimeoutMs) and driven by processBus after poll returns.
//
// Threads: an sd_bus connection and everything made from it belongs to the thread that opened it
// (the hook thread); these helpers add no locking.
#pragma once

#include <systemd/sd-bus.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include <poll.h>

namespace pixkey::sdbus {

struct BusClose {
    // Flushes what is queued (a bounded, local write), closes and drops the reference.
    void operator()(sd_bus *bus) const { sd_bus_flush_close_unref(bus); }
};
struct SlotUnref {
    void operator()(sd_bus_slot *slot) const { sd_bus_slot_unref(slot); }
};
struct MessageUnref {
    void operator()(sd_bus_message *message) const { sd_bus_message_unref(message); }
};

using BusPtr = std::unique_ptr<sd_bus, BusClose>;
// Dropping a slot cancels its pending call, match or exported object.
using SlotPtr = std::unique_ptr<sd_bus_slot, SlotUnref>;
using MessagePtr = std::unique_ptr<sd_bus_message, MessageUnref>;

// Text of a negative errno result.
inline std::string errorText(int result) { return std::strerror(result < 0 ? -result : result); }

// A bus error's name and message ("org.freedesktop.DBus.Error.ServiceUnknown: ...").
inline std::string errorText(const sd_bus_error *error)
{
    if (!error || !sd_bus_error_is_set(error))
        return "no error";
    std::string text = error->name ? error->name : "error";
    if (error->message && *error->message)
        text += std::string(": ") + error->message;
    return text;
}

// Connects to the bus at `address` (empty: $DBUS_SESSION_BUS_ADDRESS) as a client. The connect
// on the unix socket returns at once; authentication and Hello complete in processBus, and calls
// made before that are queued. Null with a reason in `error` when there is no bus.
inline BusPtr openSessionBus(std::string &error, std::string address = {})
{
    if (address.empty()) {
        const char *env = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        if (!env || !*env) {
            error = "no session bus (DBUS_SESSION_BUS_ADDRESS is not set)";
            return nullptr;
        }
        address = env;
    }
    sd_bus *raw = nullptr;
    int r = sd_bus_new(&raw);
    if (r < 0) {
        error = "cannot make a D-Bus connection: " + errorText(r);
        return nullptr;
    }
    BusPtr bus(raw);
    if ((r = sd_bus_set_address(raw, address.c_str())) < 0 || (r = sd_bus_set_bus_client(raw, 1)) < 0
        || (r = sd_bus_start(raw)) < 0) {
        error = "cannot connect to the session bus: " + errorText(r);
        return nullptr;
    }
    return bus;
}

// Appends the bus's descriptor with the events it waits for.
inline void fillPoll(sd_bus *bus, std::vector<pollfd> &fds)
{
    if (!bus)
        return;
    const int fd = sd_bus_get_fd(bus);
    const int events = sd_bus_get_events(bus);
    if (fd >= 0)
        fds.push_back(pollfd{fd, static_cast<short>(events > 0 ? events : POLLIN), 0});
}

// Milliseconds until the bus needs processBus again (a call's time-out, queued work); -1 none.
inline int busTimeoutMs(sd_bus *bus)
{
    if (!bus)
        return -1;
    uint64_t until = 0;
    if (sd_bus_get_timeout(bus, &until) < 0 || until == UINT64_MAX)
        return -1;
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    const uint64_t nowUs = uint64_t(now.tv_sec) * 1000000u + uint64_t(now.tv_nsec) / 1000u;
    if (until <= nowUs)
        return 0;
    const uint64_t ms = (until - nowUs + 999) / 1000;
    return ms > 60000 ? 60000 : int(ms);
}

// Handles everything that has arrived, without blocking. False once the connection is closed or
// broken (the back end then reports itself unusable).
inline bool processBus(sd_bus *bus)
{
    if (!bus)
        return false;
    for (int i = 0; i < 1000; ++i) { // bounded, so a flooding peer cannot hold the hook thread
        const int r = sd_bus_process(bus, nullptr);
        if (r < 0)
            return false;
        if (r == 0)
            break;
    }
    return sd_bus_is_open(bus) > 0;
}

} // namespace pixkey::sdbus
