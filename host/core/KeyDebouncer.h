#pragma once

#include <array>
#include <cstdint>

namespace pixkey {

// Decides which key reports of the keypad are real presses. Worn keys bounce: a second report of
// one key within 50 ms sets the bounce flag for the rest of the run, and from then on a report is
// dropped when it comes less than 500 ms after that key's last accepted press, or when the key's
// previous report lies four or more reports back (a key nobody touched for a while that suddenly
// reports is taken for noise). Times are milliseconds of the caller's clock. Main thread only.
class KeyDebouncer {
public:
    static constexpr std::int64_t kBounceMs = 50;
    static constexpr std::int64_t kBouncingGapMs = 500;
    static constexpr std::uint32_t kReportsBack = 4;

    // A report of device key 1..3 at `nowMs`: true when it is a press to act on.
    bool accept(int deviceKey, std::int64_t nowMs);
    bool bouncing() const { return m_bouncing; }

private:
    std::array<std::int64_t, 3> m_lastAccepted{};
    std::array<bool, 3> m_everAccepted{};
    std::array<std::uint32_t, 3> m_lastReport{};
    std::uint32_t m_reports = 0;
    bool m_bouncing = false;
};

} // namespace pixkey
