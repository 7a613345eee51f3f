#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace pixkey {

// What the layout switching needs of the desktop and of the other running configurators: the
// hook layer in the program (`PxkhkDesktop`), a scripted fake in tests. Main thread.
class DesktopPort {
public:
    virtual ~DesktopPort() = default;
    virtual int configuratorsCount() = 0;
    // Posts a private message to every other running configurator.
    virtual void broadcast(int message, std::int64_t wParam, std::int64_t lParam) = 0;
    virtual bool registerHotkey(int id, int modifiers, int key) = 0;
    virtual void unregisterHotkey(int id) = 0;
    // Milliseconds since the last user input; empty when the desktop cannot tell.
    virtual std::optional<std::uint32_t> idleTime() = 0;
    // The process behind a window (0 unknown) and its executable file name (empty unknown).
    virtual int processIdOfWindow(unsigned long window) = 0;
    virtual std::string executableNameOfWindow(unsigned long window) = 0;
};

} // namespace pixkey
