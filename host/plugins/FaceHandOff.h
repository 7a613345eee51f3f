#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>

namespace pixkey {

class PluginInstance;

// One face-changed notification on its way from a paint thread (or the busy animator) to the main
// thread. The sender posts it to a `FaceSink` and may wait until the main thread has handled it;
// a stop request abandons it, which releases the waiter and keeps the main thread from ever
// touching the instance through it. Shared (std::shared_ptr) by the sender, the sink's queue and
// the instance; all members may be called from any thread. Guarded by `m_mutex`.
class FaceHandOff {
public:
    explicit FaceHandOff(PluginInstance *instance) : m_instance(instance) {}

    // [main-thread] Runs `handler` with the instance unless the hand-off was abandoned, then wakes
    // the sender. Returns whether the handler ran.
    bool deliver(const std::function<void(PluginInstance &)> &handler);

    // [any-thread] Gives the hand-off up: if the main thread has not started it, it never will, and
    // a waiting sender returns at once. Does not wait for a delivery already running.
    void abandon();

    // [sender] Blocks until the hand-off was delivered or abandoned.
    void wait();

    bool isFinished() const;

private:
    enum class State { Pending, Running, Done, Abandoned };

    PluginInstance *const m_instance;
    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    State m_state = State::Pending; // guarded by m_mutex
};

} // namespace pixkey
