#pragma once

#include "DesktopPort.h"

namespace pixkey {

class DesktopHook;

// `DesktopPort` over the hook layer (not owned; must outlive this). Main thread.
class PxkhkDesktop : public DesktopPort {
public:
    explicit PxkhkDesktop(DesktopHook &hook) : m_hook(hook) {}
    int configuratorsCount() override;
    void broadcast(int message, std::int64_t wParam, std::int64_t lParam) override;
    bool registerHotkey(int id, int modifiers, int key) override;
    void unregisterHotkey(int id) override;
    std::optional<std::uint32_t> idleTime() override;
    int processIdOfWindow(unsigned long window) override;
    std::string executableNameOfWindow(unsigned long window) override;

private:
    DesktopHook &m_hook;
};

} // namespace pixkey
