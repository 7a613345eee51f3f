#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

namespace pixkey {

// Turns SIGTERM and SIGINT into a call on the main thread's event loop (through a self-pipe that
// the signal handler writes), so a termination request ends the program the same orderly way as
// its Exit command. One per process; create and use on the main thread.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(std::function<void(int signal)> handler, QObject *parent = nullptr);
    ~TerminationSignals() override;
    // False when the pipe or the handlers could not be set up.
    bool isValid() const { return m_notifier != nullptr; }

private:
    void readSignals();

    std::function<void(int)> m_handler;
    QSocketNotifier *m_notifier = nullptr;
};

} // namespace pixkey
