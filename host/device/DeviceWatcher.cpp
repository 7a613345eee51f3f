#include "DeviceWatcher.h"

#include <cstring>
#include <libudev.h>

namespace pixkey {

DeviceWatcher::DeviceWatcher(Callback callback) : m_callback(std::move(callback)) {}

DeviceWatcher::~DeviceWatcher() { stop(); }

bool DeviceWatcher::start()
{
    if (m_monitor)
        return true;
    m_error.clear();
    m_udev = udev_new();
    if (!m_udev) {
        m_error = "cannot reach udev";
        return false;
    }
    m_monitor = udev_monitor_new_from_netlink(m_udev, "udev");
    if (!m_monitor || udev_monitor_filter_add_match_subsystem_devtype(m_monitor, "tty", nullptr) < 0 ||
        udev_monitor_enable_receiving(m_monitor) < 0) {
        m_error = "cannot listen for device changes from udev";
        stop();
        return false;
    }
    return true;
}

void DeviceWatcher::stop()
{
    if (m_monitor)
        udev_monitor_unref(m_monitor);
    m_monitor = nullptr;
    if (m_udev)
        udev_unref(m_udev);
    m_udev = nullptr;
}

int DeviceWatcher::fd() const { return m_monitor ? udev_monitor_get_fd(m_monitor) : -1; }

int DeviceWatcher::dispatch()
{
    int reported = 0;
    if (!m_monitor)
        return 0;
    // The monitor's socket is non-blocking: receive returns null when nothing is left.
    while (udev_device *dev = udev_monitor_receive_device(m_monitor)) {
        const char *action = udev_device_get_action(dev);
        const char *node = udev_device_get_devnode(dev);
        if (action && node && m_callback) {
            if (std::strcmp(action, "add") == 0) {
                m_callback(Change::Added, node);
                ++reported;
            } else if (std::strcmp(action, "remove") == 0) {
                m_callback(Change::Removed, node);
                ++reported;
            }
        }
        udev_device_unref(dev);
    }
    return reported;
}

} // namespace pixkey
