// MemoryStatus: the physical memory figures of /proc/meminfo that the "Free memory" key shows.
//
// [any-thread]: readMemoryStatus reads the file and keeps nothing.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace sysmeter {

struct MemoryStatus {
    std::uint64_t totalBytes = 0;
    std::uint64_t availableBytes = 0; // what new programs can have without swapping

    // Percent of the memory in use, (total - available) x 100 / total, kept within 0..100.
    int load() const;
    // The available memory in whole MiB (rounded down).
    std::uint64_t availableMb() const { return availableBytes / 1048576; }
};

// Reads `root`/meminfo ("MemTotal", "MemAvailable"; before kernels had "MemAvailable", "MemFree"
// with "Buffers" and "Cached"). Empty when the file cannot be read or names no total.
std::optional<MemoryStatus> readMemoryStatus(const std::string &root = "/proc");

} // namespace sysmeter
