// File time: a moment as the number of 100-nanosecond units since 1 January 1601 UTC, the unit the
// reels measure their stop delay in.
#pragma once

#include <cstdint>
#include <functional>

namespace vegas {

using FileTime = std::int64_t;

// Units of a file time per second.
inline constexpr FileTime kFileTimeUnitsPerSecond = 10'000'000;

// File time of the Unix epoch, 1 January 1970 UTC.
inline constexpr FileTime kUnixEpochFileTime = 116'444'736'000'000'000;

// Where a reel reads the time; any thread may call it.
using FileTimeClock = std::function<FileTime()>;

// The system's UTC wall clock as a file time. Follows the clock when it is set, back or forth.
FileTime systemFileTime();

} // namespace vegas
