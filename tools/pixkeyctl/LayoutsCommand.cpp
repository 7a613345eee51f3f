// pixkeyctl plugins, layouts, install, add-layout, assign, clear, activate: the stored plug-in
// catalogue and layouts of the host program, read and changed through the application core, so
// what is shown and written is exactly what the host itself loads and saves.
//
// The store is the user's ($XDG_CONFIG_HOME/Vostrel); plug-ins are found beside pixkeyctl (its
// "Plugins" folder) and in $XDG_DATA_HOME/Vostrel/PixkeyMini/Plugins. With --port PATH (or
// PIXKEY_PORT) the keypad's own profile is used when it exists, as the host does at start-up.
//
// While the host runs for the keypad, its profile is the one edited, the commands that change
// the store ask it to reload afterwards, and activate switches its layout instead of opening the
// keypad (which the host holds).

#include "CtlCommand.h"

#include "AppCore.h"
#include "DeviceKeypad.h"
#include "FrameTransform.h"
#include "HostClient.h"
#include "KeypadOutput.h"
#include "MainThreadQueue.h"
#include "PluginInstance.h"
#include "SettingsStore.h"

#include <QFileInfo>
#include <QGuiApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <pthread.h>

namespace pixkey::ctl {
namespace {

const char kAssignUsage[] = "assign LAYOUT ROW KEY PLUGIN[:FUNCTION][@NAME=VALUE ...]";
const char kClearUsage[] = "clear LAYOUT ROW KEY";
const char kActivateUsage[] = "activate LAYOUT [SECONDS]";

QString q(const std::string &text)
{
    return QString::fromStdString(text);
}

std::string s(const QString &text)
{
    return text.toStdString();
}

// A keypad that is not there: listing and editing need no device.
class NoKeypad : public KeypadOutput {
public:
    void connect() override {}
    void holdDisplayUntilAllSent() override {}
    void sendFace(int, PluginInstance &) override {}
    void sendBlank(int) override {}
    void setGamma(double) override {}
    void setWhiteBalance(int) override {}
    void requestRefresh() override {}
    void setBrightness(int) override {}
};

// Plug-ins may paint text or load pictures while they are created: they get a GUI application,
// the off-screen one without a display.
QGuiApplication &guiApplication()
{
    if (!std::getenv("QT_QPA_PLATFORM") && !std::getenv("DISPLAY") && !std::getenv("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int argc = 1;
    static char name[] = "pixkeyctl";
    static char *argv[] = {name, nullptr};
    static QGuiApplication application(argc, argv);
    return application;
}

// The application core as the host has it after its full load.
struct Session {
    explicit Session(const CtlOptions &options, KeypadOutput *keypad = nullptr)
        : store(SettingsStore::defaultFolder()),
          core(store, PluginCatalogue::Folders::standard(), queue, keypad ? *keypad : none)
    {
        guiApplication();
        std::string port = options.port;
        if (port.empty() && std::getenv("PIXKEY_PORT"))
            port = std::getenv("PIXKEY_PORT");
        const QString portName = QFileInfo(q(port)).fileName();
        if (!portName.isEmpty() && store.keyExists(SettingsStore::settingsKey(portName)))
            core.profileSuffix = portName;
        core.showMessage = [](const QString &text, const QString &) {
            std::fprintf(stderr, "pixkeyctl: %s\n", qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        };
        queue.setFaceHandler([this](PluginInstance &instance) { core.faceChanged(instance); });
        if (!keypad) {
            host = HostClient::find(options);
            if (host)
                core.profileSuffix = host->property(QStringLiteral("Profile")).toString();
        }
    }

    // The full save; then a running host loads what was written.
    int save()
    {
        if (!core.saveSettings())
            return fail(ExitFailed, "cannot write the settings in " + s(store.folder()));
        if (!host)
            return ExitOk;
        if (host->call(QStringLiteral("Reload")) != ExitOk)
            return fail(ExitFailed, "saved, but " + s(host->description()) + " did not load it");
        std::fprintf(stderr, "pixkeyctl: saved; %s loaded it\n", qPrintable(host->description()));
        return ExitOk;
    }

    std::unique_ptr<HostClient> host; // the running host for the keypad, if any

    SettingsStore store;
    MainThreadQueue queue;
    NoKeypad none;
    AppCore core;
};

QString stateText(LayoutState state)
{
    switch (state) {
    case LayoutState::Clean: return QString();
    case LayoutState::Modified: return QStringLiteral(" (not saved)");
    case LayoutState::New: return QStringLiteral(" (new, not saved)");
    case LayoutState::Deleted: return QStringLiteral(" (deleted)");
    }
    return QString();
}

// --- pixkeyctl plugins ----------------------------------------------------------------------------

int runPlugins(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("unexpected argument '" + args.front() + "'", "plugins");
    Session session(options);
    session.core.fullLoad(false);
    const auto &entries = session.core.catalogue.entries();
    if (entries.empty())
        std::printf("no plug-ins installed\n");
    for (const auto &entry : entries) {
        std::printf("%s  [%s]  %s%s%s\n", qPrintable(entry->displayName()), qPrintable(entry->identifier()),
                    qPrintable(entry->path), entry->removed ? "  (removed)" : "", qPrintable(stateText(entry->state)));
        if (!entry->library)
            continue;
        const PluginLibrary &library = *entry->library;
        std::printf("    file: %s\n", qPrintable(library.fullPath()));
        if (!library.author.isEmpty())
            std::printf("    author: %s\n", qPrintable(library.author));
        for (int f = 1; f <= library.functionCount(); ++f)
            std::printf("    function %d: %s%s\n", f, qPrintable(library.function(f)->name),
                        f == library.defaultFunction() ? " (default)" : "");
        if (!library.applications.isEmpty())
            std::printf("    applications: %s\n", qPrintable(library.applications.join(QStringLiteral(", "))));
        for (const auto &[name, value] : entry->defaultProperties)
            std::printf("    default @%s=%s\n", qPrintable(name), qPrintable(value));
    }
    return ExitOk;
}

// --- pixkeyctl layouts ----------------------------------------------------------------------------

QString describeInstance(AppCore &core, PluginInstance &instance)
{
    const PluginFunction *function = instance.function();
    const PluginEntry *entry = function ? core.catalogue.entryFor(&function->library()) : nullptr;
    QString text = entry ? QStringLiteral("%1 [%2] function %3 \"%4\"")
                               .arg(entry->displayName(), entry->identifier())
                               .arg(instance.functionNumber())
                               .arg(function->name)
                         : QStringLiteral("(unknown plug-in)");
    if (instance.hasProperties()) {
        std::string name, value;
        for (int i = 0; i < 1024 && instance.GetProperty(i, name, value); ++i)
            text += QStringLiteral(" @%1=%2").arg(q(name), q(value));
    }
    return text;
}

int runLayouts(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (!args.empty())
        return usageError("unexpected argument '" + args.front() + "'", "layouts");
    Session session(options);
    AppCore &core = session.core;
    core.fullLoad(false);
    if (!core.profileSuffix.isEmpty())
        std::printf("profile of %s\n", qPrintable(core.profileSuffix));
    for (const auto &layout : core.layouts) {
        if (!layout)
            continue;
        std::printf("%s%s%s\n", qPrintable(layout->name()),
                    layout->path().isEmpty() ? "" : qPrintable(QStringLiteral("  [application %1]").arg(layout->path())),
                    qPrintable(stateText(layout->state)));
        for (int row = 0; row < ModifierRow::kCount; ++row) {
            bool any = false;
            for (int key = 0; key < ModifierRow::kKeys; ++key)
                any = any || core.getSlot(*layout, key, row);
            if (!any)
                continue;
            std::printf("  %s\n", qPrintable(ModifierRow::displayName(row)));
            for (int key = 0; key < ModifierRow::kKeys; ++key) {
                const InstanceRef holder = core.getSlot(*layout, key, row);
                std::printf("    key %d: %s\n", key + 1,
                            holder ? qPrintable(describeInstance(core, *holder->instance())) : "-");
            }
        }
    }
    return ExitOk;
}

// --- pixkeyctl install, add-layout --------------------------------------------------------------

int runInstall(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (args.size() != 1)
        return usageError("install needs one plug-in file", "install FILE.pkx");
    Session session(options);
    AppCore &core = session.core;
    core.fullLoad(false);
    const auto result = core.InstallPluginFile(QFileInfo(q(args[0])).absoluteFilePath());
    if (result.code == PluginCatalogue::Failed)
        return ExitFailed;
    std::printf("%s [%s]: %s\n", qPrintable(result.entry->displayName()), qPrintable(result.entry->identifier()),
                result.code == PluginCatalogue::AlreadyPresent ? "already installed" : "installed");
    return session.save();
}

int runAddLayout(const std::vector<std::string> &args, const CtlOptions &options)
{
    static const char usage[] = "add-layout NAME [APPLICATION-PATH]";
    if (args.empty() || args.size() > 2 || args[0].empty())
        return usageError("add-layout needs a name and may take an application path", usage);
    Session session(options);
    AppCore &core = session.core;
    core.fullLoad(false);
    AppCore::AddLayoutResult result = AppCore::AddLayoutFailed;
    core.addLayout(q(args[0]), args.size() > 1 ? q(args[1]) : QString(), LayoutState::New, &result);
    if (result == AppCore::LayoutExists)
        return fail(ExitFailed, "a layout named " + args[0] + " exists");
    return session.save();
}

// --- pixkeyctl assign, clear ----------------------------------------------------------------------

// Row by number 0..5, display name or stored name, without regard to case.
int parseRow(const std::string &text)
{
    long number = 0;
    if (parseInt(text, 0, ModifierRow::kCount - 1, number))
        return int(number);
    for (int row = 0; row < ModifierRow::kCount; ++row)
        if (q(text).compare(ModifierRow::displayName(row), Qt::CaseInsensitive) == 0 ||
            q(text).compare(ModifierRow::storageName(row), Qt::CaseInsensitive) == 0)
            return row;
    return -1;
}

// A catalogue entry by identifier, display name or file name, without regard to case.
PluginEntry *findEntry(AppCore &core, const QString &text)
{
    if (PluginEntry *entry = core.catalogue.findByIdentifier(text); entry && !entry->removed)
        return entry;
    for (const auto &entry : core.catalogue.entries())
        if (entry->library && !entry->removed &&
            (entry->displayName().compare(text, Qt::CaseInsensitive) == 0 ||
             entry->fileName().compare(text, Qt::CaseInsensitive) == 0))
            return entry.get();
    return nullptr;
}

int runAssign(const std::vector<std::string> &args, const CtlOptions &options)
{
    if (args.size() != 4)
        return usageError("assign needs a layout, a row, a key and a plug-in", kAssignUsage);
    const int row = parseRow(args[1]);
    long key = 0;
    if (row < 0)
        return usageError("row must be 0..5 or Default, Ctrl, Shift, Alt, Alt+Shift, Ctrl+Shift", kAssignUsage);
    if (!parseInt(args[2], 1, 3, key))
        return usageError("key must be 1, 2 or 3", kAssignUsage);
    // PLUGIN[:FUNCTION][@NAME=VALUE ...]
    QStringList parts = q(args[3]).split(QLatin1Char('@'));
    QString plugin = parts.takeFirst();
    int functionNumber = 0;
    if (const qsizetype colon = plugin.lastIndexOf(QLatin1Char(':')); colon > 0) {
        bool ok = false;
        functionNumber = plugin.mid(colon + 1).toInt(&ok);
        if (!ok || functionNumber < 1)
            return usageError("the function must be a number from 1", kAssignUsage);
        plugin.truncate(colon);
    }
    std::vector<std::pair<QString, QString>> properties;
    for (const QString &pair : parts) {
        const qsizetype eq = pair.indexOf(QLatin1Char('='));
        if (eq <= 0)
            return usageError("property '" + s(pair) + "' is not NAME=VALUE", kAssignUsage);
        properties.emplace_back(pair.left(eq), pair.mid(eq + 1));
    }

    Session session(options);
    AppCore &core = session.core;
    core.fullLoad(false);
    PluginEntry *entry = findEntry(core, plugin);
    if (!entry)
        return fail(ExitFailed, "no installed plug-in " + s(plugin) + " (pixkeyctl plugins lists them)");
    PluginLibrary &library = *entry->library;
    if (!library.load())
        return fail(ExitFailed, "plug-in " + s(plugin) + " cannot be loaded from " + s(library.fullPath()));
    if (functionNumber == 0)
        functionNumber = library.defaultFunction();
    PluginFunction *function = library.function(functionNumber);
    if (!function)
        return fail(ExitFailed, s(entry->displayName()) + " has " + std::to_string(library.functionCount()) + " function(s)");
    LayoutConfig *layout = core.addLayout(q(args[0]), QString(), LayoutState::New);
    if (!layout)
        return fail(ExitFailed, "cannot add the layout");
    core.currentRow = row;
    InstanceRef holder = core.assignFromCatalogue(*function, *layout, int(key - 1));
    if (!holder)
        return fail(ExitFailed, "cannot create an instance of " + s(entry->displayName()));
    for (const auto &[name, value] : properties)
        holder->instance()->SetProperty(s(name), s(value));
    std::printf("%s, %s, key %ld: %s\n", qPrintable(layout->name()), qPrintable(ModifierRow::displayName(row)), key,
                qPrintable(describeInstance(core, *holder->instance())));
    return session.save();
}

int runClear(const std::vector<std::string> &args, const CtlOptions &options)
{
    long key = 0;
    const int row = args.size() == 3 ? parseRow(args[1]) : -1;
    if (args.size() != 3 || row < 0 || !parseInt(args[2], 1, 3, key))
        return usageError("clear needs a layout, a row (0..5 or its name) and a key 1..3", kClearUsage);
    Session session(options);
    AppCore &core = session.core;
    core.fullLoad(false);
    LayoutConfig *layout = core.findLayout(q(args[0]));
    if (!layout)
        return fail(ExitFailed, "no layout named " + args[0]);
    if (!core.clearSlot(*layout, int(key - 1), row))
        return fail(ExitFailed, "that key is empty");
    return session.save();
}

// --- pixkeyctl activate ----------------------------------------------------------------------------

// The host holds the keypad: it switches. With SECONDS the layout shown before comes back
// afterwards, unless something else changed the layout meanwhile.
int activateInHost(HostClient &host, const QString &name, long seconds, const sigset_t &stopSignals)
{
    const QString before = host.property(QStringLiteral("ActiveLayout")).toString();
    if (const int r = host.call(QStringLiteral("ActivateLayout"), {name}); r != ExitOk)
        return r;
    const QString now = host.property(QStringLiteral("ActiveLayout")).toString();
    std::fprintf(stderr, "pixkeyctl: %s is active in %s\n", qPrintable(now), qPrintable(host.description()));
    if (seconds == 0 || before.isEmpty() || before == now)
        return ExitOk;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < end) {
        const timespec tick{0, 100 * 1000 * 1000};
        const int sig = sigtimedwait(&stopSignals, nullptr, &tick);
        if (sig == SIGINT || sig == SIGTERM)
            break;
    }
    if (host.property(QStringLiteral("ActiveLayout")).toString() != now)
        return ExitOk;
    return host.call(QStringLiteral("ActivateLayout"), {before});
}

int runActivate(const std::vector<std::string> &args, const CtlOptions &options)
{
    long seconds = 0;
    if (args.empty() || args.size() > 2 || (args.size() == 2 && !parseInt(args[1], 1, 86400, seconds)))
        return usageError("activate needs a layout and may take a number of seconds", kActivateUsage);

    // SIGINT and SIGTERM are taken with sigtimedwait on this thread; blocked before any thread
    // starts, so that the link's worker and the paint threads inherit the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    guiApplication();
    if (std::unique_ptr<HostClient> host = HostClient::find(options))
        return activateInHost(*host, q(args[0]), seconds, stopSignals);

    CtlKeypad keypad(options);
    int orientation = 0;
    DeviceKeypad output(keypad.link(), [&orientation] { return orientation; });
    Session session(options, &output);
    AppCore &core = session.core;
    // Presses arrive on the link's worker; the layouts belong to the main thread.
    keypad.setKeyHandler([&](int deviceKey) {
        session.queue.postTask([&core, &orientation, deviceKey] {
            if (!core.activeLayout)
                return;
            const InstanceRef holder =
                core.getSlot(*core.activeLayout, slotForDeviceKey(deviceKey, orientation), ModifierRow::kCurrent);
            if (holder)
                holder->instance()->KeyPressed();
        });
    });
    if (const int r = keypad.connect(); r != ExitOk)
        return r;
    core.fullLoad(false);
    orientation = core.settings.value(Settings::Orientation);
    core.applyBrightness();
    LayoutConfig *layout = core.findLayout(q(args[0]));
    if (!layout || layout->state == LayoutState::Deleted)
        return fail(ExitFailed, "no layout named " + args[0]);
    core.select(core.indexOf(layout));
    std::fprintf(stderr, "pixkeyctl: %s is active on the keypad at %s; Ctrl+C ends\n", qPrintable(layout->name()),
                 keypad.link().portName().c_str());

    int result = ExitOk;
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (seconds == 0 || std::chrono::steady_clock::now() < end) {
        session.queue.pumpFor(std::chrono::milliseconds(50));
        const timespec now{0, 0};
        const int sig = sigtimedwait(&stopSignals, nullptr, &now);
        if (sig == SIGINT || sig == SIGTERM)
            break;
        if (keypad.linkLost()) {
            result = fail(ExitFailed, "the link to the keypad was lost");
            break;
        }
    }
    for (const InstanceRef &holder : layout->slots())
        if (holder)
            holder->instance()->Deactivate();
    core.activeLayout = nullptr;
    if (result == ExitOk)
        keypad.link().PostCommand(LinkCommand::DisplayOff, 0, true);
    keypad.link().Disconnect();
    return result;
}

const CtlCommandRegistrar pluginsRegistrar({"plugins", "plugins", "list the installed plug-ins of the host", runPlugins});
const CtlCommandRegistrar layoutsRegistrar({"layouts", "layouts", "list the stored layouts with the plug-ins on their keys",
                                            runLayouts});
const CtlCommandRegistrar installRegistrar({"install", "install FILE.pkx",
                                            "install a plug-in file for the host (copied into the user's Plugins folder)",
                                            runInstall});
const CtlCommandRegistrar addLayoutRegistrar({"add-layout", "add-layout NAME [APPLICATION-PATH]",
                                              "add a manual layout, or one for an application", runAddLayout});
const CtlCommandRegistrar assignRegistrar({"assign", kAssignUsage,
                                           "put a plug-in on a key of a layout's row (the layout is made when missing)",
                                           runAssign});
const CtlCommandRegistrar clearRegistrar({"clear", kClearUsage, "empty a key of a layout's row", runClear});
const CtlCommandRegistrar activateRegistrar({"activate", kActivateUsage,
                                             "show a stored layout on the keypad, for SECONDS or until interrupted",
                                             runActivate});

} // namespace
} // namespace pixkey::ctl
