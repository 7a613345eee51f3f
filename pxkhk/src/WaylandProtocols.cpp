#include "WaylandProtocols.h"

#include "ext-idle-notify-v1-client-protocol.h"
#include "XDesktop.h" // the row of a set of held modifiers
#include "idle-client-protocol.h"
#include "kde-keystate-client-protocol.h"
#include "wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace pixkey {

struct WaylandProtocols::Toplevel {
    WaylandProtocols *self = nullptr;
    zwlr_foreign_toplevel_handle_v1 *handle = nullptr;
    unsigned long id = 0;
    std::string applicationId, pendingApplicationId;
    bool activated = false, pendingActivated = false;
    bool seenState = false; // a state event came since the last done
};

namespace {

// ---- listeners ----

void registryGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    static_cast<WaylandProtocols *>(data)->onGlobal(registry, name, interface, version);
}
void registryGlobalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener registryListener = {registryGlobal, registryGlobalRemove};

void managerToplevel(void *data, zwlr_foreign_toplevel_manager_v1 *, zwlr_foreign_toplevel_handle_v1 *handle)
{
    static_cast<WaylandProtocols *>(data)->onToplevel(handle);
}
void managerFinished(void *, zwlr_foreign_toplevel_manager_v1 *) {}
const zwlr_foreign_toplevel_manager_v1_listener managerListener = {managerToplevel, managerFinished};

using Toplevel = WaylandProtocols::Toplevel;

