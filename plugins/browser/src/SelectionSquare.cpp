#include "SelectionSquare.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace browser {

namespace {

constexpr int kInset = 3;
constexpr int kHandleReach = 3; // a 7x7 handle: its centre and 3 pixels each way

// Of two candidate amounts, the one of smaller magnitude; `onTie` when they are equal.
int smaller(int a, int b, bool preferA)
{
    if (std::abs(a) == std::abs(b))
        return preferA ? a : b;
    return std::abs(a) < std::abs(b) ? a : b;
}

int span(int viewSide)
{
    return std::max(1, viewSide - 2 * kInset);
}

} // namespace

PageTarget targetOf(const ViewSquare &square, int viewSide, int pageWidth)
{
    const std::int64_t t = span(viewSide);
    const std::int64_t w = pageWidth;
    PageTarget target;
    target.size = static_cast<int>((square.side - 2 * kInset) * w / t);
    target.left = static_cast<int>((w * square.left + t / 2) / t);
    target.top = static_cast<int>((w * square.top + t / 2) / t);
    return target;
}

ViewSquare squareOf(const PageTarget &target, int viewSide, int pageWidth)
{
    const std::int64_t t = span(viewSide);
    const std::int64_t w = std::max(1, pageWidth);
    ViewSquare square;
    square.left = static_cast<int>((w / 2 + t * target.left) / w);
    square.top = static_cast<int>((w / 2 + t * target.top) / w);
    square.side = static_cast<int>((t * target.size + w / 2) / w + 2 * kInset);
    return square;
}

int minimumSide(int viewSide, int pageWidth)
{
    return static_cast<int>(std::int64_t(span(viewSide)) * 96 / std::max(1, pageWidth) + 2 * kInset);
}

FrameGeometry frameOf(const ViewSquare &square)
{
    return {square.left + kInset, square.top + kInset, square.right() - kInset, square.bottom() - kInset};
}

Grip gripAt(const ViewSquare &square, QPoint point)
{
    const FrameGeometry frame = frameOf(square);
    auto near = [&](int cx, int cy) {
        return std::abs(point.x() - cx) <= kHandleReach && std::abs(point.y() - cy) <= kHandleReach;
    };
    if (near(frame.left, frame.top))
        return Grip::TopLeft;
    if (near(frame.right, frame.top))
        return Grip::TopRight;
    if (near(frame.left, frame.bottom))
        return Grip::BottomLeft;
    if (near(frame.right, frame.bottom))
        return Grip::BottomRight;
    if (point.x() >= frame.left && point.x() <= frame.right && point.y() >= frame.top && point.y() <= frame.bottom)
        return Grip::Inside;
    return Grip::None;
}

QPoint dragSquare(ViewSquare &square, Grip grip, int dx, int dy, int viewSide, int minSide)
{
    const int v = viewSide;
    // How far the side may shrink, and how far the square may grow or move, without passing the
    // limits; both ranges include 0, so a square outside them is only kept from getting worse.
    const int shrink = std::max(0, square.side - minSide);
    switch (grip) {
    case Grip::TopLeft: {
        // u shrinks the square when positive: left + u, top + u.
        const int u = std::clamp(smaller(dx, dy, false), std::min(0, -std::min(square.left, square.top)), shrink);
        square.left += u;
        square.top += u;
        square.side -= u;
        return {u, u};
    }
    case Grip::BottomRight: {
        const int grow = std::max(0, v - std::max(square.right(), square.bottom()));
        const int u = std::clamp(smaller(dx, dy, false), -shrink, grow);
        square.side += u;
        return {u, u};
    }
    case Grip::TopRight: {
        // right + u, top - u; of dx and -dy the smaller, -dy on a tie.
        const int grow = std::max(0, std::min(v - square.right(), square.top));
        const int u = std::clamp(smaller(dx, -dy, false), -shrink, grow);
        square.top -= u;
        square.side += u;
        return {u, -u};
    }
    case Grip::BottomLeft: {
        // left - u, bottom + u; of -dx and dy the smaller, dy on a tie.
        const int grow = std::max(0, std::min(square.left, v - square.bottom()));
        const int u = std::clamp(smaller(-dx, dy, false), -shrink, grow);
        square.left -= u;
        square.side += u;
        return {-u, u};
    }
    case Grip::Inside: {
        const int mx = std::clamp(dx, std::min(0, -square.left), std::max(0, v - square.right()));
        const int my = std::clamp(dy, std::min(0, -square.top), std::max(0, v - square.bottom()));
        square.left += mx;
        square.top += my;
        return {mx, my};
    }
    case Grip::None:
        break;
    }
    return {0, 0};
}

} // namespace browser
