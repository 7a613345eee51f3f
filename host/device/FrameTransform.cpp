#include "FrameTransform.h"

#include "DeviceLink.h"

#include <cstring>
#include <vector>

namespace pixkey {

namespace {
int normalOrientation(int orientation) { return orientation >= 0 && orientation <= 3 ? orientation : 0; }
} // namespace

int deviceKeyForSlot(int slot, int orientation)
{
    if (slot < 0 || slot > 2)
        return 0;
    return normalOrientation(orientation) % 2 == 0 ? slot + 1 : 3 - slot;
}

int slotForDeviceKey(int deviceKey, int orientation)
{
    if (deviceKey < 1 || deviceKey > 3)
        return -1;
    return normalOrientation(orientation) % 2 == 0 ? deviceKey - 1 : 3 - deviceKey;
}

void orientFace(const uint8_t *face, int orientation, uint8_t *devicePicture)
{
    constexpr int n = kFaceSize;
    const int o = normalOrientation(orientation);
    if (o == 0) {
        std::memcpy(devicePicture, face, kPictureBytes);
        return;
    }
    for (int y = 0; y < n; ++y) {
        uint8_t *out = devicePicture + y * kRowBytes;
        for (int x = 0; x < n; ++x, out += 3) {
            // (sx, sy): the face pixel that lands on device pixel (x, y).
            int sx, sy;
            switch (o) {
            case 1: sx = n - 1 - x; sy = n - 1 - y; break; // 180 degrees
            case 2: sx = n - 1 - y; sy = x; break;         // 90 degrees counter-clockwise
            default: sx = y; sy = n - 1 - x; break;        // 90 degrees clockwise
            }
            const uint8_t *in = face + sy * kRowBytes + sx * 3;
            out[0] = in[0];
            out[1] = in[1];
            out[2] = in[2];
        }
    }
}

void SendBlank(DeviceLink &link, int orientation, int slot)
{
    const int key = deviceKeyForSlot(slot, orientation);
    if (key == 0)
        return;
    static const std::vector<uint8_t> black(kPictureBytes, 0);
    link.SubmitFrame(key, black.data(), false);
}

} // namespace pixkey
