// pixkey_wayland_test_client: a plain Wayland window for the compositor tests.
//
//   pixkey_wayland_test_client --app-id ID [--title TITLE] [--keys FILE]
//
// Shows an xdg-shell toplevel with app id ID (a white shared-memory buffer, so the compositor maps
// it), prints "mapped" on stdout once it is shown, "focus in" / "focus out" when it gains or loses
// the keyboard, and appends every key pressed while it has the keyboard to FILE as its keysym
// name ("a", "Control_L", "Return"), one per line, so a test can see what was typed into it. Ends
// when the compositor closes the window or goes away, or on SIGTERM.
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Client {
    wl_display *display = nullptr;
    wl_compositor *compositor = nullptr;
    wl_shm *shm = nullptr;
    xdg_wm_base *wmBase = nullptr;
    wl_seat *seat = nullptr;
    wl_keyboard *keyboard = nullptr;
    wl_surface *surface = nullptr;
    xdg_surface *xdgSurface = nullptr;
    xdg_toplevel *toplevel = nullptr;
    wl_buffer *buffer = nullptr;
    int bufferWidth = 0, bufferHeight = 0;
    int pendingWidth = 0, pendingHeight = 0;
    bool mapped = false;
    bool closed = false;

    xkb_context *xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap *keymap = nullptr;
    xkb_state *state = nullptr;
    std::FILE *keys = nullptr;
};

void say(const char *line)
{
    std::printf("%s\n", line);
    std::fflush(stdout);
}

void bufferRelease(void *, wl_buffer *) {}
const wl_buffer_listener bufferListener = {bufferRelease};

// A white buffer of the given size, or null.
wl_buffer *makeBuffer(Client &c, int width, int height)
{
    const int stride = width * 4;
    const std::size_t size = std::size_t(stride) * std::size_t(height);
    const int fd = ::memfd_create("pixkey-test-client", MFD_CLOEXEC);
    if (fd < 0 || ::ftruncate(fd, off_t(size)) != 0)
        return nullptr;
    void *data = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        ::close(fd);
        return nullptr;
    }
    std::memset(data, 0xFF, size);
    ::munmap(data, size);
    wl_shm_pool *pool = wl_shm_create_pool(c.shm, fd, int(size));
    wl_buffer *buffer = wl_shm_pool_create_buffer(pool, 0, width, height, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    ::close(fd);
    wl_buffer_add_listener(buffer, &bufferListener, nullptr);
    return buffer;
}

// ---- xdg-shell ----

void wmBasePing(void *, xdg_wm_base *base, uint32_t serial)
{
    xdg_wm_base_pong(base, serial);
}
const xdg_wm_base_listener wmBaseListener = {wmBasePing};

void surfaceConfigure(void *data, xdg_surface *surface, uint32_t serial)
{
    auto &c = *static_cast<Client *>(data);
    xdg_surface_ack_configure(surface, serial);
    const int width = c.pendingWidth > 0 ? c.pendingWidth : 200;
    const int height = c.pendingHeight > 0 ? c.pendingHeight : 150;
    if (!c.buffer || width != c.bufferWidth || height != c.bufferHeight) {
        if (c.buffer)
            wl_buffer_destroy(c.buffer);
        c.buffer = makeBuffer(c, width, height);
        c.bufferWidth = width;
        c.bufferHeight = height;
    }
    if (!c.buffer) {
        std::fprintf(stderr, "pixkey_wayland_test_client: no shared-memory buffer\n");
        std::exit(1);
    }
    wl_surface_attach(c.surface, c.buffer, 0, 0);
    wl_surface_damage(c.surface, 0, 0, width, height);
    wl_surface_commit(c.surface);
    if (!c.mapped) {
        c.mapped = true;
        wl_display_flush(c.display);
        say("mapped");
    }
}
const xdg_surface_listener surfaceListener = {surfaceConfigure};

void toplevelConfigure(void *data, xdg_toplevel *, int32_t width, int32_t height, wl_array *)
{
    auto &c = *static_cast<Client *>(data);
    c.pendingWidth = width;
    c.pendingHeight = height;
}
void toplevelClose(void *data, xdg_toplevel *)
{
    static_cast<Client *>(data)->closed = true;
}
// Bound at version 1: the later events (bounds, capabilities) never come.
const xdg_toplevel_listener toplevelListener = {toplevelConfigure, toplevelClose, nullptr, nullptr};

// ---- keyboard ----

