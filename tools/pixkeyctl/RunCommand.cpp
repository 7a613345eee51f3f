// pixkeyctl run: puts plug-in instances on the keys and runs them until interrupted.
//
//   pixkeyctl run LIBRARY.pkx[:FUNCTION][@NAME=VALUE ...] [...] [...]
//
// The first plug-in goes on key 1, the second on key 2, the third on key 3; "-" leaves a key
// black. Properties are set before activation. Presses go to the instance of the pressed key.

#include "ApplicationGraphics.h"
#include "CtlCommand.h"
#include "FrameTransform.h"

#include "FaceRouter.h"
#include "KeyRow.h"
#include "LoadedLibrary.h"
#include "MainThreadQueue.h"
#include "PluginCallGuard.h"
#include "PluginInstance.h"

#include <QApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <pthread.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace pixkey::ctl {
namespace {

const char kUsage[] = "run LIBRARY.pkx[:FUNCTION][@NAME=VALUE ...] [...] [...]";

// One key's plug-in as given on the command line.
struct RunSpec {
    std::string path;
    int function = 0; // 0: the library's default function
    std::vector<std::pair<std::string, std::string>> properties;
};

// Where the library's file name starts: just past the folder of the first ".pkx" that ends the
// path (followed by ':', '@' or nothing), so property values may hold '/' (ImagePath=/a/b.png);
// without such a ".pkx", past the last '/'. Folders may contain ':' and '@' either way.
size_t fileNameStart(const std::string &text)
{
    for (size_t pkx = text.find(".pkx"); pkx != std::string::npos; pkx = text.find(".pkx", pkx + 1)) {
        const size_t after = pkx + 4;
        if (after == text.size() || text[after] == ':' || text[after] == '@') {
            const size_t slash = text.rfind('/', pkx);
            return slash == std::string::npos ? 0 : slash + 1;
        }
    }
    const size_t slash = text.rfind('/');
    return slash == std::string::npos ? 0 : slash + 1;
}

// Splits "DIR/Lib.pkx:2@A=1@B=x=y" into path, function and properties.
bool parseSpec(const std::string &text, RunSpec &spec, std::string &error)
{
    const size_t nameStart = fileNameStart(text);
    const size_t at = text.find('@', nameStart);
    std::string head = text.substr(0, at);
    if (at != std::string::npos) {
        size_t start = at + 1;
        for (;;) {
            const size_t end = text.find('@', start);
            const std::string pair = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
            const size_t equals = pair.find('=');
            if (equals == std::string::npos || equals == 0) {
                error = "property '" + pair + "' of " + text + " is not NAME=VALUE";
                return false;
            }
            spec.properties.emplace_back(pair.substr(0, equals), pair.substr(equals + 1));
            if (end == std::string::npos)
                break;
            start = end + 1;
        }
    }
    const size_t colon = head.rfind(':');
    if (colon != std::string::npos && colon >= nameStart) {
        long function = 0;
        if (!parseInt(head.substr(colon + 1), 1, 1000, function)) {
            error = "function of " + text + " must be a number from 1";
            return false;
        }
        spec.function = static_cast<int>(function);
        head.erase(colon);
    }
    if (head.empty()) {
        error = "no plug-in file in '" + text + "'";
        return false;
    }
    spec.path = head;
    return true;
}

// The function a library puts on a key when none is named: min(n, c), c from GetInfo(12), 1 when
// that is 0 or below; n from GetInfo(10), at least 1.
int defaultFunction(const std::shared_ptr<LoadedLibrary> &library)
{
    PluginCallGuard describing;
    if (!describing.Create(library, 0))
        return 1;
    const intptr_t count = std::max<intptr_t>(1, describing.GetInfo(PKX_INFO_FUNCTION_COUNT));
    const intptr_t wanted = describing.GetInfo(PKX_INFO_DEFAULT_FUNCTION);
    describing.Delete();
    return wanted <= 0 ? 1 : static_cast<int>(std::min(count, wanted));
}

struct Row : KeyRow {
    std::array<PluginInstance *, 3> slots{};
    PluginInstance *instanceAt(int slot) const override { return slot >= 0 && slot < 3 ? slots[slot] : nullptr; }
};

int runRun(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (args.empty())
        return usageError("run needs at least one plug-in", kUsage);
    if (args.size() > 3)
        return usageError("run takes at most three plug-ins, one per key", kUsage);
    std::array<std::optional<RunSpec>, 3> specs;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == "-" || args[i].empty())
            continue;
        RunSpec spec;
        std::string error;
        if (!parseSpec(args[i], spec, error))
            return usageError(error, kUsage);
        specs[i] = std::move(spec);
    }

    std::array<std::shared_ptr<LoadedLibrary>, 3> libraries;
    for (size_t i = 0; i < 3; ++i) {
        if (!specs[i])
            continue;
        std::string error;
        libraries[i] = LoadedLibrary::load(specs[i]->path, &error);
        if (!libraries[i])
            return fail(ExitFailed, error);
    }

    // Plug-ins that paint text need a GUI application; without a display, the off-screen one.
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "pixkeyctl";
    static char *argv[] = {name, nullptr};
    // A widget application made with shared OpenGL contexts: plug-ins that render web pages need
    // both, and the contexts cannot be shared once the application exists.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    ApplicationGraphics graphics;
    QApplication application(argc, argv);
    graphics.applicationCreated();

    // SIGINT and SIGTERM are read from a signal descriptor on this thread; blocked before any
    // thread starts, so that the link's worker and the paint threads inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    const int signalFd = signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (signalFd < 0)
        return fail(ExitFailed, std::string("cannot watch for Ctrl+C: ") + std::strerror(errno));
    struct CloseOnReturn {
        int fd;
        ~CloseOnReturn() { ::close(fd); }
    } closeSignalFd{signalFd};

    // The main thread sleeps in Qt's event loop, which also carries plug-ins' own work (a web
    // page's loading). Faces from the paint threads, a lost link and the stop signals each wake
    // it; nothing else does. Declared before everything that posts to it, so it outlives them.
    QEventLoop loop;
    constexpr int kLinkLost = 1;

    MainThreadQueue queue;
    queue.setWakeHook([&loop, &queue] {
        QMetaObject::invokeMethod(&loop, [&queue] { queue.pump(); }, Qt::QueuedConnection);
    });
    Row row;
    std::array<std::unique_ptr<PluginInstance>, 3> instances;
    for (size_t i = 0; i < 3; ++i) {
        if (!libraries[i])
            continue;
        const int function = specs[i]->function ? specs[i]->function : defaultFunction(libraries[i]);
        instances[i] = std::make_unique<PluginInstance>(libraries[i], function, queue);
        for (const auto &[property, value] : specs[i]->properties)
            instances[i]->SetProperty(property, value);
        row.slots[i] = instances[i].get();
    }

    CtlKeypad keypad(options);
    const int orientation = options.orientation;
    // Presses arrive on the link's worker; KeyPressed only signals the paint thread.
    keypad.setKeyHandler([&row, orientation](int deviceKey) {
        if (PluginInstance *instance = row.instanceAt(slotForDeviceKey(deviceKey, orientation)))
            instance->KeyPressed();
    });
    keypad.setLossHandler([&loop] {
        QMetaObject::invokeMethod(&loop, [&loop] { loop.exit(kLinkLost); }, Qt::QueuedConnection);
    });
    if (const int r = keypad.connect(); r != ExitOk)
        return r;

    FaceRouter router(keypad.link(), row, orientation);
    queue.setFaceHandler([&router](PluginInstance &instance) { router.faceChanged(instance); });
    router.SendAllFaces();
    for (auto &instance : instances)
        if (instance)
            instance->Activate();
    std::fprintf(stderr, "pixkeyctl: running on the keypad at %s; Ctrl+C ends\n", keypad.link().portName().c_str());

    QSocketNotifier stopRequested(signalFd, QSocketNotifier::Read);
    QObject::connect(&stopRequested, &QSocketNotifier::activated, &loop, [signalFd, &loop] {
        signalfd_siginfo info;
        while (::read(signalFd, &info, sizeof info) == sizeof info) {
        }
        loop.exit(0);
    });
    int result = ExitOk;
    if (keypad.linkLost() || loop.exec() == kLinkLost)
        result = fail(ExitFailed, "the link to the keypad was lost");

    for (auto &instance : instances)
        if (instance)
            instance->Deactivate();
    if (result == ExitOk)
        keypad.link().PostCommand(LinkCommand::DisplayOff, 0, true);
    // No presses arrive once the link is closed, so the instances can go after it.
    keypad.link().Disconnect();
    for (auto &instance : instances)
        instance.reset();
    return result;
}

const CtlCommandRegistrar registrar({"run", kUsage,
                                     "run plug-ins on keys 1, 2, 3 (\"-\" leaves a key black) until interrupted",
                                     runRun});

} // namespace
} // namespace pixkey::ctl
