// VolumeScale: conversions between a key's level (0..65535) and the units of the sound systems.
//
// Both directions round to the nearest step, so that a level written and read back is the same
// level: with truncation 6553 written to a server counting 65536 to full comes back as 6552 and
// the first segment of the bar would go dark again. Pure functions, any thread.
#pragma once

#include <algorithm>
#include <cstdint>

namespace volume {

constexpr std::uint32_t kLevelFull = 65535;

// PulseAudio's volume of a channel at 100 % (PA_VOLUME_NORM); above it the server amplifies.
constexpr std::uint32_t kPulseNorm = 0x10000;

// A server volume as a level; anything at or above 100 % is the full level.
constexpr std::uint32_t levelFromPulse(std::uint32_t volume)
{
    const std::uint64_t scaled = (std::uint64_t(volume) * kLevelFull + kPulseNorm / 2) / kPulseNorm;
    return std::uint32_t(std::min<std::uint64_t>(scaled, kLevelFull));
}

// A level as a server volume (0..100 %); levels above the full level count as full.
constexpr std::uint32_t pulseFromLevel(std::uint32_t level)
{
    const std::uint64_t clamped = std::min(level, kLevelFull);
    return std::uint32_t((clamped * kPulseNorm + kLevelFull / 2) / kLevelFull);
}

// A mixer value of the range min..max as a level; values outside the range are clamped, an empty
// range reads as silence.
constexpr std::uint32_t levelFromRange(long value, long min, long max)
{
    if (max <= min)
        return 0;
    value = std::clamp(value, min, max);
    const std::uint64_t span = std::uint64_t(max - min);
    return std::uint32_t((std::uint64_t(value - min) * kLevelFull + span / 2) / span);
}

// A level as a mixer value of the range min..max.
constexpr long rangeFromLevel(std::uint32_t level, long min, long max)
{
    if (max <= min)
        return min;
    const std::uint64_t span = std::uint64_t(max - min);
    const std::uint64_t clamped = std::min(level, kLevelFull);
    return min + long((clamped * span + kLevelFull / 2) / kLevelFull);
}

} // namespace volume
