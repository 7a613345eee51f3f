#include "GnomeShellExtension.h"

#include "XDesktop.h"

#include <cstdlib>

#include <sys/stat.h>

namespace pixkey {

namespace {

constexpr std::size_t kKeptWindows = 64; // windows whose process and app id are remembered
constexpr std::uint32_t kShift = 1, kControl = 4, kAlt = 8; // Clutter's modifier bits

std::vector<std::string> split(const std::string &text, char separator)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t end = text.find(separator, start);
        const std::string part = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (!part.empty())
            parts.push_back(part);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return parts;
}

std::vector<std::string> defaultDataFolders()
{
    std::vector<std::string> folders;
    const char *home = std::getenv("XDG_DATA_HOME");
    if (home && *home)
        folders.emplace_back(home);
    else if (const char *h = std::getenv("HOME"); h && *h)
        folders.push_back(std::string(h) + "/.local/share");
    const char *dirs = std::getenv("XDG_DATA_DIRS");
    for (const auto &folder : split(dirs && *dirs ? dirs : "/usr/local/share:/usr/share", ':'))
        folders.push_back(folder);
    return folders;
}

} // namespace

GnomeShellExtension::GnomeShellExtension(Options options) : m_options(std::move(options))
{
    if (m_options.dataFolders.empty())
        m_options.dataFolders = defaultDataFolders();
}

GnomeShellExtension::~GnomeShellExtension()
{
    m_focusMatch.reset();
    m_modifiersMatch.reset();
    m_ownerMatch.reset();
    m_ownerCall.reset();
    m_focusCall.reset();
    m_modifiersCall.reset();
    m_bus.reset();
}

int GnomeShellExtension::rowOfMask(std::uint32_t mask)
{
    unsigned held = 0;
    if (mask & kControl)
        held |= XDesktop::HeldCtrl;
    if (mask & kShift)
        held |= XDesktop::HeldShift;
    if (mask & kAlt)
        held |= XDesktop::HeldAlt;
    return XDesktop::rowOfHeldModifiers(held);
}

std::string GnomeShellExtension::installedFolder() const
{
    for (const auto &data : m_options.dataFolders) {
        const std::string folder = data + "/gnome-shell/extensions/" + kUuid;
        struct stat info {};
        if (::stat((folder + "/metadata.json").c_str(), &info) == 0 && S_ISREG(info.st_mode))
            return folder;
    }
    return {};
}

bool GnomeShellExtension::open(std::string &error)
{
    m_bus = sdbus::openSessionBus(error, m_options.busAddress);
    if (!m_bus)
        return false;
    sd_bus *bus = m_bus.get();
    // Signals are taken only from the name's current owner (checked in the handlers), so the
    // matches need not name a sender.
    sd_bus_slot *slot = nullptr;
    int r = sd_bus_match_signal_async(bus, &slot, nullptr, kObject, kInterface, "FocusChanged",
                                      &GnomeShellExtension::onFocusChanged, nullptr, this);
    if (r >= 0) {
        m_focusMatch.reset(slot);
        slot = nullptr;
        r = sd_bus_match_signal_async(bus, &slot, nullptr, kObject, kInterface, "ModifiersChanged",
                                      &GnomeShellExtension::onModifiersChanged, nullptr, this);
    }
    if (r >= 0) {
        m_modifiersMatch.reset(slot);
        slot = nullptr;
        r = sd_bus_match_signal_async(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                      "NameOwnerChanged", &GnomeShellExtension::onOwnerChanged, nullptr, this);
    }
    if (r >= 0) {
        m_ownerMatch.reset(slot);
        slot = nullptr;
        r = sd_bus_call_method_async(bus, &slot, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                                     "GetNameOwner", &GnomeShellExtension::onOwner, this, "s", kBusName);
    }
    if (r < 0) {
        error = "cannot listen for the GNOME Shell extension: " + sdbus::errorText(r);
        m_bus.reset();
        return false;
    }
    m_ownerCall.reset(slot);
    return true;
}