void toplevelTitle(void *, zwlr_foreign_toplevel_handle_v1 *, const char *) {}
void toplevelAppId(void *data, zwlr_foreign_toplevel_handle_v1 *, const char *appId)
{
    static_cast<Toplevel *>(data)->pendingApplicationId = appId ? appId : "";
}
void toplevelOutputEnter(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
void toplevelOutputLeave(void *, zwlr_foreign_toplevel_handle_v1 *, wl_output *) {}
void toplevelState(void *data, zwlr_foreign_toplevel_handle_v1 *, wl_array *states)
{
    auto &toplevel = *static_cast<Toplevel *>(data);
    toplevel.seenState = true;
    toplevel.pendingActivated = false;
    const std::size_t count = states->size / sizeof(uint32_t);
    const auto *values = static_cast<const uint32_t *>(states->data);
    for (std::size_t i = 0; i < count; ++i)
        if (values[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED)
            toplevel.pendingActivated = true;
}
void toplevelDone(void *data, zwlr_foreign_toplevel_handle_v1 *)
{
    auto &toplevel = *static_cast<Toplevel *>(data);
    toplevel.self->onToplevelDone(toplevel);
}
void toplevelClosed(void *data, zwlr_foreign_toplevel_handle_v1 *)
{
    auto &toplevel = *static_cast<Toplevel *>(data);
    toplevel.self->onToplevelClosed(toplevel);
}
void toplevelParent(void *, zwlr_foreign_toplevel_handle_v1 *, zwlr_foreign_toplevel_handle_v1 *) {}
const zwlr_foreign_toplevel_handle_v1_listener toplevelListener = {
    toplevelTitle, toplevelAppId, toplevelOutputEnter, toplevelOutputLeave, toplevelState, toplevelDone, toplevelClosed,
    toplevelParent};

void idled(void *data, ext_idle_notification_v1 *)
{
    static_cast<WaylandProtocols *>(data)->onIdle(true);
}
void resumed(void *data, ext_idle_notification_v1 *)
{
    static_cast<WaylandProtocols *>(data)->onIdle(false);
}
const ext_idle_notification_v1_listener idleListener = {idled, resumed};

void kdeIdle(void *data, org_kde_kwin_idle_timeout *)
{
    static_cast<WaylandProtocols *>(data)->onIdle(true);
}
void kdeResumed(void *data, org_kde_kwin_idle_timeout *)
{
    static_cast<WaylandProtocols *>(data)->onIdle(false);
}
const org_kde_kwin_idle_timeout_listener kdeIdleListener = {kdeIdle, kdeResumed};

void keyStateChanged(void *data, org_kde_kwin_keystate *, uint32_t key, uint32_t state)
{
    static_cast<WaylandProtocols *>(data)->onKeyState(key, state);
}
const org_kde_kwin_keystate_listener keyStateListener = {keyStateChanged};

void syncDone(void *data, wl_callback *callback, uint32_t)
{
    *static_cast<bool *>(data) = true;
    wl_callback_destroy(callback);
}
const wl_callback_listener syncListener = {syncDone};

} // namespace

WaylandProtocols::WaylandProtocols(Options options) : m_options(std::move(options))
{
    if (m_options.display.empty()) {
        if (const char *env = std::getenv("WAYLAND_DISPLAY"))
            m_options.display = env;
    }
    if (m_options.runtimeFolder.empty()) {
        if (const char *env = std::getenv("XDG_RUNTIME_DIR"))
            m_options.runtimeFolder = env;
    }
}

WaylandProtocols::~WaylandProtocols()
{
    if (!m_display)
        return;
    for (auto &[handle, toplevel] : m_toplevels)
        zwlr_foreign_toplevel_handle_v1_destroy(handle);
    m_toplevels.clear();
    if (m_toplevelManager)
        zwlr_foreign_toplevel_manager_v1_stop(m_toplevelManager);
    if (m_idleNotification)
        ext_idle_notification_v1_destroy(m_idleNotification);
    if (m_idleNotifier)
        ext_idle_notifier_v1_destroy(m_idleNotifier);
    if (m_kdeIdleTimeout)
        org_kde_kwin_idle_timeout_release(m_kdeIdleTimeout);
    if (m_kdeIdle)
        org_kde_kwin_idle_destroy(m_kdeIdle);
    if (m_keyState)
        org_kde_kwin_keystate_destroy(m_keyState);
    if (m_seat)
        wl_seat_destroy(m_seat);
    if (m_registry)
        wl_registry_destroy(m_registry);
    if (!m_lost)
        wl_display_flush(m_display); // at most what the socket takes now
    wl_display_disconnect(m_display);
}

bool WaylandProtocols::open(std::string &error)
{
    if (m_options.display.empty()) {
        error = "no Wayland display ($WAYLAND_DISPLAY is not set)";
        return false;
    }
    const std::string path = m_options.display.front() == '/' || m_options.runtimeFolder.empty()
        ? m_options.display
        : m_options.runtimeFolder + "/" + m_options.display;
    m_display = wl_display_connect(path.c_str());
    if (!m_display) {
        error = "cannot connect to Wayland display " + path + ": " + std::strerror(errno);
        return false;
    }
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &registryListener, this);

    // Two round trips, bounded: the globals (bound as they come), then what binding them sent
    // (the toplevels there are, with their states).
    const auto deadline = Clock::now() + kOpenTimeout;
    for (int round = 0; round < 2; ++round) {
        bool done = false;
        wl_callback *callback = wl_display_sync(m_display);
        wl_callback_add_listener(callback, &syncListener, &done);
        while (!done) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0 || !pump(int(left))) {
                error = m_lost ? "the Wayland connection broke" : "the compositor did not answer in time";
                wl_callback_destroy(callback); // `done` goes out of scope: no answer may reach it
                return false;
            }
        }
        if (round == 0)
            startIdleNotification();
    }
    if (!m_toplevelManager && !hasIdle() && !m_keyState) {
        error = "the compositor offers none of the foreign-toplevel list, an idle notification and key states";
        return false;
    }
    return true;
}

