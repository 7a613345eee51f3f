// ExecutorResources: the pictures compiled into the Hotkey plug-in ("DEF_IMAGE", "BIG_ICON") and
// their conversion into the images the host takes over.
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace executor {

// "DEF_IMAGE": the face shown when there is neither text nor picture, 96x96, also the preview of
// the plug-in in the configurator. Format_BGR888, the byte order of a face.
QImage defaultImage();

// "BIG_ICON" drawn for `size` (16 or 32; other sizes are scaled from the 32-pixel drawing).
QImage bigIcon(int size);

} // namespace executor
