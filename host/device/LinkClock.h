#pragma once
// LinkClock: the millisecond tick the device worker measures keep-alive intervals with.
// The default is the monotonic steady clock; tests inject a clock they move by hand.
// now() is called on the worker thread; implementations must be thread-safe.

#include <chrono>

namespace pixkey {

class LinkClock {
public:
    virtual ~LinkClock() = default;
    virtual std::chrono::milliseconds now() const = 0;
};

class SteadyLinkClock final : public LinkClock {
public:
    std::chrono::milliseconds now() const override
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now().time_since_epoch());
    }
};

} // namespace pixkey