void WaylandProtocols::onGlobal(wl_registry *registry, std::uint32_t name, const char *interface, std::uint32_t version)
{
    const auto bind = [&](const wl_interface *wanted, std::uint32_t most) {
        return wl_registry_bind(registry, name, wanted, version < most ? version : most);
    };
    if (std::strcmp(interface, zwlr_foreign_toplevel_manager_v1_interface.name) == 0 && !m_toplevelManager) {
        m_toplevelManager = static_cast<zwlr_foreign_toplevel_manager_v1 *>(bind(&zwlr_foreign_toplevel_manager_v1_interface, 3));
        zwlr_foreign_toplevel_manager_v1_add_listener(m_toplevelManager, &managerListener, this);
    } else if (std::strcmp(interface, ext_idle_notifier_v1_interface.name) == 0 && !m_idleNotifier) {
        m_idleNotifier = static_cast<ext_idle_notifier_v1 *>(bind(&ext_idle_notifier_v1_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_idle_interface.name) == 0 && !m_kdeIdle) {
        m_kdeIdle = static_cast<org_kde_kwin_idle *>(bind(&org_kde_kwin_idle_interface, 1));
    } else if (std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0 && !m_keyState && version >= 5) {
        // Before version 5 it reports lock keys only.
        m_keyState = static_cast<org_kde_kwin_keystate *>(bind(&org_kde_kwin_keystate_interface, 5));
        org_kde_kwin_keystate_add_listener(m_keyState, &keyStateListener, this);
        org_kde_kwin_keystate_fetchStates(m_keyState);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !m_seat) {
        m_seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 1));
    }
}

void WaylandProtocols::startIdleNotification()
{
    if (!m_seat)
        return;
    if (m_idleNotifier) {
        m_idleNotification = ext_idle_notifier_v1_get_idle_notification(m_idleNotifier, kIdleStepMs, m_seat);
        ext_idle_notification_v1_add_listener(m_idleNotification, &idleListener, this);
    } else if (m_kdeIdle) {
        m_kdeIdleTimeout = org_kde_kwin_idle_get_idle_timeout(m_kdeIdle, m_seat, kIdleStepMs);
        org_kde_kwin_idle_timeout_add_listener(m_kdeIdleTimeout, &kdeIdleListener, this);
    }
}

void WaylandProtocols::onToplevel(zwlr_foreign_toplevel_handle_v1 *handle)
{
    auto toplevel = std::make_unique<Toplevel>();
    toplevel->self = this;
    toplevel->handle = handle;
    toplevel->id = m_nextWindow++;
    zwlr_foreign_toplevel_handle_v1_add_listener(handle, &toplevelListener, toplevel.get());
    m_toplevels[handle] = std::move(toplevel);
}

void WaylandProtocols::onToplevelDone(Toplevel &toplevel)
{
    toplevel.applicationId = toplevel.pendingApplicationId;
    if (toplevel.seenState)
        toplevel.activated = toplevel.pendingActivated;
    toplevel.seenState = false;
    if (toplevel.activated)
        activate(toplevel.id);
    else if (toplevel.id == m_active)
        activate(0);
}

void WaylandProtocols::onToplevelClosed(Toplevel &toplevel)
{
    if (toplevel.id == m_active)
        activate(0);
    zwlr_foreign_toplevel_handle_v1 *handle = toplevel.handle;
    zwlr_foreign_toplevel_handle_v1_destroy(handle);
    m_toplevels.erase(handle); // destroys `toplevel`
}

void WaylandProtocols::onIdle(bool idle)
{
    m_idle = idle;
    if (idle)
        m_idleSince = Clock::now() - std::chrono::milliseconds(kIdleStepMs);
}

