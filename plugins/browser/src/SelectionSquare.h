// SelectionSquare: the arithmetic of the shown square in the settings dialog's page view. The
// view is a square of side v; the page (Width pixels wide) is drawn into it at (3, 3) with side
// t = v - 6. The selection is a square (left, top, side) in view pixels whose frame is inset by 3
// pixels, so a page square of TargetSize pixels is a selection of side TargetSize x t / Width + 6.
// Pure functions, any thread.
#pragma once

#include <QPoint>

namespace browser {

struct ViewSquare {
    int left = 0;
    int top = 0;
    int side = 0;
    int right() const { return left + side; }
    int bottom() const { return top + side; }
    bool operator==(const ViewSquare &) const = default;
};

struct PageTarget {
    int left = 0;
    int top = 0;
    int size = 96;
    bool operator==(const PageTarget &) const = default;
};

// What a press at a point grabs: one of the four corner handles, the inside, or nothing.
enum class Grip { None, TopLeft, TopRight, BottomLeft, BottomRight, Inside };

// The page square for a selection: size = (side - 6) x Width / t, left = (Width x left + t / 2) / t,
// top likewise.
PageTarget targetOf(const ViewSquare &square, int viewSide, int pageWidth);

// The selection for a page square: left = (Width / 2 + t x TargetLeft) / Width, top likewise,
// side = (t x TargetSize + Width / 2) / Width + 6.
ViewSquare squareOf(const PageTarget &target, int viewSide, int pageWidth);

// The smallest selection side: a page square of 96 pixels, (v - 6) x 96 / Width + 6.
int minimumSide(int viewSide, int pageWidth);

// The frame drawn for a selection, and the 7x7 handle centred on each of its corners.
struct FrameGeometry {
    int left, top, right, bottom; // inclusive corners of the frame
};
FrameGeometry frameOf(const ViewSquare &square);
Grip gripAt(const ViewSquare &square, QPoint point);

// One step of a drag by (dx, dy). A corner moves along the square's diagonal, the opposite corner
// fixed, by the one amount u the grip takes from the movement (the component of smaller
// magnitude; see the .cpp); the inside moves the square by (dx, dy). Moves are limited so the
// square stays inside 0..viewSide on both axes and its side does not fall below `minSide`; a
// square already outside those limits is never pushed, only kept from getting worse. Returns how
// far the grabbed point moved, which the caller adds to its last handled position.
QPoint dragSquare(ViewSquare &square, Grip grip, int dx, int dy, int viewSide, int minSide);

} // namespace browser
