// PageStatus: what the off-screen page reports about its newest navigation: load progress,
// completion, error status, scroll position and the address shown.
//
// Written by the renderer on the main thread, read and reset by the capture cycle on its paint
// thread; shared by both through a shared_ptr and guarded by one short lock that is never held
// while waiting for anything. Header-only, because the engine part and the plug-in both use it.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

namespace browser {

// net error code of an address that cannot be loaded at all (shown on the error screen).
inline constexpr int kInvalidAddressStatus = -300;

struct PageSnapshot {
    int progress = 0;
    int progressMax = 0;
    int errorStatus = 0;         // HTTP status or network error code of a failed load; 0 if none
    bool documentComplete = false;
    int scrollTop = 0;
    int scrollHeight = 0;
    std::string location;        // the address the page shows now
    std::string engineError;     // non-empty when the web engine could not start
};

class PageStatus {
public:
    // [any-thread] A navigation was asked for: clears the load state (progress, error,
    // completion, scroll) and returns the navigation's serial. Reports about older navigations
    // are dropped from now on.
    std::uint64_t beginNavigation()
    {
        std::lock_guard lock(m_lock);
        const std::string location = m_state.location;
        const std::string engineError = m_state.engineError;
        m_state = PageSnapshot{};
        m_state.location = location;
        m_state.engineError = engineError;
        return ++m_serial;
    }

    // [main-thread] Applies `change` to the state when `serial` is still the newest navigation.
    template <class Change>
    bool update(std::uint64_t serial, Change &&change)
    {
        std::lock_guard lock(m_lock);
        if (serial != m_serial)
            return false;
        change(m_state);
        return true;
    }

    // [any-thread] The scroll position the cycle just asked for. It stands until the page answers
    // a scroll query made after it: answers to earlier queries still bring the scroll height.
    void setScrollTop(int top)
    {
        std::lock_guard lock(m_lock);
        m_state.scrollTop = top;
        ++m_scrollGeneration;
    }

    // [any-thread] Tags a scroll query with the scroll requests made so far.
    std::uint64_t scrollGeneration() const
    {
        std::lock_guard lock(m_lock);
        return m_scrollGeneration;
    }

    // [main-thread] The page's answer to a scroll query tagged `generation`.
    void reportScroll(std::uint64_t serial, std::uint64_t generation, int height, int top)
    {
        std::lock_guard lock(m_lock);
        if (serial != m_serial)
            return;
        m_state.scrollHeight = height;
        if (generation == m_scrollGeneration)
            m_state.scrollTop = top;
    }

    void setLocation(const std::string &location)
    {
        std::lock_guard lock(m_lock);
        m_state.location = location;
    }

    void setEngineError(const std::string &error)
    {
        std::lock_guard lock(m_lock);
        m_state.engineError = error;
    }

    PageSnapshot snapshot() const
    {
        std::lock_guard lock(m_lock);
        return m_state;
    }

    std::uint64_t serial() const
    {
        std::lock_guard lock(m_lock);
        return m_serial;
    }

private:
    mutable std::mutex m_lock;
    PageSnapshot m_state;      // guarded by m_lock
    std::uint64_t m_serial = 0; // guarded by m_lock
    std::uint64_t m_scrollGeneration = 0; // guarded by m_lock
};

} // namespace browser
