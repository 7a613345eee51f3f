#pragma once

#include "PrivateMessage.h"

#include <QEvent>
#include <QString>

#include <cstdint>
#include <functional>

namespace pixkey {

// One private message on its way to the main thread: posted from any thread with
// QCoreApplication::postEvent, handled by the runtime's event object. Owned by Qt's event queue.
class MainThreadEvent : public QEvent {
public:
    MainThreadEvent(PrivateMessage message, std::int64_t wParam = 0, std::int64_t lParam = 0,
                    QString path = QString())
        : QEvent(eventType(message)), m_message(message), m_wParam(wParam), m_lParam(lParam),
          m_path(std::move(path)) {}
    // A message that carries work to run on the main thread (face hand-offs).
    MainThreadEvent(PrivateMessage message, std::function<void()> task)
        : QEvent(eventType(message)), m_message(message), m_task(std::move(task)) {}

    PrivateMessage message() const { return m_message; }
    std::int64_t wParam() const { return m_wParam; }
    std::int64_t lParam() const { return m_lParam; }
    const QString &path() const { return m_path; }
    const std::function<void()> &task() const { return m_task; }

private:
    PrivateMessage m_message;
    std::int64_t m_wParam = 0;
    std::int64_t m_lParam = 0;
    QString m_path;
    std::function<void()> m_task;
};

} // namespace pixkey
