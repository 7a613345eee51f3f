#pragma once

#include "LinkTypes.h"

#include <QString>

#include <cstdint>

namespace pixkey {

// The keypad link as the layout switching drives it: commands, connecting and disconnecting.
// `DeviceLinkPort` over the `DeviceLink` in the program; tests may record. Main thread.
class LinkPort {
public:
    virtual ~LinkPort() = default;
    virtual void postCommand(LinkCommand command, std::uint8_t argument, bool wait) = 0;
    virtual void connect() = 0;
    virtual void disconnect() = 0;
    virtual void requestRefresh() = 0;
    // Basename of the keypad's port, empty before one was opened.
    virtual QString portName() const = 0;
};

} // namespace pixkey