int GnomeShellExtension::onOwner(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    me->m_ownerCall.reset();
    const char *owner = nullptr;
    // An error here is the usual "name has no owner": the extension is not enabled (yet).
    if (!sd_bus_message_is_method_error(reply, nullptr) && sd_bus_message_read(reply, "s", &owner) >= 0 && owner && *owner)
        me->extensionAppeared(owner);
    return 0;
}

int GnomeShellExtension::onOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    const char *name = nullptr, *oldOwner = nullptr, *newOwner = nullptr;
    if (sd_bus_message_read(message, "sss", &name, &oldOwner, &newOwner) < 0 || !name
        || std::string(name) != kBusName)
        return 0;
    if (newOwner && *newOwner)
        me->extensionAppeared(newOwner);
    else
        me->extensionGone();
    return 0;
}

void GnomeShellExtension::extensionAppeared(const std::string &owner)
{
    if (owner == m_owner)
        return;
    m_owner = owner;
    // The state now; changes after it come as signals.
    sd_bus_slot *slot = nullptr;
    if (sd_bus_call_method_async(m_bus.get(), &slot, m_owner.c_str(), kObject, kInterface, "GetFocus",
                                 &GnomeShellExtension::onFocus, this, "") >= 0)
        m_focusCall.reset(slot);
    slot = nullptr;
    if (sd_bus_call_method_async(m_bus.get(), &slot, m_owner.c_str(), kObject, kInterface, "GetModifiers",
                                 &GnomeShellExtension::onModifiers, this, "") >= 0)
        m_modifiersCall.reset(slot);
}

void GnomeShellExtension::extensionGone()
{
    m_owner.clear();
    m_focusCall.reset();
    m_modifiersCall.reset();
    m_windows.clear();
    setActive(0);
    setRow(0);
}

int GnomeShellExtension::onFocus(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    me->m_focusCall.reset();
    if (!sd_bus_message_is_method_error(reply, nullptr))
        me->readFocus(reply);
    return 0;
}

int GnomeShellExtension::onModifiers(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    me->m_modifiersCall.reset();
    if (!sd_bus_message_is_method_error(reply, nullptr))
        me->readModifiers(reply);
    return 0;
}

int GnomeShellExtension::onFocusChanged(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    if (!me->m_owner.empty() && sender && me->m_owner == sender)
        me->readFocus(message);
    return 0;
}

int GnomeShellExtension::onModifiersChanged(sd_bus_message *message, void *self, sd_bus_error *)
{
    auto *me = static_cast<GnomeShellExtension *>(self);
    const char *sender = sd_bus_message_get_sender(message);
    if (!me->m_owner.empty() && sender && me->m_owner == sender)
        me->readModifiers(message);
    return 0;
}

void GnomeShellExtension::readFocus(sd_bus_message *message)
{
    uint32_t window = 0, pid = 0;
    const char *appId = nullptr, *wmClass = nullptr;
    if (sd_bus_message_read(message, "ussu", &window, &appId, &wmClass, &pid) < 0)
        return; // a message of another shape is ignored
    if (window == 0) {
        setActive(0);
        return;
    }
    for (auto it = m_windows.begin(); it != m_windows.end(); ++it) {
        if (it->id == window) {
            m_windows.erase(it);
            break;
        }
    }
    m_windows.push_front(Window{window, appId ? appId : "", wmClass ? wmClass : "",
                                pid > 0 && pid <= 0x7fffffffu ? int(pid) : 0});
    if (m_windows.size() > kKeptWindows)
        m_windows.pop_back();
    setActive(window);
}

void GnomeShellExtension::readModifiers(sd_bus_message *message)
{
    uint32_t mask = 0;
    if (sd_bus_message_read(message, "u", &mask) >= 0)
        setRow(rowOfMask(mask));
}

