#pragma once
// LinkObserver: an optional tap on what the device worker does, for diagnostics and tests.
// Every call comes on the worker thread, without the DeviceLink lock held; an implementation must
// be quick and must not call back into the DeviceLink with waiting.

#include "LinkTypes.h"

#include <cstdint>

namespace pixkey {

class LinkObserver {
public:
    virtual ~LinkObserver() = default;
    // A whole 197-byte packet was written to the port (before its acknowledgement was read).
    virtual void onPacketSent(const uint8_t * /*packet*/) {}
    // An error was reported (before its recovery runs).
    virtual void onLinkError(LinkError /*error*/) {}
};

} // namespace pixkey
