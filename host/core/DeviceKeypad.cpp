#include "DeviceKeypad.h"

#include "DeviceLink.h"

namespace pixkey {

DeviceKeypad::DeviceKeypad(DeviceLink &link, std::function<int()> orientation)
    : m_link(link), m_orientation(std::move(orientation)), m_router(link, *this)
{
}

void DeviceKeypad::connect()
{
    m_link.Connect();
}

void DeviceKeypad::holdDisplayUntilAllSent()
{
    m_link.HoldDisplayUntilAllSent();
}

void DeviceKeypad::sendFace(int slot, PluginInstance &instance)
{
    m_router.setOrientation(m_orientation());
    m_router.SendFace(slot, instance);
}

void DeviceKeypad::sendBlank(int slot)
{
    m_router.setOrientation(m_orientation());
    m_router.SendBlank(slot);
}

void DeviceKeypad::setGamma(double gamma)
{
    m_link.SetGamma(gamma);
}

void DeviceKeypad::setWhiteBalance(int kelvin)
{
    m_link.SetWhiteBalance(kelvin);
}

void DeviceKeypad::requestRefresh()
{
    m_link.RequestRefresh();
}

void DeviceKeypad::setBrightness(int level)
{
    m_link.PostCommand(LinkCommand::SetBrightness, uint8_t(level), false);
}

} // namespace pixkey
