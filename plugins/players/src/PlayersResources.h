// PlayersResources: the pictures compiled into the Players plug-in, by the numbers and names the
// plug-in's kinds use (faces 8012, 8017, 8018, the pause overlay 8019, the preview 8020, the icons
// "ICON_PLAY", "ICON_PREV", "ICON_NEXT"), and their hand-over to the host.
//
// [any-thread]: every call decodes from the library's Qt resources and returns a fresh copy.
#pragma once

#include <QImage>

namespace players {

// A 96x96 picture by resource number, in the byte order of a face (Format_BGR888); null when the
// number is unknown.
QImage bitmap(int number);

// Icon `name` at 16 or 32 pixels (ARGB32); null when unknown.
QImage icon(const char *name, int size);

// The colour of the elapsed part of the time bar, carried by the play face's bottom rows.
constexpr unsigned kElapsedColour = 0x2f9be8;

} // namespace players
