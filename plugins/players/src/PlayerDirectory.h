// PlayerDirectory: the MPRIS players present on the session bus, kept current by a thread of its
// own, so that painting a key never waits on the bus.
//
// The directory's thread runs a Qt event loop with a private bus connection: it watches players
// coming and going (NameOwnerChanged), keeps each one's properties from PropertiesChanged and
// Seeked, re-reads them all on a slow period, asks the X display which process owns the window in
// front while two or more players are present, and reconnects when the bus goes away. Each change
// publishes a new immutable PlayerSnapshot.
//
// Threads: every public member may be called from any thread. snapshot() only copies a pointer
// under a lock; command() waits for the player's answer for at most Options::commandTimeout.
// One directory serves every instance of the library (shared()); tests make their own.
#pragma once

#include "PlayerState.h"

#include <QDBusConnection>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

namespace players {

class BusWatcher;

class PlayerDirectory {
public:
    struct Options {
        // Bus to watch; empty: the session bus of $DBUS_SESSION_BUS_ADDRESS.
        QString busAddress;
        // Process of the window in front, 0 when unknown (default: the X display's).
        std::function<int()> focusedProcess;
        // Time source of positions (default: steady_clock::now).
        std::function<Clock::time_point()> clock;
        std::chrono::milliseconds refreshPeriod{2000}; // every property re-read; reconnect tries
        std::chrono::milliseconds focusPeriod{500};    // window in front asked again
        std::chrono::milliseconds callTimeout{2000};   // the directory's own reads
        std::chrono::milliseconds commandTimeout{1000}; // a key's command waits at most this long
    };

    explicit PlayerDirectory(Options options);
    // Stops the thread and closes the connection; waits for the thread to end.
    ~PlayerDirectory();
    PlayerDirectory(const PlayerDirectory &) = delete;
    PlayerDirectory &operator=(const PlayerDirectory &) = delete;

    // The library's one directory with default options, started by the first caller and stopped
    // when the last holder lets go. Null when there is no QCoreApplication to run the bus in.
    static std::shared_ptr<PlayerDirectory> shared();

    // What is known now. Never null.
    SnapshotPtr snapshot() const;

    // The time positions are measured against.
    Clock::time_point now() const { return m_options.clock(); }

    // Calls `method` (Previous, Next, Play, Pause, Stop) of org.mpris.MediaPlayer2.Player on
    // `service` and waits at most commandTimeout for the answer; true when the player answered
    // without an error. The player's properties are re-read afterwards.
    bool command(const QString &service, const char *method);

    // Waits until `condition` holds for the published snapshot, at most `timeout`. For tests and
    // tools that need to wait for the bus.
    bool waitUntil(const std::function<bool(const PlayerSnapshot &)> &condition, std::chrono::milliseconds timeout);

    // Whether the directory runs a bus thread (false without a QCoreApplication).
    bool running() const { return m_thread != nullptr; }

private:
    friend class BusWatcher;
    // [bus thread] Publishes a new snapshot and wakes waiters.
    void publish(SnapshotPtr snapshot);
    // [bus thread] The connection commands go through (disconnected while there is none).
    void setConnection(const QDBusConnection &connection);

    Options m_options;
    QThread *m_thread = nullptr;
    BusWatcher *m_watcher = nullptr; // lives in m_thread; deleted there

    mutable std::mutex m_lock;
    std::condition_variable m_changed;  // signalled with every publish
    SnapshotPtr m_snapshot;             // guarded by m_lock
    QDBusConnection m_connection{QString()}; // guarded by m_lock
};

} // namespace players
