// SysmeterResources: the pictures compiled into the System Monitor plug-in and their conversion
// into the images the host takes over.
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace sysmeter {

// Picture 8010: the two faces side by side, 192 x 96 (memory at x 0..95, processor at x 96..191),
// each with its heading; the memory face's first column holds the bar's colours at rows 88..95.
// Format_BGR888, the byte order of a face. Null when the resource is missing.
QImage stripImage();

// The previews 8013 (memory) and 8012 (processor), 96 x 96.
QImage previewImage(int number);

// Icon "ICON_01" (memory) or "ICON_02" (processor) at 16 or 32 pixels (other sizes are scaled).
QImage iconImage(int number, int size);

} // namespace sysmeter
