// pixkeyctl autostart on|off|status: whether the configurator starts, minimized, with the user's
// desktop (the user's XDG autostart entry; the General Settings dialog has the same switch).

#include "CtlCommand.h"

#include "Autostart.h"

#include <cstdio>

namespace pixkey::ctl {
namespace {

const char kUsage[] = "autostart on|off|status";

int runAutostart(const std::vector<std::string> &args, const CtlOptions &)
{
    if (args.size() != 1)
        return usageError(args.empty() ? "autostart wants on, off or status" : "unexpected argument '" + args[1] + "'",
                          kUsage);
    const Autostart autostart;
    const std::string &what = args.front();
    QString error;
    if (what == "on") {
        if (!autostart.enable(&error))
            return fail(ExitFailed, "cannot turn autostart on: " + error.toStdString());
    } else if (what == "off") {
        if (!autostart.disable(&error))
            return fail(ExitFailed, "cannot turn autostart off: " + error.toStdString());
    } else if (what != "status") {
        return usageError("autostart wants on, off or status, not '" + what + "'", kUsage);
    }
    if (autostart.isEnabled())
        std::printf("on: %s starts the configurator minimized with the desktop\n", qPrintable(autostart.entryPath()));
    else
        std::printf("off\n");
    return ExitOk;
}

const CtlCommandRegistrar registrar({"autostart", kUsage,
                                     "start the configurator minimized with the desktop, or not, or tell which",
                                     runAutostart});

} // namespace
} // namespace pixkey::ctl
