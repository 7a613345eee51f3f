#include "FileTime.h"

#include <chrono>

namespace vegas {

FileTime systemFileTime()
{
    using Units = std::chrono::duration<FileTime, std::ratio<1, kFileTimeUnitsPerSecond>>;
    const auto sinceUnixEpoch = std::chrono::system_clock::now().time_since_epoch();
    return std::chrono::duration_cast<Units>(sinceUnixEpoch).count() + kUnixEpochFileTime;
}

} // namespace vegas
