#pragma once
// LinkCompletion: a one-shot result handed from the device worker to a caller that waits for it
// (a waiting SubmitFrame or PostCommand). Shared by both through a shared_ptr; any thread.

#include <condition_variable>
#include <mutex>

namespace pixkey {

class LinkCompletion {
public:
    // Stores the result and wakes the waiter; later calls are ignored (the first answer counts).
    void complete(int result)
    {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            if (m_done)
                return;
            m_done = true;
            m_result = result;
        }
        m_cv.notify_all();
    }
    // Blocks until complete() was called; returns its result.
    int wait()
    {
        std::unique_lock<std::mutex> guard(m_mutex);
        m_cv.wait(guard, [this] { return m_done; });
        return m_result;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_done = false;  // guarded by m_mutex
    int m_result = -1;    // guarded by m_mutex
};

} // namespace pixkey
