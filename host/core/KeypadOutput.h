#pragma once

#include <QImage>

namespace pixkey {

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
    // Sends `face` (96x96, QImage::Format_BGR888) to the key that shows `slot` 0..2.
    virtual void sendFace(int slot, const QImage &face) = 0;
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
