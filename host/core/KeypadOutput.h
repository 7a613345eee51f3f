#pragma once

namespace pixkey {

class PluginInstance;

// What the application core asks of the keypad: faces and blanks for slots (the orientation is the
// implementation's business), the hold-and-show rule, the colour tables and brightness, and
// connecting. `DeviceKeypad` implements it over the `DeviceLink`; tests record the calls.
// Main thread.
class KeypadOutput {
public:
    virtual ~KeypadOutput() = default;

    virtual void connect() = 0;
    // Shows the next faces of all keys together.
    virtual void holdDisplayUntilAllSent() = 0;
    // Sends the instance's current face to the key that shows `slot` 0..2; nothing when the
    // instance has no face yet (its first paint sends one).
    virtual void sendFace(int slot, PluginInstance &instance) = 0;
    // Sends a black face to the key that shows `slot`.
    virtual void sendBlank(int slot) = 0;
    virtual void setGamma(double gamma) = 0;
    virtual void setWhiteBalance(int kelvin) = 0;
    // Resends every key's whole picture.
    virtual void requestRefresh() = 0;
    // Sets the illumination level (20, 40 or 60) without waiting.
    virtual void setBrightness(int level) = 0;
};

} // namespace pixkey
