#include "PxkhkDesktop.h"

#include <pixkey/pxkhk/DesktopHook.h>

namespace pixkey {

int PxkhkDesktop::configuratorsCount() { return m_hook.GetConfiguratorsCount(); }

void PxkhkDesktop::broadcast(int message, std::int64_t wParam, std::int64_t lParam)
{
    m_hook.BroadcastMessage(std::uint32_t(message), wParam, lParam);
}

bool PxkhkDesktop::registerHotkey(int id, int modifiers, int key)
{
    return m_hook.RegisterHotkey(id, std::uint16_t(modifiers), std::uint16_t(key));
}

void PxkhkDesktop::unregisterHotkey(int id) { m_hook.UnregisterHotkey(id); }
std::optional<std::uint32_t> PxkhkDesktop::idleTime() { return m_hook.idleTime(); }
int PxkhkDesktop::processIdOfWindow(unsigned long window) { return m_hook.processIdOfWindow(window); }

std::string PxkhkDesktop::executableNameOfWindow(unsigned long window)
{
    return m_hook.executableNameOfWindow(window);
}

} // namespace pixkey
