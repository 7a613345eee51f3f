#pragma once

#include "LinkPort.h"

namespace pixkey {

class DeviceLink;

// `LinkPort` over the program's `DeviceLink` (not owned; must outlive this). Main thread.
class DeviceLinkPort : public LinkPort {
public:
    explicit DeviceLinkPort(DeviceLink &link) : m_link(link) {}
    void postCommand(LinkCommand command, std::uint8_t argument, bool wait) override;
    void connect() override;
    void disconnect() override;
    void requestRefresh() override;
    QString portName() const override;

private:
    DeviceLink &m_link;
};

} // namespace pixkey
