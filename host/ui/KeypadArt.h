// KeypadArt: the pictures of the keypad body, horizontal and vertical, and where the three key
// screens sit on them, so that faces drawn into those rectangles look like the keypad.
//
// Horizontal picture: 551x204 logical pixels, key screens 96x96 with their left edges at x = 89,
// 228 and 367 and their tops at y = 54. Vertical picture: the same turned on its side, 204x551,
// screens at x = 54 and y = 89, 228, 367. Positions count left to right (horizontal) or top to
// bottom (vertical). Vector pictures, so they stay crisp at any device pixel ratio.
//
// [main-thread] for painting (QPainter on widgets and pixmaps); the geometry functions are pure.
#pragma once

#include <QPixmap>
#include <QRect>
#include <QSize>

class QPainter;

namespace pixkey {

class KeypadArt {
public:
    static constexpr int kFaceSize = 96;
    static constexpr int kLongSide = 551;
    static constexpr int kShortSide = 204;

    // Horizontal for orientation settings 0 and 1, vertical for 2 and 3 (others as 0).
    static bool isVertical(int orientation) { return orientation == 2 || orientation == 3; }

    static QSize pictureSize(bool vertical);
    // The screen of key position 0..2 in picture coordinates; an empty rectangle for others.
    static QRect faceRect(bool vertical, int position);

    // Draws the keypad body into `target` (stretched to it). `turnedOver` draws it turned by 180
    // degrees (orientations 1 and 3: the cable leaves at the other side); the screens stay put.
    static void paintBody(QPainter &painter, const QRectF &target, bool vertical, bool turnedOver = false);
    static bool isTurnedOver(int orientation) { return orientation == 1 || orientation == 3; }
    // The keypad body at its natural size for a screen of the given device pixel ratio.
    static QPixmap bodyPixmap(bool vertical, qreal devicePixelRatio = 1.0);
};

} // namespace pixkey
