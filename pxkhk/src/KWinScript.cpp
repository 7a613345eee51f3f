#include "KWinScript.h"

#include "PeerFolder.h"

#include <atomic>
#include <charconv>
#include <cstdio>
#include <fstream>

#include <dirent.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace pixkey {

namespace {

constexpr const char *kObject = "/com/vostrel/PixkeyMini/KWinFocus";
constexpr const char *kInterface = "com.vostrel.PixkeyMini.KWinFocus";
constexpr const char *kServicePrefix = "com.vostrel.PixkeyMini.KWinFocus.p";
constexpr const char *kPluginPrefix = "pixkey-focus-";
constexpr const char *kFilePrefix = "kwin-focus-";

// The script as shipped (pxkhk/scripts/kwin-focus.js), built in.
constexpr const char *kScriptTemplate =
#include "kwin-focus.js.inc"
    ;

std::atomic<int> instanceCounter{0};

int parseInt(const std::string &text)
{
    int value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    return ec == std::errc() && end == text.data() + text.size() && value > 0 ? value : 0;
}

void replaceAll(std::string &text, const std::string &what, const std::string &with)
{
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + with.size()))
        text.replace(at, what.size(), with);
}

// "kwin-focus-PID-N.js" -> PID and N; false for any other name.
bool parseScriptFile(const std::string &name, int &pid, int &instance)
{
    const std::string prefix = kFilePrefix;
    if (name.rfind(prefix, 0) != 0 || name.size() < prefix.size() + 3 || name.compare(name.size() - 3, 3, ".js") != 0)
        return false;
    const std::string middle = name.substr(prefix.size(), name.size() - prefix.size() - 3);
    const auto dash = middle.find('-');
    if (dash == std::string::npos)
        return false;
    pid = parseInt(middle.substr(0, dash));
    const std::string n = middle.substr(dash + 1);
    instance = n == "0" ? 0 : parseInt(n);
    return pid > 0 && (instance > 0 || n == "0");
}

} // namespace

KWinScript::KWinScript(Options options) : m_options(std::move(options)) {}

KWinScript::~KWinScript()
{
    if (m_bus && !m_plugin.empty())
        unloadScript(m_plugin); // sent by the flush in the bus's deleter
    if (!m_scriptPath.empty())
        ::unlink(m_scriptPath.c_str());
    m_objectSlot.reset();
    m_ownerSlot.reset();
    m_loadSlot.reset();
    m_runSlot.reset();
    m_nameSlot.reset();
    m_ownerChangedSlot.reset();
    m_bus.reset();
}

std::string KWinScript::scriptText(const std::string &service, const std::string &object, const std::string &interface)
{
    std::string text = kScriptTemplate;
    replaceAll(text, "@SERVICE@", service);
    replaceAll(text, "@OBJECT@", object);
    replaceAll(text, "@INTERFACE@", interface);
    return text;
}

