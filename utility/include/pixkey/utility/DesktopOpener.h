// DesktopOpener.h: hands an address, a file or a program to the desktop without a shell and
// without waiting for it, so a key press never blocks on what it starts.
#pragma once

#include "UtilityExport.h"

#include <string>
#include <vector>

namespace pixkey {

// True for "http://" and "https://" addresses (scheme compared without regard to case): the only
// links that untrusted content, such as a feed or a web page, may have opened.
PIXKEY_UTILITY_EXPORT bool IsWebAddress(const std::string &address);

// Opens `target` with the desktop's default handler (`xdg-open TARGET`). Returns false when the
// target is empty, starts with '-' (it would read as an option) or xdg-open is not on PATH.
// [any-thread]
PIXKEY_UTILITY_EXPORT bool OpenWithDesktop(const std::string &target);

// Starts `program` (a path, or a name looked up on PATH) with `arguments`, detached: its own
// session, standard input and output on /dev/null, never waited for and never left a zombie.
// Returns false when the program is not found or cannot be started. [any-thread]
PIXKEY_UTILITY_EXPORT bool StartDetached(const std::string &program,
                                         const std::vector<std::string> &arguments = {});

// Full path of `program` when it is an executable file, or a name found on PATH; empty otherwise.
// [any-thread]
PIXKEY_UTILITY_EXPORT std::string FindProgram(const std::string &program);

} // namespace pixkey
