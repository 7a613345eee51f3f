// TaskManager: opens the desktop's own system monitor, what a press on a System Monitor key does.
//
// [any-thread]: nothing is kept; the program is started detached, without a shell and without
// waiting for it.
#pragma once

#include <string>
#include <vector>

namespace sysmeter {

// The system monitors looked for, in order of preference.
const std::vector<std::string> &systemMonitorPrograms();

// The program and arguments a press starts: the first system monitor found on PATH, otherwise
// "x-terminal-emulator -e top".
std::vector<std::string> systemMonitorCommand();

// Starts systemMonitorCommand(). False when that program is missing or does not start.
bool openSystemMonitor();

} // namespace sysmeter