bool KWinScript::open(std::string &error)
{
    PeerFolder folder(m_options.runtimeFolder);
    if (!folder.prepare(error))
        return false;
    m_bus = sdbus::openSessionBus(error, m_options.busAddress);
    if (!m_bus)
        return false;

    const int pid = int(::getpid());
    const int instance = instanceCounter++;
    const std::string tag = std::to_string(pid) + "-" + std::to_string(instance);
    m_plugin = kPluginPrefix + tag;
    m_service = kServicePrefix + std::to_string(pid) + "_" + std::to_string(instance);
    const std::string path = folder.path() + "/" + kFilePrefix + tag + ".js";

    static const sd_bus_vtable vtable[] = {
        SD_BUS_VTABLE_START(0),
        // Activated(KWin's window id, pid, resource class, desktop file name): all empty for none.
        SD_BUS_METHOD("Activated", "ssss", "", &KWinScript::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
        // Removed(KWin's window id)
        SD_BUS_METHOD("Removed", "s", "", &KWinScript::onMethod, SD_BUS_VTABLE_UNPRIVILEGED),
        SD_BUS_VTABLE_END,
    };
    sd_bus *bus = m_bus.get();
    sd_bus_slot *slot = nullptr;
    int r = sd_bus_add_object_vtable(bus, &slot, kObject, kInterface, vtable, this);
    if (r < 0) {
        error = "cannot export the focus object: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    m_objectSlot.reset(slot);

    // Calls below are queued in order on one connection, so the name is ours, and KWin's owner is
    // known, before KWin can run the script and call back.
    slot = nullptr;
    r = sd_bus_request_name_async(bus, &slot, m_service.c_str(), 0,
        [](sd_bus_message *reply, void *self, sd_bus_error *) {
            if (sd_bus_message_is_method_error(reply, nullptr))
                static_cast<KWinScript *>(self)->fail("cannot own " + static_cast<KWinScript *>(self)->m_service
                                                      + " on the session bus: " + sdbus::errorText(sd_bus_message_get_error(reply)));
            return 0;
        }, this);
    if (r < 0) {
        error = "cannot ask for a bus name: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    m_nameSlot.reset(slot);

    slot = nullptr;
    if (sd_bus_match_signal_async(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                  "NameOwnerChanged", &KWinScript::onOwnerChanged, nullptr, this) >= 0)
        m_ownerChangedSlot.reset(slot);

    slot = nullptr;
    r = sd_bus_call_method_async(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                 "GetNameOwner", &KWinScript::onKWinOwner, this, "s", "org.kde.KWin");
    if (r < 0) {
        error = "cannot ask for KWin on the session bus: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    m_ownerSlot.reset(slot);

    removeStaleScripts();

    // The file is written under a temporary name and renamed, so KWin never reads half a script.
    const std::string temporary = path + ".new";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << scriptText(m_service, kObject, kInterface);
        out.close();
        if (!out) {
            ::unlink(temporary.c_str());
            error = "cannot write the KWin script " + path;
            m_bus.reset();
            return false;
        }
    }
    ::chmod(temporary.c_str(), 0600);
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        error = "cannot write the KWin script " + path;
        m_bus.reset();
        return false;
    }
    m_scriptPath = path;

    if (!loadScript(error)) {
        m_bus.reset();
        return false;
    }
    return true;
}

bool KWinScript::loadScript(std::string &error)
{
    // A copy that crashed under the same process id (after a restart, say) left its script loaded.
    unloadScript(m_plugin);
    sd_bus_slot *slot = nullptr;
    const int r = sd_bus_call_method_async(m_bus.get(), &slot, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                           "loadScript", &KWinScript::onLoaded, this, "ss", m_scriptPath.c_str(),
                                           m_plugin.c_str());
    if (r < 0) {
        error = "cannot ask KWin to load the script: " + sdbus::errorText(r);
        return false;
    }
    m_loadSlot.reset(slot);
    m_runSlot.reset();
    m_runAttempt = 0;
    m_state = State::Loading;
    return true;
}

void KWinScript::unloadScript(const std::string &plugin)
{
    // No reply wanted: a script that is not loaded is simply not there.
    sd_bus_call_method_async(m_bus.get(), nullptr, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                             "unloadScript", nullptr, nullptr, "s", plugin.c_str());
}

void KWinScript::removeStaleScripts()
{
    PeerFolder folder(m_options.runtimeFolder);
    DIR *dir = ::opendir(folder.path().c_str());
    if (!dir)
        return;
    while (const dirent *entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        int pid = 0, instance = 0;
        if (!parseScriptFile(name, pid, instance) || pid == int(::getpid()))
            continue;
        if (::kill(pid, 0) == 0 || errno != ESRCH)
            continue; // that copy still runs (or belongs to someone we may not signal)
        unloadScript(kPluginPrefix + std::to_string(pid) + "-" + std::to_string(instance));
        ::unlink((folder.path() + "/" + name).c_str());
    }
    ::closedir(dir);
}

void KWinScript::fail(const std::string &why)
{
    if (m_state == State::Failed)
        return;
    m_state = State::Failed;
    m_failure = why;
    if (m_active) {
        m_pending.emplace_back(m_active, 0);
        m_active = 0;
    }
}

int KWinScript::onKWinOwner(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<KWinScript *>(self);
    me->m_ownerSlot.reset();
    const char *owner = nullptr;
    if (sd_bus_message_is_method_error(reply, nullptr) || sd_bus_message_read(reply, "s", &owner) < 0 || !owner) {
        me->fail("KWin is not on the session bus (no org.kde.KWin)");
        return 0;
    }
    if (me->m_kwinOwner.empty() && me->m_state != State::Waiting)
        me->m_kwinOwner = owner;
    return 0;
}

int KWinScript::onLoaded(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<KWinScript *>(self);
    me->m_loadSlot.reset();
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        me->fail("KWin did not load the focus script: " + sdbus::errorText(sd_bus_message_get_error(reply)));
        return 0;
    }
    int32_t id = -1;
    if (sd_bus_message_read(reply, "i", &id) < 0 || id < 0) {
        me->fail("KWin did not load the focus script " + me->m_scriptPath);
        return 0;
    }
    me->m_scriptId = id;
    // KWin 5 exports a loaded script as /ID, KWin 6 as /Scripting/ScriptID; Scripting.start runs
    // every loaded script that is not running yet, in any version.
    me->runScript("/" + std::to_string(id));
    return 0;
}

void KWinScript::runScript(const std::string &object)
{
    sd_bus_slot *slot = nullptr;
    int r;
    if (object.empty())
        r = sd_bus_call_method_async(m_bus.get(), &slot, "org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting",
                                     "start", &KWinScript::onRun, this, "");
    else
        r = sd_bus_call_method_async(m_bus.get(), &slot, "org.kde.KWin", object.c_str(), "org.kde.kwin.Script", "run",
                                     &KWinScript::onRun, this, "");
    if (r < 0) {
        fail("cannot ask KWin to run the focus script: " + sdbus::errorText(r));
        return;
    }
    m_runSlot.reset(slot);
}

int KWinScript::onRun(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<KWinScript *>(self);
    me->m_runSlot.reset();
    if (!sd_bus_message_is_method_error(reply, nullptr)) {
        if (me->m_state == State::Loading)
            me->m_state = State::Running;
        return 0;
    }
    const std::string why = sdbus::errorText(sd_bus_message_get_error(reply));
    switch (++me->m_runAttempt) {
    case 1:
        me->runScript("/Scripting/Script" + std::to_string(me->m_scriptId));
        break;
    case 2:
        me->runScript({});
        break;
    default:
        me->fail("KWin did not run the focus script: " + why);
    }
    return 0;
}

int KWinScript::onOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *me = static_cast<KWinScript *>(self);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0 || !name)
        return 0;
    if (std::string(name) != "org.kde.KWin" || me->m_state == State::Failed)
        return 0;
    if (oldOwner && *oldOwner && me->m_kwinOwner == oldOwner) {
        // KWin went away, with the script and its windows. Plasma starts it again after a crash,
        // under a new connection: the script is loaded into the new one then.
        me->m_kwinOwner.clear();
        me->m_loadSlot.reset();
        me->m_runSlot.reset();
        me->m_ids.clear();
        me->m_windows.clear();
        if (me->m_active)
            me->m_pending.emplace_back(me->m_active, 0);
        me->m_active = 0;
        me->m_state = State::Waiting;
    }
    if (newOwner && *newOwner && me->m_state == State::Waiting) {
        me->m_kwinOwner = newOwner;
        std::string error;
        if (!me->loadScript(error))
            me->fail(error);
    }
    return 0;
}

