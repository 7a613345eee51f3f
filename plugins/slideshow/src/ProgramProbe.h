// ProgramProbe: whether the presentation program (LibreOffice, process "soffice.bin") runs for
// this user, and the one-time request that makes a running office listen on the plug-in's pipe.
//
// The process found is remembered and checked first next time, so a look costs one stat while it
// runs; a scan of /proc happens only while none is known.
//
// [any-thread], one object per thread (the monitor's).
#pragma once

#include <string>
#include <sys/types.h>

namespace slideshow {

class ProgramProbe {
public:
    // `processName`: the process name (as in /proc/PID/comm) that counts as the program.
    explicit ProgramProbe(std::string processName = "soffice.bin");

    // The program's process of this user, or 0 when none runs.
    pid_t find();

    // Asks the running office `pid` to accept UNO connections on pipe `pipeName`, by running its
    // launcher with --accept and the office's own profile (which hands the request to the running
    // instance and opens nothing). Started detached; false when it could not be started.
    static bool requestPipe(pid_t pid, const std::string &pipeName);

private:
    bool matches(pid_t pid) const;

    std::string m_processName;
    pid_t m_known = 0;
};

} // namespace slideshow
