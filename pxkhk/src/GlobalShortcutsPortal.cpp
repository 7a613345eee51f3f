#include "GlobalShortcutsPortal.h"

#include "XKeyboard.h"

#include <X11/Xlib.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdio>

namespace pixkey {

namespace {

constexpr const char *kService = "org.freedesktop.portal.Desktop";
constexpr const char *kObject = "/org/freedesktop/portal/desktop";
constexpr const char *kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char *kRequest = "org.freedesktop.portal.Request";
constexpr const char *kSession = "org.freedesktop.portal.Session";
constexpr const char *kRegistry = "org.freedesktop.host.portal.Registry";
constexpr const char *kShortcutPrefix = "switch-hotkey-";
constexpr const char *kDescription = "Switch the keypad to the next layout";
constexpr const char *kFallback = "bind a key to `pixkeyctl switch-layout` in the desktop's keyboard settings";

std::atomic<int> instanceCounter{0};

std::uint64_t microseconds(std::chrono::milliseconds time)
{
    return std::uint64_t(time.count()) * 1000u;
}

std::string seconds(std::chrono::milliseconds time)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g s", double(time.count()) / 1000.0);
    return text;
}

// Reads a string or an object path from the variant at the read position (entered already as
// its contents `type`).
bool readText(sd_bus_message *message, char type, std::string &out)
{
    const char *text = nullptr;
    if ((type == 's' || type == 'o') && sd_bus_message_read_basic(message, type, &text) > 0 && text) {
        out = text;
        return true;
    }
    return false;
}

// Walks an a{sv} at the read position, calling `entry(key, type, contents)` with the read
// position inside the variant; what `entry` leaves unread is skipped.
template<typename Entry>
bool readDictionary(sd_bus_message *message, Entry entry)
{
    if (sd_bus_message_enter_container(message, 'a', "{sv}") <= 0)
        return false;
    while (sd_bus_message_enter_container(message, 'e', "sv") > 0) {
        const char *key = nullptr;
        if (sd_bus_message_read_basic(message, 's', &key) <= 0)
            return false;
        char type = 0;
        const char *contents = nullptr;
        if (sd_bus_message_peek_type(message, &type, &contents) <= 0 || type != 'v' || !contents)
            return false;
        if (sd_bus_message_enter_container(message, 'v', contents) <= 0)
            return false;
        entry(std::string(key ? key : ""), contents);
        // Whatever the callback did not read is skipped up to the end of the variant.
        while (sd_bus_message_at_end(message, false) == 0)
            if (sd_bus_message_skip(message, nullptr) < 0)
                return false;
        if (sd_bus_message_exit_container(message) < 0 || sd_bus_message_exit_container(message) < 0)
            return false;
    }
    return sd_bus_message_exit_container(message) >= 0;
}

int appendEntry(sd_bus_message *message, const char *key, const std::string &value)
{
    int r = sd_bus_message_open_container(message, 'e', "sv");
    if (r >= 0)
        r = sd_bus_message_append(message, "sv", key, "s", value.c_str());
    if (r >= 0)
        r = sd_bus_message_close_container(message);
    return r;
}

} // namespace

GlobalShortcutsPortal::GlobalShortcutsPortal(Options options) : m_options(std::move(options)) {}

GlobalShortcutsPortal::~GlobalShortcutsPortal()
{
    closeSession();
}

std::string GlobalShortcutsPortal::shortcutId(int id)
{
    return kShortcutPrefix + std::to_string(id);
}

int GlobalShortcutsPortal::hotkeyOfShortcutId(const std::string &shortcut)
{
    const std::string prefix = kShortcutPrefix;
    if (shortcut.rfind(prefix, 0) != 0 || shortcut.size() == prefix.size())
        return -1;
    int id = 0;
    const char *first = shortcut.data() + prefix.size();
    const char *last = shortcut.data() + shortcut.size();
    const auto [end, ec] = std::from_chars(first, last, id);
    return ec == std::errc() && end == last && id >= 0 ? id : -1;
}

