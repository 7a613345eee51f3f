#include "KeyDebouncer.h"

#include <cstdint>

namespace pixkey {

bool KeyDebouncer::accept(int deviceKey, std::int64_t nowMs)
{
    if (deviceKey < 1 || deviceKey > 3)
        return false;
    const std::size_t k = std::size_t(deviceKey - 1);
    // A key never accepted has no last press to bounce from, whatever the clock's origin.
    const std::int64_t sinceLast = m_everAccepted[k] ? nowMs - m_lastAccepted[k] : INT64_MAX;
    if (sinceLast < kBounceMs)
        m_bouncing = true;
    if (m_bouncing) {
        const std::uint32_t previous = m_lastReport[k];
        const std::uint32_t reports = m_reports;
        m_lastReport[k] = reports;
        ++m_reports;
        if (previous + kReportsBack <= reports || sinceLast < kBouncingGapMs)
            return false;
    }
    m_lastAccepted[k] = nowMs;
    m_everAccepted[k] = true;
    return true;
}

} // namespace pixkey