void GnomeShellExtension::setActive(unsigned long window)
{
    if (window == m_active)
        return;
    if (m_active)
        m_foreground.emplace_back(m_active, 0);
    if (window)
        m_foreground.emplace_back(window, 1);
    m_active = window;
}

void GnomeShellExtension::setRow(int row)
{
    if (row == m_row)
        return;
    m_row = row;
    m_rows.push_back(row);
}

const GnomeShellExtension::Window *GnomeShellExtension::find(unsigned long window) const
{
    for (const auto &w : m_windows)
        if (w.id == window)
            return &w;
    return nullptr;
}

int GnomeShellExtension::processIdOfWindow(unsigned long window)
{
    const Window *w = find(window);
    return w ? w->pid : 0;
}

std::string GnomeShellExtension::applicationIdOfWindow(unsigned long window)
{
    const Window *w = find(window);
    if (!w)
        return {};
    // GNOME names applications by their desktop file ("org.gnome.TextEditor.desktop"); the app
    // id is that name without the suffix. Windows without a desktop file go by their WM class.
    std::string id = w->appId;
    const std::string suffix = ".desktop";
    if (id.size() > suffix.size() && id.compare(id.size() - suffix.size(), suffix.size(), suffix) == 0)
        id.resize(id.size() - suffix.size());
    return id.empty() ? w->wmClass : id;
}

void GnomeShellExtension::pollFds(std::vector<pollfd> &fds) const
{
    sdbus::fillPoll(m_bus.get(), fds);
}

int GnomeShellExtension::timeoutMs() const
{
    return m_foreground.empty() && m_rows.empty() ? sdbus::busTimeoutMs(m_bus.get()) : 0;
}

void GnomeShellExtension::dispatch(DesktopEvents &events)
{
    if (m_bus && !sdbus::processBus(m_bus.get()) && m_failure.empty()) {
        m_failure = "the session bus connection closed";
        extensionGone();
    }
    while (!m_foreground.empty()) {
        const auto [window, active] = m_foreground.front();
        m_foreground.pop_front();
        events.foregroundChanged(window, active);
    }
    while (!m_rows.empty()) {
        const int row = m_rows.front();
        m_rows.pop_front();
        events.modifierRowChanged(row);
    }
}

CapabilityReports GnomeShellExtension::capabilities() const
{
    CapabilityReport focus, rows;
    focus.capability = DesktopCapability::ActiveWindow;
    rows.capability = DesktopCapability::ModifierRows;
    if (!m_failure.empty()) {
        focus.state = rows.state = CapabilityState::Unavailable;
        focus.how = rows.how = m_failure;
    } else if (extensionRunning()) {
        focus.state = rows.state = CapabilityState::Working;
        focus.how = "the Pixkey mini GNOME Shell extension reports the focused window";
        rows.how = "the Pixkey mini GNOME Shell extension reports the held modifiers";
    } else {
        focus.state = rows.state = CapabilityState::NeedsStep;
        const std::string uuid = kUuid;
        if (!installedFolder().empty()) {
            focus.how = rows.how = "the Pixkey mini GNOME Shell extension is installed but not enabled";
            focus.step = rows.step = "enable the extension: gnome-extensions enable " + uuid
                                     + " (or switch it on in the Extensions app; log out and in first if it was "
                                       "just installed)";
        } else {
            focus.how = "GNOME Shell offers no focused-window interface; the Pixkey mini extension provides it";
            rows.how = "GNOME Shell tells other programs the held modifiers only through the Pixkey mini extension";
            focus.step = rows.step = "install the Pixkey mini GNOME Shell extension (the pixkey-mini package puts it in "
                                     "/usr/share/gnome-shell/extensions/" + uuid + "), log out and in, then enable it: "
                                     "gnome-extensions enable " + uuid;
        }
    }
    return {focus, rows};
}

} // namespace pixkey