std::string GlobalShortcutsPortal::preferredTrigger(std::uint16_t modifiers, std::uint16_t key)
{
    if (key == 0)
        return {};
    const unsigned long keysym = keysymOfVirtualKey(key);
    const char *name = keysym ? XKeysymToString(keysym) : nullptr;
    if (!name)
        return {};
    std::string trigger;
    if (modifiers & 8)
        trigger += "LOGO+";
    if (modifiers & 2)
        trigger += "CTRL+";
    if (modifiers & 1)
        trigger += "ALT+";
    if (modifiers & 4)
        trigger += "SHIFT+";
    return trigger + name;
}

std::string GlobalShortcutsPortal::triggerOf(int id) const
{
    const auto it = m_hotkeys.find(id);
    return it == m_hotkeys.end() ? std::string() : it->second.trigger;
}

bool GlobalShortcutsPortal::open(std::string &error)
{
    m_bus = sdbus::openSessionBus(error, m_options.busAddress);
    if (!m_bus)
        return false;
    sd_bus *bus = m_bus.get();
    sd_bus_slot *slot = nullptr;
    // Signals are matched without a sender (the portal is known by its unique name only on the
    // bus); Response by the request's path, Activated by our session handle.
    int r = sd_bus_match_signal_async(bus, &slot, nullptr, nullptr, kRequest, "Response", &onResponse, nullptr, this);
    m_responseSlot.reset(slot);
    if (r >= 0) {
        r = sd_bus_match_signal_async(bus, &slot, nullptr, kObject, kInterface, "Activated", &onActivated, nullptr, this);
        m_activatedSlot.reset(slot);
    }
    if (r >= 0) {
        r = sd_bus_match_signal_async(bus, &slot, nullptr, kObject, kInterface, "ShortcutsChanged", &onShortcutsChanged,
                                      nullptr, this);
        m_changedSlot.reset(slot);
    }
    if (r < 0) {
        error = "cannot watch the portal's signals: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    // The program's id first: a portal with the host registry takes it only before other calls.
    sd_bus_message *raw = nullptr;
    r = sd_bus_message_new_method_call(bus, &raw, kService, kObject, kRegistry, "Register");
    sdbus::MessagePtr call(raw);
    if (r >= 0)
        r = sd_bus_message_append(raw, "sa{sv}", m_options.appId.c_str(), 0);
    if (r >= 0)
        r = sd_bus_call_async(bus, &slot, raw, &onRegistered, this, microseconds(m_options.responseTimeout));
    if (r < 0) {
        error = "cannot call the portal: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    m_registerSlot.reset(slot);
    m_deadline = std::chrono::steady_clock::now() + m_options.responseTimeout;
    m_step = Step::CreateSession; // the wait covers the registration and the session
    return true;
}

int GlobalShortcutsPortal::onRegistered(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    portal->m_registerSlot.reset();
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    if (error && (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.ServiceUnknown")
                  || sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.NameHasNoOwner"))) {
        portal->fail(State::Failed, "no desktop portal runs (" + sdbus::errorText(error) + ")");
        return 0;
    }
    if (error && (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.NoReply")
                  || sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.Timeout"))) {
        portal->fail(State::Failed, "the desktop portal did not answer within " + seconds(portal->m_options.responseTimeout));
        return 0;
    }
    // Any other error: a portal without the registry (older than 1.19) or one that already knows
    // the program from its desktop file; neither keeps the shortcuts from working.
    portal->m_step = Step::Nothing;
    portal->createSession();
    return 0;
}

bool GlobalShortcutsPortal::startRequest(Step step, sd_bus_message *call, std::chrono::milliseconds timeout)
{
    sd_bus_slot *slot = nullptr;
    const int r = sd_bus_call_async(m_bus.get(), &slot, call, &onRequestReply, this, microseconds(m_options.responseTimeout));
    if (r < 0) {
        fail(State::Failed, "cannot call the GlobalShortcuts portal: " + sdbus::errorText(r));
        return false;
    }
    m_callSlot.reset(slot);
    m_step = step;
    m_requestPath.clear();
    m_deadline = std::chrono::steady_clock::now() + timeout;
    return true;
}

bool GlobalShortcutsPortal::createSession()
{
    const int instance = ++instanceCounter;
    m_token = "pixkey_gs" + std::to_string(instance) + "_" + std::to_string(++m_tokenCounter);
    sd_bus_message *raw = nullptr;
    int r = sd_bus_message_new_method_call(m_bus.get(), &raw, kService, kObject, kInterface, "CreateSession");
    sdbus::MessagePtr call(raw);
    if (r >= 0)
        r = sd_bus_message_open_container(raw, 'a', "{sv}");
    if (r >= 0)
        r = appendEntry(raw, "handle_token", m_token);
    if (r >= 0)
        r = appendEntry(raw, "session_handle_token", "pixkey_session" + std::to_string(instance));
    if (r >= 0)
        r = sd_bus_message_close_container(raw);
    if (r < 0) {
        fail(State::Failed, "cannot build the portal call: " + sdbus::errorText(r));
        return false;
    }
    return startRequest(Step::CreateSession, raw, m_options.responseTimeout);
}

bool GlobalShortcutsPortal::bindShortcuts()
{
    if (m_session.empty() || m_step != Step::Nothing) {
        m_bindWanted = true; // bound once the session is there, or the current request ended
        return true;
    }
    m_bindWanted = false;
    if (m_hotkeys.empty())
        return true;
    m_token = "pixkey_gs_bind" + std::to_string(++m_tokenCounter);
    sd_bus_message *raw = nullptr;
    int r = sd_bus_message_new_method_call(m_bus.get(), &raw, kService, kObject, kInterface, "BindShortcuts");
    sdbus::MessagePtr call(raw);
    if (r >= 0)
        r = sd_bus_message_append(raw, "o", m_session.c_str());
    if (r >= 0)
        r = sd_bus_message_open_container(raw, 'a', "(sa{sv})");
    for (const auto &[id, hotkey] : m_hotkeys) {
        if (r >= 0)
            r = sd_bus_message_open_container(raw, 'r', "sa{sv}");
        if (r >= 0)
            r = sd_bus_message_append(raw, "s", shortcutId(id).c_str());
        if (r >= 0)
            r = sd_bus_message_open_container(raw, 'a', "{sv}");
        if (r >= 0)
            r = appendEntry(raw, "description", kDescription);
        if (r >= 0)
            r = appendEntry(raw, "preferred_trigger", preferredTrigger(hotkey.modifiers, hotkey.key));
        if (r >= 0)
            r = sd_bus_message_close_container(raw);
        if (r >= 0)
            r = sd_bus_message_close_container(raw);
    }
    if (r >= 0)
        r = sd_bus_message_close_container(raw);
    if (r >= 0)
        r = sd_bus_message_append(raw, "s", "");
    if (r >= 0)
        r = sd_bus_message_open_container(raw, 'a', "{sv}");
    if (r >= 0)
        r = appendEntry(raw, "handle_token", m_token);
    if (r >= 0)
        r = sd_bus_message_close_container(raw);
    if (r < 0) {
        fail(State::Failed, "cannot build the portal call: " + sdbus::errorText(r));
        return false;
    }
    return startRequest(Step::Bind, raw, m_options.confirmTimeout);
}

int GlobalShortcutsPortal::onRequestReply(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    portal->m_callSlot.reset();
    if (const sd_bus_error *error = sd_bus_message_get_error(reply)) {
        portal->fail(State::Failed, "the GlobalShortcuts portal refused the call: " + sdbus::errorText(error));
        return 0;
    }
    const char *path = nullptr;
    if (sd_bus_message_read(reply, "o", &path) > 0 && path && portal->m_step != Step::Nothing)
        portal->m_requestPath = path;
    return 0;
}

int GlobalShortcutsPortal::onResponse(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    if (portal->m_step == Step::Nothing || portal->m_token.empty())
        return 0;
    const char *path = sd_bus_message_get_path(message);
    const std::string request = path ? path : "";
    // Ours when it is the path the call returned, or (should the signal come first) the path
    // ending in our token under the request folder.
    const std::string suffix = "/" + portal->m_token;
    const bool ours = portal->m_requestPath.empty()
                          ? request.rfind("/org/freedesktop/portal/desktop/request/", 0) == 0 && request.size() > suffix.size()
                                && request.compare(request.size() - suffix.size(), suffix.size(), suffix) == 0
                          : request == portal->m_requestPath;
    if (!ours)
        return 0;
    std::uint32_t code = 2;
    if (sd_bus_message_read(message, "u", &code) <= 0) {
        portal->fail(State::Failed, "the GlobalShortcuts portal sent a malformed answer");
        return 0;
    }
    portal->handleResponse(code, message);
    return 0;
}

void GlobalShortcutsPortal::handleResponse(std::uint32_t code, sd_bus_message *results)
{
    const Step step = m_step;
    m_step = Step::Nothing;
    m_requestPath.clear();
    m_token.clear();
    m_callSlot.reset();
    if (code == 1) {
        if (step == Step::Bind) {
            m_state = State::Refused;
            m_failure = "the shortcut was not confirmed";
        } else {
            fail(State::Failed, "the desktop declined a shortcut session");
        }
        return;
    }
    if (code != 0) {
        fail(State::Failed, "the GlobalShortcuts portal ended the request (response " + std::to_string(code) + ")");
        return;
    }
    if (step == Step::CreateSession) {
        std::string session;
        readDictionary(results, [&](const std::string &key, const char *contents) {
            if (key == "session_handle")
                readText(results, contents[0], session);
        });
        if (session.empty()) {
            fail(State::Failed, "the GlobalShortcuts portal gave no session");
            return;
        }
        m_session = session;
        m_state = State::Ready;
        sd_bus_slot *slot = nullptr;
        if (sd_bus_match_signal_async(m_bus.get(), &slot, nullptr, m_session.c_str(), kSession, "Closed",
                                      &onSessionClosed, nullptr, this)
            >= 0)
            m_closedSlot.reset(slot);
        if (!m_hotkeys.empty())
            bindShortcuts();
        return;
    }
    if (step == Step::Bind) {
        readDictionary(results, [&](const std::string &key, const char *) {
            if (key == "shortcuts")
                readShortcuts(results);
        });
        m_failure.clear();
        if (m_session.empty()) {
            // The session was closed while the binding was on its way.
            m_state = State::Connecting;
            createSession();
            return;
        }
        m_state = State::Bound;
        if (m_bindWanted)
            bindShortcuts();
    }
}

void GlobalShortcutsPortal::readShortcuts(sd_bus_message *message)
{
    if (sd_bus_message_enter_container(message, 'a', "(sa{sv})") <= 0)
        return;
    while (sd_bus_message_enter_container(message, 'r', "sa{sv}") > 0) {
        const char *id = nullptr;
        if (sd_bus_message_read_basic(message, 's', &id) <= 0)
            return;
        std::string trigger;
        if (!readDictionary(message, [&](const std::string &key, const char *contents) {
                if (key == "trigger_description")
                    readText(message, contents[0], trigger);
            }))
            return;
        const int hotkey = hotkeyOfShortcutId(id ? id : "");
        const auto it = m_hotkeys.find(hotkey);
        if (it != m_hotkeys.end())
            it->second.trigger = trigger;
        if (sd_bus_message_exit_container(message) < 0)
            return;
    }
    sd_bus_message_exit_container(message);
}

int GlobalShortcutsPortal::onActivated(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    const char *session = nullptr;
    const char *shortcut = nullptr;
    if (sd_bus_message_read(message, "os", &session, &shortcut) <= 0 || !session || !shortcut)
        return 0;
    if (portal->m_session.empty() || portal->m_session != session || !portal->m_events)
        return 0;
    const auto it = portal->m_hotkeys.find(hotkeyOfShortcutId(shortcut));
    if (it == portal->m_hotkeys.end())
        return 0;
    portal->m_events->hotkeyPressed(it->first, std::uint32_t(it->second.key) * 65536u + it->second.modifiers);
    return 0;
}

int GlobalShortcutsPortal::onShortcutsChanged(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    const char *session = nullptr;
    if (sd_bus_message_read(message, "o", &session) <= 0 || !session || portal->m_session != session)
        return 0;
    // The user gave a shortcut another trigger in the desktop's settings.
    portal->readShortcuts(message);
    return 0;
}

int GlobalShortcutsPortal::onSessionClosed(sd_bus_message *, void *self, sd_bus_error *)
{
    auto *portal = static_cast<GlobalShortcutsPortal *>(self);
    portal->m_session.clear();
    portal->m_closedSlot.reset();
    // The desktop ended the session (its portal restarted, the user revoked it): a new one is
    // made and the hotkeys bound to it again.
    std::fprintf(stderr, "pxkhk: switch hotkey: the desktop closed the shortcut session; making a new one\n");
    portal->m_state = State::Connecting;
    if (portal->m_step == Step::Nothing)
        portal->createSession();
    return 0;
}

void GlobalShortcutsPortal::fail(State state, const std::string &why)
{
    if (m_state != State::Failed)
        std::fprintf(stderr, "pxkhk: switch hotkey: %s\n", why.c_str());
    m_state = state;
    m_failure = why;
    m_step = Step::Nothing;
    m_callSlot.reset();
    m_registerSlot.reset();
}

void GlobalShortcutsPortal::closeSession()
{
    if (!m_bus || m_session.empty())
        return;
    sd_bus_message *raw = nullptr;
    if (sd_bus_message_new_method_call(m_bus.get(), &raw, kService, m_session.c_str(), kSession, "Close") >= 0) {
        sdbus::MessagePtr call(raw);
        sd_bus_message_set_expect_reply(raw, 0);
        sd_bus_send(m_bus.get(), raw, nullptr); // flushed when the connection closes
    }
    m_session.clear();
}

void GlobalShortcutsPortal::pollFds(std::vector<pollfd> &fds) const
{
    sdbus::fillPoll(m_bus.get(), fds);
}

int GlobalShortcutsPortal::timeoutMs() const
{
    int timeout = sdbus::busTimeoutMs(m_bus.get());
    if (m_step != Step::Nothing) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(m_deadline - std::chrono::steady_clock::now());
        const int ms = left.count() <= 0 ? 0 : int(std::min<long long>(left.count() + 1, 60000));
        timeout = timeout < 0 ? ms : std::min(timeout, ms);
    }
    return timeout;
}

void GlobalShortcutsPortal::dispatch(DesktopEvents &events)
{
    if (!m_bus)
        return;
    m_events = &events;
    if (!sdbus::processBus(m_bus.get())) {
        m_busClosed = true;
        fail(State::Failed, "the session bus connection closed");
    }
    m_events = nullptr;
    if (m_step != Step::Nothing && std::chrono::steady_clock::now() >= m_deadline) {
        const bool binding = m_step == Step::Bind;
        fail(State::Failed, std::string("the GlobalShortcuts portal did not answer within ")
                                + seconds(binding ? m_options.confirmTimeout : m_options.responseTimeout));
    }
}

bool GlobalShortcutsPortal::registerHotkey(int id, std::uint16_t modifiers, std::uint16_t key)
{
    if (m_state == State::Failed || preferredTrigger(modifiers, key).empty())
        return false;
    Hotkey &hotkey = m_hotkeys[id];
    hotkey = Hotkey{modifiers, key, {}};
    return bindShortcuts();
}

bool GlobalShortcutsPortal::unregisterHotkey(int id)
{
    if (m_hotkeys.erase(id) == 0)
        return false;
    // The session's bindings are replaced by the remaining hotkeys (none: Activated for the
    // removed id is ignored from now on).
    if (!m_hotkeys.empty() && m_state != State::Failed)
        bindShortcuts();
    return true;
}

CapabilityReports GlobalShortcutsPortal::capabilities() const
{
    CapabilityReport report;
    report.capability = DesktopCapability::SwitchHotkey;
    switch (m_state) {
    case State::Bound: {
        report.state = CapabilityState::Working;
        report.how = "the GlobalShortcuts portal";
        std::string triggers;
        for (const auto &[id, hotkey] : m_hotkeys)
            if (!hotkey.trigger.empty())
                triggers += (triggers.empty() ? "" : ", ") + hotkey.trigger;
        if (!triggers.empty())
            report.how += " (the desktop's trigger: " + triggers + ")";
        break;
    }
    case State::Connecting:
    case State::Ready:
        report.state = CapabilityState::NeedsStep;
        report.how = "the GlobalShortcuts portal";
        report.step = "confirm the switch hotkey when the desktop asks for it";
        break;
    case State::Refused:
        report.state = CapabilityState::NeedsStep;
        report.how = "the GlobalShortcuts portal: " + m_failure;
        report.step = "choose the switch hotkey again and confirm it when the desktop asks";
        break;
    case State::Failed:
        report.state = CapabilityState::Unavailable;
        report.how = "the GlobalShortcuts portal: " + m_failure;
        report.step = kFallback;
        break;
    }
    return {report};
}

} // namespace pixkey
