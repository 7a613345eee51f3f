#pragma once
// How faces reach keys: the orientation of the keypad decides which device key shows a slot and
// how the face is turned. Pure functions; any thread (SendBlank: the thread that owns the faces).
//
// Orientation 0: as painted, slots 0/1/2 on keys 1/2/3. 1: turned 180 degrees, keys 3/2/1.
// 2: turned 90 degrees counter-clockwise, keys 1/2/3. 3: turned 90 degrees clockwise, keys 3/2/1.
// Values outside 0..3 are treated as 0.

#include "LinkTypes.h"

#include <cstdint>

namespace pixkey {

class DeviceLink;

// Device key 1..3 for slot 0..2; 0 for a slot outside 0..2.
int deviceKeyForSlot(int slot, int orientation);
// Slot 0..2 for device key 1..3; -1 for a key outside 1..3.
int slotForDeviceKey(int deviceKey, int orientation);

// face: 96x96 B,G,R, rows top-down, stride 288 (a plug-in's painted surface).
// devicePicture: 27,648 bytes, 96 rows x 288 bytes top-down, B,G,R, as the key must show it.
// The two must not overlap.
void orientFace(const uint8_t *face, int orientation, uint8_t *devicePicture);

// Submits an all-black picture for the key that shows `slot`, without waiting.
void SendBlank(DeviceLink &link, int orientation, int slot);

} // namespace pixkey
