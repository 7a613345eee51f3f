// pixkeyctl on, off, brightness: the displays as a whole.

#include "CtlCommand.h"

namespace pixkey::ctl {
namespace {

int runSimple(const std::vector<std::string> &args, const CtlOptions &options, const char *usage,
              LinkCommand cmd, uint8_t arg)
{
    if (!args.empty())
        return usageError("unexpected argument '" + args.front() + "'", usage);
    CtlKeypad keypad(options);
    if (const int r = keypad.connect(false); r != ExitOk)
        return r;
    return keypad.command(cmd, arg);
}

int runOn(const std::vector<std::string> &args, const CtlOptions &options)
{
    return runSimple(args, options, "on", LinkCommand::DisplayOn, 0);
}

int runOff(const std::vector<std::string> &args, const CtlOptions &options)
{
    return runSimple(args, options, "off", LinkCommand::DisplayOff, 0);
}

int runBrightness(const std::vector<std::string> &args, const CtlOptions &options)
{
    static const char usage[] = "brightness L";
    long level = 0;
    if (args.size() != 1 || !parseInt(args[0], 0, 2, level))
        return usageError("brightness needs a level 0, 1 or 2", usage);
    return runSimple({}, options, usage, LinkCommand::SetBrightness, static_cast<uint8_t>((level + 1) * 20));
}

const CtlCommandRegistrar onRegistrar({"on", "on", "switch the displays on", runOn});
const CtlCommandRegistrar offRegistrar({"off", "off", "switch the displays off", runOff});
const CtlCommandRegistrar brightnessRegistrar({"brightness", "brightness L",
                                               "set the brightness of the displays: 0, 1 or 2", runBrightness});

} // namespace
} // namespace pixkey::ctl
