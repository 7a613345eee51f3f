#include "UdevPortLocator.h"

#include <cstring>
#include <libudev.h>

namespace pixkey {

namespace {
bool attributeIs(udev_device *device, const char *name, const char *value)
{
    const char *v = udev_device_get_sysattr_value(device, name);
    return v && ::strcasecmp(v, value) == 0;
}
} // namespace

bool UdevPortLocator::locate(std::vector<std::string> &paths)
{
    paths.clear();
    udev *u = udev_new();
    if (!u)
        return false;
    udev_enumerate *e = udev_enumerate_new(u);
    if (e) {
        udev_enumerate_add_match_subsystem(e, "tty");
        udev_enumerate_scan_devices(e);
        udev_list_entry *entry;
        udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e))
        {
            udev_device *dev = udev_device_new_from_syspath(u, udev_list_entry_get_name(entry));
            if (!dev)
                continue;
            // The parent is owned by dev and freed with it.
            udev_device *usb = udev_device_get_parent_with_subsystem_devtype(dev, "usb", "usb_device");
            const char *node = udev_device_get_devnode(dev);
            if (usb && node && attributeIs(usb, "idVendor", "067b") && attributeIs(usb, "idProduct", "2303"))
                paths.emplace_back(node);
            udev_device_unref(dev);
        }
        udev_enumerate_unref(e);
    }
    udev_unref(u);
    return !paths.empty();
}

} // namespace pixkey
