#pragma once

#include <QImage>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace pixkey {

// What the animator draws on: the paint state of one plug-in instance.
class BusyTarget {
public:
    virtual ~BusyTarget() = default;
    // [animator, under its lock] Whether the instance is active.
    virtual bool busyActive() const = 0;
    // [animator, under its lock] Shows spinner frame `frame` over the face and announces it.
    virtual void showBusyFrame(int frame) = 0;
};

// Draws a turning spinner over the faces of instances whose `Paint` runs long. Instances enter
// the set when a paint starts and leave it when it returns; every tick (125 ms) each one that has
// been painting for more than 249 ms gets spinner frame ((elapsed - 250) / 125) mod 8 drawn at
// (38, 76) on its overlay, and a face-changed notification.
//
// One per program (`instance()`, made with its thread on first use); tests make their own with a
// manual clock and no thread and call `tick` themselves. `add`, `remove` and `tick` may be called
// from any thread; the set is guarded by `m_mutex`, which is taken before an instance's face lock.
//
// The thread sleeps on a timer that is armed only while a paint runs, for the moment its spinner
// would be due: a paint that returns in time disarms it, so the thread never wakes for the many
// short paints of a program at rest.
class BusyAnimator {
public:
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    static constexpr std::chrono::milliseconds kTick{125};
    static constexpr std::chrono::milliseconds kDelay{250};
    static constexpr int kSpinnerX = 38;
    static constexpr int kSpinnerY = 76;
    static constexpr int kFrames = 8;

    static BusyAnimator &instance();

    // `clock` defaults to steady_clock; with `runThread` false nothing ticks unless `tick` is called.
    explicit BusyAnimator(Clock clock = {}, bool runThread = true);
    ~BusyAnimator();
    BusyAnimator(const BusyAnimator &) = delete;
    BusyAnimator &operator=(const BusyAnimator &) = delete;

    std::chrono::steady_clock::time_point now() const;

    // A target begins a paint at `start` / has left it (or is going away). The set keeps the
    // target alive while it is in it.
    void add(std::shared_ptr<BusyTarget> target, std::chrono::steady_clock::time_point start);
    void remove(const BusyTarget *target);
    bool contains(const BusyTarget *target);

    // One pass over the set at the clock's current time.
    void tick();
    // How often the thread has woken to tick (diagnostics and tests).
    uint64_t wakeCount() const { return m_wakes.load(); }

    // Frame n (0..7) of the spinner strip: 20x20, transparent where the strip is white.
    static const QImage &spinnerFrame(int n);
    // The spinner frame number for a paint running `elapsed`, or -1 while it is not yet due.
    static int frameFor(std::chrono::milliseconds elapsed);

private:
    // A decision about the timer, taken under m_mutex and carried out after it by apply(): fire
    // at `at`, or disarm. Ticket 0: nothing to do.
    struct TimerChange {
        uint64_t ticket = 0;
        std::optional<std::chrono::steady_clock::time_point> at;
    };
    void run();
    // Under m_mutex: the timer for the next moment a painting may need a frame, or disarmed when
    // nothing paints.
    TimerChange rearm();
    TimerChange decide(std::optional<std::chrono::steady_clock::time_point> at);
    void apply(const TimerChange &change);

    Clock m_clock;
    std::mutex m_mutex;
    struct Painting {
        std::shared_ptr<BusyTarget> target;
        std::chrono::steady_clock::time_point start;
    };
    std::map<const BusyTarget *, Painting> m_painting; // guarded by m_mutex
    bool m_stop = false; // guarded by m_mutex
    bool m_armed = false;        // guarded by m_mutex: the last decision armed the timer
    uint64_t m_timerTicket = 0;  // guarded by m_mutex
    std::mutex m_timerMutex;     // orders the timer's system calls; taken after m_mutex is released
    uint64_t m_appliedTicket = 0; // guarded by m_timerMutex
    int m_timerFd = -1;          // the thread's timer; -1 without a thread
    std::atomic<uint64_t> m_wakes{0};
    std::thread m_thread;
};

} // namespace pixkey
