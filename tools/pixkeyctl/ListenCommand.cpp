// pixkeyctl listen: prints the keys pressed until interrupted.

#include "CtlCommand.h"
#include "FrameTransform.h"

#include <csignal>
#include <cstdio>
#include <ctime>
#include <pthread.h>

namespace pixkey::ctl {
namespace {

const char kUsage[] = "listen [--orientation N]";

int runListen(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("listen takes no arguments", kUsage);
    // SIGINT and SIGTERM are taken with sigtimedwait on this thread; blocked before the link's
    // worker starts, so that it inherits the mask and never receives them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    CtlKeypad keypad(options);
    const int orientation = options.orientation;
    keypad.setKeyHandler([orientation](int deviceKey) {
        const int slot = slotForDeviceKey(deviceKey, orientation);
        if (slot < 0)
            return;
        std::printf("key %d\n", slot + 1);
        std::fflush(stdout);
    });
    if (const int r = keypad.connect(); r != ExitOk)
        return r;
    std::fprintf(stderr, "pixkeyctl: listening to the keypad at %s; Ctrl+C ends\n",
                 keypad.link().portName().c_str());
    for (;;) {
        const timespec tick{0, 200 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM)
            return ExitOk;
        if (keypad.linkLost())
            return fail(ExitFailed, "the link to the keypad was lost");
    }
}

const CtlCommandRegistrar registrar({"listen", kUsage, "print \"key N\" for every key pressed until interrupted",
                                     runListen});

} // namespace
} // namespace pixkey::ctl
