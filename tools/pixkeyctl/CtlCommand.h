#pragma once
// CtlCommand: one pixkeyctl command and the table it registers itself in.
//
// A command is one source file that defines its run function and a static CtlCommandRegistrar:
//
//     static int runFoo(const std::vector<std::string> &args, const CtlOptions &options);
//     static const CtlCommandRegistrar registrar({"foo", "foo ARG [--opt]", "what foo does", runFoo});
//
// and one line in pixkeyctl's source list. The table lives in main.cpp; registration happens
// during static initialisation, before main() runs, on the main thread.

#include "CtlSupport.h"

#include <string>
#include <vector>

namespace pixkey::ctl {

struct CtlCommand {
    // Runs the command with its positional arguments (options already taken out) and returns the
    // process's exit code (CtlExit).
    using Run = int (*)(const std::vector<std::string> &args, const CtlOptions &options);

    const char *name;    // the word on the command line, e.g. "show"
    const char *usage;   // one usage line without the program name, e.g. "show KEY IMAGE [...]"
    const char *summary; // one line of what it does
    Run run;
};

// Adds a command to the table in main.cpp. Two commands with one name: the first wins.
void registerCommand(const CtlCommand &command);

struct CtlCommandRegistrar {
    explicit CtlCommandRegistrar(const CtlCommand &command) { registerCommand(command); }
};

} // namespace pixkey::ctl
