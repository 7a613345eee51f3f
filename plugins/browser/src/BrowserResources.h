// BrowserResources: the pictures compiled into Browser.pkx ("BIG_ICON" and bitmap 8001) and their
// conversion into the images the host takes over.
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace browser {

// "BIG_ICON" at 16 or 32 pixels (other sizes are scaled from the 32-pixel drawing).
QImage bigIcon(int size);

// Bitmap 8001: the plug-in's 96x96 picture for the host's lists.
QImage previewPicture();

} // namespace browser
