#pragma once
// Collects the regions of the paint events a widget receives (install it as an event filter).

#include <QEvent>
#include <QObject>
#include <QPaintEvent>
#include <QRegion>

namespace pixkey::test {

class PaintRecorder : public QObject {
public:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            painted += static_cast<QPaintEvent *>(event)->region();
        return false;
    }
    QRegion painted;
};

} // namespace pixkey::test
