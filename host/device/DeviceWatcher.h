#pragma once
// DeviceWatcher: reports tty devices being added to or removed from the system, from a udev
// monitor, so the application can reconnect the keypad after it was plugged in again.
// The owner polls fd() for readability (in its event loop) and then calls dispatch(), which calls
// the callback once per event. Used on one thread (the owner's); not thread-safe.

#include <functional>
#include <string>

struct udev;
struct udev_monitor;

namespace pixkey {

class DeviceWatcher {
public:
    enum class Change { Added, Removed };
    using Callback = std::function<void(Change change, const std::string &devnode)>;

    explicit DeviceWatcher(Callback callback);
    ~DeviceWatcher();
    DeviceWatcher(const DeviceWatcher &) = delete;
    DeviceWatcher &operator=(const DeviceWatcher &) = delete;

    // Starts listening. False, with error() saying why, when the monitor cannot be set up.
    bool start();
    void stop();
    // Readable when events are waiting; -1 when not started.
    int fd() const;
    // Reads every waiting event without blocking and reports tty add/remove; returns how many
    // were reported.
    int dispatch();
    const std::string &error() const { return m_error; }

private:
    Callback m_callback;
    udev *m_udev = nullptr;
    udev_monitor *m_monitor = nullptr;
    std::string m_error;
};

} // namespace pixkey