void keyboardKeymap(void *data, wl_keyboard *, uint32_t format, int32_t fd, uint32_t size)
{
    auto &c = *static_cast<Client *>(data);
    if (format != WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1) {
        ::close(fd);
        return;
    }
    void *text = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (text == MAP_FAILED)
        return;
    xkb_keymap *keymap = xkb_keymap_new_from_string(c.xkb, static_cast<const char *>(text), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                    XKB_KEYMAP_COMPILE_NO_FLAGS);
    ::munmap(text, size);
    if (!keymap)
        return;
    if (c.state)
        xkb_state_unref(c.state);
    if (c.keymap)
        xkb_keymap_unref(c.keymap);
    c.keymap = keymap;
    c.state = xkb_state_new(keymap);
}
void keyboardEnter(void *, wl_keyboard *, uint32_t, wl_surface *, wl_array *)
{
    say("focus in");
}
void keyboardLeave(void *, wl_keyboard *, uint32_t, wl_surface *)
{
    say("focus out");
}
void keyboardKey(void *data, wl_keyboard *, uint32_t, uint32_t, uint32_t key, uint32_t pressed)
{
    auto &c = *static_cast<Client *>(data);
    if (pressed != WL_KEYBOARD_KEY_STATE_PRESSED || !c.state || !c.keys)
        return;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(c.state, key + 8);
    char name[64];
    if (sym == XKB_KEY_NoSymbol || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
        std::snprintf(name, sizeof name, "keycode-%u", key + 8);
    std::fprintf(c.keys, "%s\n", name);
    std::fflush(c.keys);
}
void keyboardModifiers(void *data, wl_keyboard *, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                       uint32_t group)
{
    auto &c = *static_cast<Client *>(data);
    if (c.state)
        xkb_state_update_mask(c.state, depressed, latched, locked, 0, 0, group);
}
void keyboardRepeat(void *, wl_keyboard *, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {keyboardKeymap, keyboardEnter, keyboardLeave, keyboardKey,
                                               keyboardModifiers, keyboardRepeat};

void seatCapabilities(void *data, wl_seat *seat, uint32_t capabilities)
{
    auto &c = *static_cast<Client *>(data);
    const bool hasKeyboard = capabilities & WL_SEAT_CAPABILITY_KEYBOARD;
    if (hasKeyboard && !c.keyboard) {
        c.keyboard = wl_seat_get_keyboard(seat);
        wl_keyboard_add_listener(c.keyboard, &keyboardListener, &c);
    } else if (!hasKeyboard && c.keyboard) {
        if (wl_keyboard_get_version(c.keyboard) >= WL_KEYBOARD_RELEASE_SINCE_VERSION)
            wl_keyboard_release(c.keyboard);
        else
            wl_keyboard_destroy(c.keyboard);
        c.keyboard = nullptr;
    }
}
void seatName(void *, wl_seat *, const char *) {}
const wl_seat_listener seatListener = {seatCapabilities, seatName};

// ---- registry ----

void global(void *data, wl_registry *registry, uint32_t name, const char *interface, uint32_t version)
{
    auto &c = *static_cast<Client *>(data);
    const auto bind = [&](const wl_interface *wanted, uint32_t most) {
        return wl_registry_bind(registry, name, wanted, version < most ? version : most);
    };
    if (std::strcmp(interface, wl_compositor_interface.name) == 0) {
        c.compositor = static_cast<wl_compositor *>(bind(&wl_compositor_interface, 4));
    } else if (std::strcmp(interface, wl_shm_interface.name) == 0) {
        c.shm = static_cast<wl_shm *>(bind(&wl_shm_interface, 1));
    } else if (std::strcmp(interface, xdg_wm_base_interface.name) == 0) {
        c.wmBase = static_cast<xdg_wm_base *>(bind(&xdg_wm_base_interface, 1));
        xdg_wm_base_add_listener(c.wmBase, &wmBaseListener, &c);
    } else if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c.seat) {
        c.seat = static_cast<wl_seat *>(bind(&wl_seat_interface, 5));
        wl_seat_add_listener(c.seat, &seatListener, &c);
    }
}
void globalRemove(void *, wl_registry *, uint32_t) {}
const wl_registry_listener registryListener = {global, globalRemove};

} // namespace

int main(int argc, char **argv)
{
    std::string appId = "pixkey-test", title, keysPath;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (i + 1 < argc && argument == "--app-id")
            appId = argv[++i];
        else if (i + 1 < argc && argument == "--title")
            title = argv[++i];
        else if (i + 1 < argc && argument == "--keys")
            keysPath = argv[++i];
        else {
            std::fprintf(stderr, "usage: pixkey_wayland_test_client --app-id ID [--title TITLE] [--keys FILE]\n");
            return 2;
        }
    }
    if (title.empty())
        title = appId;

    Client c;
    if (!keysPath.empty()) {
        c.keys = std::fopen(keysPath.c_str(), "a");
        if (!c.keys) {
            std::fprintf(stderr, "pixkey_wayland_test_client: cannot open %s: %s\n", keysPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    c.display = wl_display_connect(nullptr);
    if (!c.display) {
        std::fprintf(stderr, "pixkey_wayland_test_client: no Wayland display\n");
        return 1;
    }
    wl_registry *registry = wl_display_get_registry(c.display);
    wl_registry_add_listener(registry, &registryListener, &c);
    wl_display_roundtrip(c.display);
    if (!c.compositor || !c.shm || !c.wmBase) {
        std::fprintf(stderr, "pixkey_wayland_test_client: the compositor lacks wl_compositor, wl_shm or xdg_wm_base\n");
        return 1;
    }
    c.surface = wl_compositor_create_surface(c.compositor);
    c.xdgSurface = xdg_wm_base_get_xdg_surface(c.wmBase, c.surface);
    xdg_surface_add_listener(c.xdgSurface, &surfaceListener, &c);
    c.toplevel = xdg_surface_get_toplevel(c.xdgSurface);
    xdg_toplevel_add_listener(c.toplevel, &toplevelListener, &c);
    xdg_toplevel_set_app_id(c.toplevel, appId.c_str());
    xdg_toplevel_set_title(c.toplevel, title.c_str());
    wl_surface_commit(c.surface);

    while (!c.closed && wl_display_dispatch(c.display) >= 0) {
    }
    if (c.keys)
        std::fclose(c.keys);
    wl_display_disconnect(c.display);
    return 0;
}
