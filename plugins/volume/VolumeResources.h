// VolumeResources: the pictures compiled into the Volume plug-in and their conversion into what
// the host and the faces need. The names are those of the resources: "IDB_UP", "IDB_DOWN",
// "IDB_MUTE" (96x96 faces, 8 bits a pixel) and "IDI_UP", "IDI_DOWN", "IDI_MUTE" (icons, each a
// 16x16 and a 32x32 image).
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace volume {

// The face bitmap `name` as stored (Format_Indexed8); null when there is no such resource.
QImage faceBitmap(const char *name);

// The icon `name` drawn for `size` (16 or 32); null for other sizes or names.
QImage iconImage(const char *name, int size);

} // namespace volume
