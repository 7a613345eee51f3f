#include "DeviceLinkPort.h"

#include "DeviceLink.h"

namespace pixkey {

void DeviceLinkPort::postCommand(LinkCommand command, std::uint8_t argument, bool wait)
{
    m_link.PostCommand(command, argument, wait);
}

void DeviceLinkPort::connect() { m_link.Connect(); }
void DeviceLinkPort::disconnect() { m_link.Disconnect(); }
void DeviceLinkPort::requestRefresh() { m_link.RequestRefresh(); }

QString DeviceLinkPort::portName() const
{
    return QString::fromStdString(m_link.portName());
}

} // namespace pixkey
