#pragma once
// PortLocator: finds the serial device paths of attached keypad adapters (USB 067b:2303).
// UdevPortLocator is the real one; tests feed a fixed list. Called on the device worker thread.

#include <string>
#include <vector>

namespace pixkey {

class PortLocator {
public:
    virtual ~PortLocator() = default;
    // Fills `paths` with the tty paths of the adapters, in enumeration order. Returns false when
    // no adapter is known to the system at all (the caller reports NoAdapterKey).
    virtual bool locate(std::vector<std::string> &paths) = 0;
};

} // namespace pixkey
