// SlideshowResources: the pictures compiled into Slideshow.pkx (faces 8014-8016, arrows
// 8007-8009, icons 8011-8013), which of them each kind uses, and their conversion into the images
// the host takes over.
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace slideshow {

// The pictures of one kind of key. `arrow` is 0 for kind 0, which has none.
struct KindPictures {
    int icon;
    int face;
    int arrow;
};
KindPictures picturesOf(int kind);

// Face or preview `id` (8014-8016), 96x96, Format_BGR888 (the byte order of a key face). Null for
// another id.
QImage facePicture(int id);

// Arrow `id` (8007-8009), 12x9 with transparency, Format_ARGB32. Null for another id.
QImage arrowPicture(int id);

// Icon `id` (8011-8013) at `size` (16 or 32; other sizes are scaled from the 32-pixel drawing).
QImage iconPicture(int id, int size);

} // namespace slideshow
