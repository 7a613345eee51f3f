// UiPictures: the user interface's own pictures and icons, drawn as vector pictures compiled into
// the program and rendered at the screen's device pixel ratio, so they are crisp on any screen.
//
//   emptyKey            96x96   what the preview shows on a key without a plug-in
//   orientationPicture  72x72   the settings' orientation picker, four pictures in picker order:
//                               horizontal, horizontal turned over, vertical turned the other way
//                               (orientation 3), vertical (orientation 2)
//   brightnessPicture   34x34   the brightness picker, levels 0..2
//   trayIcon                    the notification-area icon, connected or not
//   windowIcon                  the program's icon (windows, About)
//   addPluginIcon               the icon of the "Add Plug-in..." button
//
// Pixmaps carry their device pixel ratio; their logical size is the size above. Each call renders
// anew; callers keep what they show. [main-thread] (QPixmap).
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QSize>
#include <QString>

namespace pixkey {

class UiPictures {
public:
    static constexpr int kOrientationPictures = 4;
    static constexpr int kBrightnessPictures = 3;

    static QPixmap emptyKey(qreal devicePixelRatio = 1.0);
    // Position 0..3 of the picker (out of range: position 0).
    static QPixmap orientationPicture(int position, qreal devicePixelRatio = 1.0);
    // Level 0..2 (out of range: clamped).
    static QPixmap brightnessPicture(int level, qreal devicePixelRatio = 1.0);
    static QIcon trayIcon(bool connected);
    static QIcon windowIcon();
    static QIcon addPluginIcon();

    // Renders a vector picture from the resources at a logical size and device pixel ratio; a null
    // pixmap when the resource is missing or not a valid picture.
    static QPixmap render(const QString &resource, QSize logicalSize, qreal devicePixelRatio = 1.0);
    // An icon with pixmaps of the usual icon sizes (16 to 256) from one vector picture.
    static QIcon icon(const QString &resource);
};

} // namespace pixkey
