#include "DeviceKeypad.h"

#include "DeviceLink.h"
#include "FrameTransform.h"

#include <vector>

namespace pixkey {

DeviceKeypad::DeviceKeypad(DeviceLink &link, std::function<int()> orientation)
    : m_link(link), m_orientation(std::move(orientation))
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

void DeviceKeypad::sendFace(int slot, const QImage &face)
{
    if (face.isNull())
        return;
    QImage picture = face.convertToFormat(QImage::Format_BGR888).scaled(kFaceSize, kFaceSize);
    // orientFace wants rows of exactly 288 bytes.
    std::vector<uint8_t> packed(kPictureBytes);
    for (int y = 0; y < kFaceSize; ++y)
        std::copy_n(picture.constScanLine(y), kRowBytes, packed.data() + std::size_t(y) * kRowBytes);
    std::vector<uint8_t> device(kPictureBytes);
    const int orientation = m_orientation();
    orientFace(packed.data(), orientation, device.data());
    m_link.SubmitFrame(deviceKeyForSlot(slot, orientation), device.data(), false);
}

void DeviceKeypad::sendBlank(int slot)
{
    SendBlank(m_link, m_orientation(), slot);
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
