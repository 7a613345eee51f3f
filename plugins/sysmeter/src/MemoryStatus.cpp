#include "MemoryStatus.h"

#include <cstdio>
#include <cstring>

namespace sysmeter {

int MemoryStatus::load() const
{
    if (totalBytes == 0 || availableBytes >= totalBytes)
        return 0;
    return int((totalBytes - availableBytes) * 100 / totalBytes);
}

std::optional<MemoryStatus> readMemoryStatus(const std::string &root)
{
    std::FILE *file = std::fopen((root + "/meminfo").c_str(), "re");
    if (!file)
        return std::nullopt;
    // Values are in kB; a value too large for the multiplication below would be nonsense anyway.
    constexpr unsigned long long kLimitKb = (1ull << 53) / 1024;
    unsigned long long total = 0, available = 0, free = 0, buffers = 0, cached = 0;
    bool haveTotal = false, haveAvailable = false;
    char line[256];
    while (std::fgets(line, sizeof line, file)) {
        char name[64];
        unsigned long long value = 0;
        if (std::sscanf(line, "%63[^:]: %llu", name, &value) != 2 || value > kLimitKb)
            continue;
        if (std::strcmp(name, "MemTotal") == 0) {
            total = value;
            haveTotal = true;
        } else if (std::strcmp(name, "MemAvailable") == 0) {
            available = value;
            haveAvailable = true;
        } else if (std::strcmp(name, "MemFree") == 0) {
            free = value;
        } else if (std::strcmp(name, "Buffers") == 0) {
            buffers = value;
        } else if (std::strcmp(name, "Cached") == 0) {
            cached = value;
        }
    }
    std::fclose(file);
    if (!haveTotal || total == 0)
        return std::nullopt;
    MemoryStatus status;
    status.totalBytes = total * 1024;
    status.availableBytes = (haveAvailable ? available : free + buffers + cached) * 1024;
    if (status.availableBytes > status.totalBytes)
        status.availableBytes = status.totalBytes;
    return status;
}

} // namespace sysmeter
