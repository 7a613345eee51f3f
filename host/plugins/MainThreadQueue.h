#pragma once

#include "FaceSink.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>

namespace pixkey {

class PluginInstance;

// The plain main-thread model: a queue of face hand-offs and other tasks that the main thread
// pumps in its own loop (pixkeyctl, tests). Any thread posts; only the main thread pumps.
// Guarded by `m_mutex`.
class MainThreadQueue : public FaceSink {
public:
    using FaceHandler = std::function<void(PluginInstance &)>;

    // [main-thread] What a face-changed notification does on the main thread; unset: nothing.
    void setFaceHandler(FaceHandler handler);
    // [main-thread, before anything posts] Called on the posting thread after every post and
    // `wake`, for a main thread that sleeps in another loop (Qt's) and must be told to `pump`.
    void setWakeHook(std::function<void()> hook);

    // [any-thread]
    void post(std::shared_ptr<FaceHandOff> handOff) override;
    void postTask(std::function<void()> task);
    // Ends the current or next `pumpFor` wait early.
    void wake();

    // [main-thread] Runs everything queued now; returns how many items ran or were dropped.
    std::size_t pump();
    // [main-thread] Waits up to `timeout` for work (or `wake`), then pumps. Returns items handled.
    std::size_t pumpFor(std::chrono::milliseconds timeout);

private:
    // After a change under `m_mutex`: wakes `pumpFor` and calls the wake hook.
    void announce();

    struct Item {
        std::shared_ptr<FaceHandOff> handOff;
        std::function<void()> task;
    };

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<Item> m_items; // guarded by m_mutex
    bool m_woken = false;     // guarded by m_mutex
    FaceHandler m_handler;    // main thread only
    std::function<void()> m_wakeHook; // set before any post, read-only afterwards
};

} // namespace pixkey