void WaylandProtocols::onKeyState(std::uint32_t key, std::uint32_t state)
{
    unsigned bit = 0;
    switch (key) {
    case ORG_KDE_KWIN_KEYSTATE_KEY_ALT:
        bit = XDesktop::HeldAlt;
        break;
    case ORG_KDE_KWIN_KEYSTATE_KEY_SHIFT:
        bit = XDesktop::HeldShift;
        break;
    case ORG_KDE_KWIN_KEYSTATE_KEY_CONTROL:
        bit = XDesktop::HeldCtrl;
        break;
    default:
        return; // lock keys, Meta (not counted, as on X) and AltGr
    }
    // Latched and locked (sticky keys) count as held, as the key acts held.
    if (state == ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED)
        m_heldModifiers &= ~bit;
    else
        m_heldModifiers |= bit;
    const int row = XDesktop::rowOfHeldModifiers(m_heldModifiers);
    if (row == m_row)
        return;
    m_row = row;
    if (m_events)
        m_events->modifierRowChanged(row);
}

void WaylandProtocols::activate(unsigned long window)
{
    changeActiveWindow(m_active, window, m_events); // no events while opening: the state is kept
}

bool WaylandProtocols::usable() const
{
    return m_display && !m_lost;
}

void WaylandProtocols::flush()
{
    if (wl_display_flush(m_display) < 0) {
        if (errno == EAGAIN) {
            m_wantWrite = true;
            return;
        }
        m_lost = true;
    }
    m_wantWrite = false;
}

bool WaylandProtocols::pump(int waitMs)
{
    if (!usable())
        return false;
    while (wl_display_prepare_read(m_display) != 0) {
        if (wl_display_dispatch_pending(m_display) < 0) {
            m_lost = true;
            return false;
        }
    }
    flush();
    pollfd p{wl_display_get_fd(m_display), POLLIN, 0};
    if (!m_lost && ::poll(&p, 1, waitMs) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR))) {
        if (wl_display_read_events(m_display) < 0)
            m_lost = true;
    } else {
        wl_display_cancel_read(m_display);
    }
    if (!m_lost && wl_display_dispatch_pending(m_display) < 0)
        m_lost = true;
    if (!m_lost && wl_display_get_error(m_display) != 0)
        m_lost = true;
    if (!m_lost)
        flush(); // what the callbacks asked for
    return !m_lost;
}

void WaylandProtocols::pollFds(std::vector<pollfd> &fds) const
{
    if (usable())
        fds.push_back({wl_display_get_fd(m_display), short(POLLIN | (m_wantWrite ? POLLOUT : 0)), 0});
}

void WaylandProtocols::dispatch(DesktopEvents &events)
{
    m_events = &events;
    pump(0);
    m_events = nullptr;
}

CapabilityReports WaylandProtocols::capabilities() const
{
    CapabilityReports reports;
    if (!usable())
        return reports;
    if (m_toplevelManager)
        reports.push_back({DesktopCapability::ActiveWindow, CapabilityState::Working,
                           "the compositor's foreign-toplevel list (app id only, no process)", {}});
    if (m_keyState)
        reports.push_back({DesktopCapability::ModifierRows, CapabilityState::Working,
                           "KWin's key states (org_kde_kwin_keystate)", {}});
    if (m_idleNotification)
        reports.push_back({DesktopCapability::IdleTime, CapabilityState::Working,
                           "the compositor's idle notification (ext-idle-notify-v1), to the second", {}});
    else if (m_kdeIdleTimeout)
        reports.push_back({DesktopCapability::IdleTime, CapabilityState::Working,
                           "the compositor's idle notification (org_kde_kwin_idle), to the second", {}});
    return reports;
}

std::optional<std::uint32_t> WaylandProtocols::idleTime()
{
    if (!usable() || !hasIdle())
        return std::nullopt;
    if (!m_idle)
        return 0;
    const auto idle = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - m_idleSince).count();
    return std::uint32_t(std::min<long long>(idle, 0xFFFFFFFFll));
}

std::string WaylandProtocols::applicationIdOfWindow(unsigned long window)
{
    for (const auto &[handle, toplevel] : m_toplevels)
        if (toplevel->id == window)
            return toplevel->applicationId;
    return {};
}

} // namespace pixkey
