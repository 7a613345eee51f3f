// CTrueTime: the wall-clock time of one time zone, chosen by IANA id ("Europe/Prague",
// "America/New_York", "UTC", "UTC+05:30").
//
// [any-thread] All members may be called from several threads at once (the zone is guarded by an
// internal lock), so a settings dialog may change the zone while a paint thread reads the time.
#pragma once

#include "UtilityExport.h"

#include <cstdint>

namespace pixkey {

// A broken-down time. wDayOfWeek: 0 Sunday .. 6 Saturday; wMonth 1..12.
struct SYSTEMTIME {
    std::uint16_t wYear = 0;
    std::uint16_t wMonth = 0;
    std::uint16_t wDayOfWeek = 0;
    std::uint16_t wDay = 0;
    std::uint16_t wHour = 0;
    std::uint16_t wMinute = 0;
    std::uint16_t wSecond = 0;
    std::uint16_t wMilliseconds = 0;
};

class PIXKEY_UTILITY_EXPORT CTrueTime {
public:
    CTrueTime(); // the computer's local zone
    ~CTrueTime();
    CTrueTime(const CTrueTime &) = delete;
    CTrueTime &operator=(const CTrueTime &) = delete;

    // Selects the zone with IANA id `zone`. Null, empty or an unknown id selects the computer's
    // local zone; the result is false in the last case.
    bool SetTimezone(const char *zone);

    // The current wall-clock time of the selected zone. Null is ignored.
    void GetLocalTime(SYSTEMTIME *time) const;

    // The wall-clock time of the selected zone at `msecsSinceEpoch` (UTC milliseconds since
    // 1970-01-01 00:00).
    void GetLocalTimeAt(std::int64_t msecsSinceEpoch, SYSTEMTIME *time) const;

    // The id of the selected zone (the local zone's own id when none was chosen). Returned as a
    // copy in `buffer` of `size` bytes, always NUL-terminated when size > 0.
    void GetTimezone(char *buffer, int size) const;

private:
    struct Zone;
    Zone *m_zone;
};

} // namespace pixkey