int KWinScript::onMethod(sd_bus_message *message, void *self, sd_bus_error *)
{
    return static_cast<KWinScript *>(self)->handleMethod(message);
}

int KWinScript::handleMethod(sd_bus_message *message)
{
    const char *sender = sd_bus_message_get_sender(message);
    if (m_state == State::Failed || m_kwinOwner.empty() || !sender || m_kwinOwner != sender)
        return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_ACCESS_DENIED, "only KWin reports windows here");

    const std::string member = sd_bus_message_get_member(message);
    unsigned long now = m_active;
    if (member == "Activated") {
        const char *id = nullptr, *pid = nullptr, *resourceClass = nullptr, *desktopFile = nullptr;
        if (sd_bus_message_read(message, "ssss", &id, &pid, &resourceClass, &desktopFile) < 0)
            return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_INVALID_ARGS, "expected four strings");
        if (!*id) {
            now = 0;
        } else {
            auto [it, added] = m_ids.try_emplace(id, m_nextId);
            if (added)
                ++m_nextId;
            now = it->second;
            m_windows[now] = Window{parseInt(pid), resourceClass, desktopFile};
        }
    } else { // Removed
        const char *id = nullptr;
        if (sd_bus_message_read(message, "s", &id) < 0)
            return sd_bus_reply_method_errorf(message, SD_BUS_ERROR_INVALID_ARGS, "expected a string");
        const auto it = m_ids.find(id);
        if (it != m_ids.end()) {
            m_windows.erase(it->second);
            if (it->second == m_active)
                now = 0;
            m_ids.erase(it);
        }
    }
    if (now != m_active) {
        if (m_active)
            m_pending.emplace_back(m_active, 0);
        if (now)
            m_pending.emplace_back(now, 1);
        m_active = now;
    }
    return sd_bus_reply_method_return(message, "");
}

void KWinScript::pollFds(std::vector<pollfd> &fds) const
{
    sdbus::fillPoll(m_bus.get(), fds);
}

int KWinScript::timeoutMs() const
{
    return m_pending.empty() ? sdbus::busTimeoutMs(m_bus.get()) : 0;
}

void KWinScript::dispatch(DesktopEvents &events)
{
    if (m_bus && !sdbus::processBus(m_bus.get()))
        fail("the session bus connection closed");
    while (!m_pending.empty()) {
        const auto [window, active] = m_pending.front();
        m_pending.pop_front();
        events.foregroundChanged(window, active);
    }
}

CapabilityReports KWinScript::capabilities() const
{
    CapabilityReport report;
    report.capability = DesktopCapability::ActiveWindow;
    if (m_state == State::Failed) {
        report.state = CapabilityState::Unavailable;
        report.how = m_failure;
    } else {
        report.state = CapabilityState::Working;
        report.how = m_state == State::Waiting ? "a KWin script reports the active window (loaded again once KWin is back)"
                                               : "a KWin script reports the active window";
    }
    return {report};
}

int KWinScript::processIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    return it == m_windows.end() ? 0 : it->second.pid;
}

std::string KWinScript::applicationIdOfWindow(unsigned long window)
{
    const auto it = m_windows.find(window);
    if (it == m_windows.end())
        return {};
    // Wayland programs: the desktop file name is their app id; X programs: the WM_CLASS class.
    return it->second.desktopFile.empty() ? it->second.resourceClass : it->second.desktopFile;
}

} // namespace pixkey
