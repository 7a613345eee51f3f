// FaceDrawing: the three faces a Browser key shows: the loading progress bar, the error screen and
// the chosen square of the page. Each draws the whole 96x96 face. Any thread (QImage painting).
#pragma once

#include <QImage>
#include <QString>

namespace browser {

// Black, with ten boxes at x 17 + 6i, y 80 to 87 (exclusive), 5 pixels wide: white for the first
// progress / (progressMax / 10) boxes, grey 0x5A5A5A for the rest; no box is lit when
// progressMax / 10 is 0.
void drawProgressBar(QImage &face, int progress, int progressMax);

// Dark red (77, 0, 0) with `text` (the error status) written in white from the top-left corner.
void drawErrorScreen(QImage &face, const QString &text);

// The square (left, top, size x size) of `page` scaled down onto the face with area averaging;
// parts of the square outside the page are black. A null page or a size below 1 gives black.
void drawPageSquare(QImage &face, const QImage &page, int left, int top, int size);

} // namespace browser
