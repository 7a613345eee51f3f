#pragma once

#include "KeypadOutput.h"

#include <functional>

namespace pixkey {

class DeviceLink;

// `KeypadOutput` over the `DeviceLink`: faces are turned for the keypad's orientation and
// submitted without waiting to the key that shows their slot. The link is not owned and must
// outlive this object. Main thread.
class DeviceKeypad : public KeypadOutput {
public:
    // `orientation` is asked at every face, so a changed setting takes effect at once.
    DeviceKeypad(DeviceLink &link, std::function<int()> orientation);

    void connect() override;
    void holdDisplayUntilAllSent() override;
    void sendFace(int slot, const QImage &face) override;
    void sendBlank(int slot) override;
    void setGamma(double gamma) override;
    void setWhiteBalance(int kelvin) override;
    void requestRefresh() override;
    void setBrightness(int level) override;

private:
    DeviceLink &m_link;
    std::function<int()> m_orientation;
};

} // namespace pixkey
