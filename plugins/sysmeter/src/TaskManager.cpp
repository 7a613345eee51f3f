#include "TaskManager.h"

#include <pixkey/utility/DesktopOpener.h>

namespace sysmeter {

const std::vector<std::string> &systemMonitorPrograms()
{
    static const std::vector<std::string> programs = {
        "gnome-system-monitor", "plasma-systemmonitor", "ksysguard",
        "xfce4-taskmanager",    "mate-system-monitor",  "lxtask",
    };
    return programs;
}

std::vector<std::string> systemMonitorCommand()
{
    for (const std::string &program : systemMonitorPrograms())
        if (!pixkey::FindProgram(program).empty())
            return {program};
    return {"x-terminal-emulator", "-e", "top"};
}

bool openSystemMonitor()
{
    const std::vector<std::string> command = systemMonitorCommand();
    return pixkey::StartDetached(command.front(), {command.begin() + 1, command.end()});
}

} // namespace sysmeter
