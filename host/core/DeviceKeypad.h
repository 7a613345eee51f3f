#pragma once

#include "FaceRouter.h"
#include "KeyRow.h"
#include "KeypadOutput.h"

#include <functional>

namespace pixkey {

class DeviceLink;

// `KeypadOutput` over the `DeviceLink`: faces go through a `FaceRouter`, which turns them for the
// keypad's orientation and submits them without waiting to the key that shows their slot (which
// instance is on which slot is the application core's business, so the router's own row stays
// empty). The link is not owned and must outlive this object. Main thread.
class DeviceKeypad : public KeypadOutput, private KeyRow {
public:
    // `orientation` is asked at every face, so a changed setting takes effect at once.
    DeviceKeypad(DeviceLink &link, std::function<int()> orientation);

    void connect() override;
    void holdDisplayUntilAllSent() override;
    void sendFace(int slot, PluginInstance &instance) override;
    void sendBlank(int slot) override;
    void setGamma(double gamma) override;
    void setWhiteBalance(int kelvin) override;
    void requestRefresh() override;
    void setBrightness(int level) override;

private:
    PluginInstance *instanceAt(int) const override { return nullptr; }

    DeviceLink &m_link;
    std::function<int()> m_orientation;
    FaceRouter m_router;
};

} // namespace pixkey
