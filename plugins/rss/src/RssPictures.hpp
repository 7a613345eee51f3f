// RssPictures: the plug-in's pictures, drawn at build time and compiled into the library:
// "BIG_ICON" (the feed icon) and 8001 (a 96 x 96 face for the host's lists).
// [any-thread]
#pragma once

#include <pixkey_plugin.h>

#include <QImage>

namespace pixkey::rss {

QImage iconPicture();    // "BIG_ICON", 64 x 64 with transparency
QImage previewPicture(); // 8001, 96 x 96

// The same as PkxImages for GetInfo; null when the picture is missing. The image becomes the
// caller's.
PkxImage *iconImage(int size);
PkxImage *previewImage();

} // namespace pixkey::rss
