#pragma once
// DeviceListener: the observer of the keypad link, implemented by the application core.
// Both calls come on the DeviceLink worker thread. An implementation must not block on the main
// thread (the main thread may itself be waiting for the worker); it hands work over by posting.

namespace pixkey {

class DeviceListener {
public:
    virtual ~DeviceListener() = default;
    // A key of the keypad was pressed; deviceKey is 1..3 (presses only, no releases or repeats).
    virtual void OnKeyPressed(int deviceKey) = 0;
    // 1 when the link came up, 0 when it was lost; called only when the value changes. A
    // Disconnect() closes the link without this call.
    virtual void OnConnectionChanged(int state) = 0;
};

} // namespace pixkey
