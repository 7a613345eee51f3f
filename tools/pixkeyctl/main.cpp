// pixkeyctl: drives the keypad from the command line. The commands register themselves in the
// table below (CtlCommand.h); main() picks one by its name.

#include "CtlCommand.h"

#include <csignal>
#include <cstdio>
#include <cstring>

namespace pixkey::ctl {

namespace {

std::vector<CtlCommand> &commandTable()
{
    static std::vector<CtlCommand> table;
    return table;
}

void printHelp()
{
    std::printf("usage: pixkeyctl [--port PATH] COMMAND [ARGS] [OPTIONS]\n\n"
                "Drives the Pixkey mini three keypad. The keypad is found by its USB adapter (067b:2303),\n"
                "or taken from --port PATH or the PIXKEY_PORT environment variable (for example the\n"
                "link of pixkey-emulator).\n\ncommands:\n");
    for (const CtlCommand &c : commandTable())
        std::printf("  pixkeyctl %s\n      %s\n", c.usage, c.summary);
    std::printf("\noptions (any command):\n"
                "  --port PATH          the keypad's serial port instead of discovery\n"
                "  --orientation N      0 horizontal, 1 turned over, 2 vertical, 3 vertical the other way (default 0)\n"
                "  --gamma G            gamma of the colour correction, 0.1..10 (default 0.65)\n"
                "  --white-balance K    white point in kelvin, 1000..40000 (default 8500)\n"
                "  --brightness L       brightness set on connecting, 0..2 (default 2)\n"
                "  --hold               show all keys together once all are uploaded\n"
                "  --help               show this text\n\n"
                "KEY is 1, 2 or 3 from left to right (top to bottom when vertical).\n\n"
                "While the program (PixkeyMiniConfigurator) runs for the keypad, pixkeyctl asks it over the\n"
                "session bus: activate switches its layout, the layout commands make it reload.\n\n"
                "exit codes: 0 done, 1 link lost, unreadable picture or refused by the program, 2 no usable keypad,\n"
                "3 the program does not run (status, press, watch, screenshot, switch-layout, row, desktop), 64 bad arguments\n");
}

} // namespace

void registerCommand(const CtlCommand &command)
{
    for (const CtlCommand &c : commandTable())
        if (std::strcmp(c.name, command.name) == 0)
            return;
    commandTable().push_back(command);
}

} // namespace pixkey::ctl

int main(int argc, char **argv)
{
    using namespace pixkey::ctl;
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args(argv + 1, argv + argc);
    for (const std::string &a : args) {
        if (a == "--help" || a == "-h") {
            printHelp();
            return ExitOk;
        }
    }
    CtlOptions options;
    std::string error;
    if (!parseOptions(args, options, error))
        return usageError(error);
    if (args.empty())
        return usageError("no command given");
    const std::string name = args.front();
    args.erase(args.begin());
    for (const CtlCommand &c : commandTable()) {
        if (name == c.name)
            return c.run(args, options);
    }
    return usageError("unknown command '" + name + "'");
}
