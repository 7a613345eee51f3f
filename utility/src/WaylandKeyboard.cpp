#include "WaylandKeyboard.h"

#include "XkbKeymap.h"

#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace pixkey {

struct WaylandKeyboard::Globals {
    wl_display *display = nullptr;
    wl_registry *registry = nullptr;
    wl_seat *seat = nullptr;
    zwp_virtual_keyboard_manager_v1 *manager = nullptr;
    zwp_virtual_keyboard_v1 *keyboard = nullptr;
};

namespace {

void onGlobal(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    auto *globals = static_cast<WaylandKeyboard::Globals *>(data);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !globals->seat) {
        globals->seat = static_cast<wl_seat *>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0 && !globals->manager) {
        (void)version;
        globals->manager = static_cast<zwp_virtual_keyboard_manager_v1 *>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    }
}

void onGlobalRemove(void *, wl_registry *, uint32_t) {}

const wl_registry_listener kRegistryListener = {onGlobal, onGlobalRemove};

void onSyncDone(void *data, wl_callback *, uint32_t)
{
    *static_cast<bool *>(data) = true;
}

const wl_callback_listener kSyncListener = {onSyncDone};

// A sealed-size anonymous file holding `text` and its terminating NUL; -1 on failure.
int keymapFile(const std::string &text)
{
    const int fd = memfd_create("pixkey-keymap", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    const std::size_t size = text.size() + 1;
    std::size_t written = 0;
    while (written < size) {
        const ssize_t n = write(fd, text.c_str() + written, size - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            close(fd);
            return -1;
        }
        written += std::size_t(n);
    }
    return fd;
}

std::uint32_t nowMs()
{
    using namespace std::chrono;
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

WaylandKeyboard::WaylandKeyboard() : m_globals(std::make_unique<Globals>()) {}

WaylandKeyboard::~WaylandKeyboard()
{
    Globals &g = *m_globals;
    if (g.keyboard)
        zwp_virtual_keyboard_v1_destroy(g.keyboard);
    if (g.manager)
        zwp_virtual_keyboard_manager_v1_destroy(g.manager);
    if (g.seat)
        wl_seat_destroy(g.seat);
    if (g.registry)
        wl_registry_destroy(g.registry);
    if (g.display) {
        wl_display_flush(g.display);
        wl_display_disconnect(g.display);
    }
}

bool WaylandKeyboard::usable() const
{
    return !m_broken && m_globals->display && wl_display_get_error(m_globals->display) == 0;
}

// A round trip bounded in time: sends what is queued and waits for the compositor's answer to a
// sync request, dispatching what arrives meanwhile.
bool WaylandKeyboard::roundtrip(std::string &error)
{
    wl_display *display = m_globals->display;
    bool done = false;
    wl_callback *callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &kSyncListener, &done);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_timeoutMs);
    while (!done) {
        if (wl_display_dispatch_pending(display) < 0)
            break;
        if (done)
            break;
        if (wl_display_flush(display) < 0 && errno != EAGAIN)
            break;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            wl_callback_destroy(callback);
            m_broken = true; // a compositor that stalls is connected to afresh next time
            error = "the Wayland compositor did not answer within " + std::to_string(m_timeoutMs) + " ms";
            return false;
        }
        if (wl_display_prepare_read(display) != 0)
            continue; // events queued meanwhile: dispatch them first
        pollfd fd{wl_display_get_fd(display), POLLIN, 0};
        const int ready = poll(&fd, 1, int(std::min<long long>(left.count(), 1000)));
        if (ready > 0) {
            if (wl_display_read_events(display) < 0)
                break;
        } else {
            wl_display_cancel_read(display);
            if (ready < 0 && errno != EINTR)
                break;
        }
    }
    wl_callback_destroy(callback);
    if (done)
        return true;
    m_broken = true;
    const int code = wl_display_get_error(display);
    error = code ? std::string("the Wayland connection failed: ") + std::strerror(code)
                 : std::string("the Wayland connection failed");
    return false;
}

std::unique_ptr<WaylandKeyboard> WaylandKeyboard::connect(const std::string &name, int timeoutMs, std::string &error)
{
    std::unique_ptr<WaylandKeyboard> result(new WaylandKeyboard);
    result->m_timeoutMs = timeoutMs;
    Globals &g = *result->m_globals;
    g.display = wl_display_connect(name.empty() ? nullptr : name.c_str());
    if (!g.display) {
        error = "no Wayland compositor to connect to";
        return nullptr;
    }
    g.registry = wl_display_get_registry(g.display);
    wl_registry_add_listener(g.registry, &kRegistryListener, &g);
    if (!result->roundtrip(error))
        return nullptr;
    if (!g.manager) {
        error = "the compositor offers no virtual keyboard (zwp_virtual_keyboard_v1)";
        return nullptr;
    }
    if (!g.seat) {
        error = "the compositor offers no seat";
        return nullptr;
    }
    result->m_keymap = XkbKeymap::createDefault(error);
    if (!result->m_keymap)
        return nullptr;
    const std::string text = result->m_keymap->text();
    const int fd = keymapFile(text);
    if (fd < 0) {
        error = std::string("cannot write the keyboard map: ") + std::strerror(errno);
        return nullptr;
    }
    g.keyboard = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g.manager, g.seat);
    zwp_virtual_keyboard_v1_keymap(g.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd, std::uint32_t(text.size() + 1));
    close(fd); // the request carries its own duplicate
    if (!result->roundtrip(error))
        return nullptr;
    return result;
}

bool WaylandKeyboard::sendKeysyms(const std::vector<std::uint32_t> &keysyms, std::string &error)
{
    if (!usable()) {
        error = "the Wayland connection is closed";
        return false;
    }
    const std::vector<std::uint32_t> codes = m_keymap->keycodesOf(keysyms);
    if (codes.empty()) {
        error = "a key of the shortcut is not on the keyboard map";
        return false;
    }
    zwp_virtual_keyboard_v1 *keyboard = m_globals->keyboard;
    const auto event = [&](std::uint32_t code, bool down) {
        zwp_virtual_keyboard_v1_key(keyboard, nowMs(), code - 8,
                                    down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED);
        // The compositor takes the modifier state from the client, not from the keys.
        const XkbKeymap::Modifiers mods = m_keymap->updateKey(code, down);
        zwp_virtual_keyboard_v1_modifiers(keyboard, mods.depressed, mods.latched, mods.locked, mods.group);
    };
    for (std::uint32_t code : codes)
        event(code, true);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
        event(*it, false);
    return roundtrip(error);
}

} // namespace pixkey
