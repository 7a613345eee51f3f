// Modifier rows from KWin's key states, against a small Wayland server in the test that offers the
// interface and sends the key states the test scripts (KWin 5.27, the one packaged here, offers
// only the older version without the modifier keys).
#include "BackendDriver.h"
#include "WaylandProtocols.h"

#include "kde-keystate-server-protocol.h"

#include <wayland-server.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace pixkey;
using pixkey::test::BackendDriver;

namespace {

// A compositor that offers org_kde_kwin_keystate at `version` and nothing else, on its own thread.
class KeyStateServer {
public:
    KeyStateServer(const std::string &path, std::uint32_t version)
    {
        m_display = wl_display_create();
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
        ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address);
        ::listen(fd, 4);
        wl_display_add_socket_fd(m_display, fd);
        wl_global_create(m_display, &org_kde_kwin_keystate_interface, int(version), this, bind);
        m_thread = std::thread([this] {
            wl_event_loop *loop = wl_display_get_event_loop(m_display);
            while (!m_stop) {
                wl_event_loop_dispatch(loop, 10);
                sendQueued();
                wl_display_flush_clients(m_display);
            }
        });
    }
    ~KeyStateServer()
    {
        m_stop = true;
        m_thread.join();
        wl_display_destroy_clients(m_display);
        wl_display_destroy(m_display);
    }
    // Sends a state change to every bound client (from the server's thread).
    void send(std::uint32_t key, std::uint32_t state)
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_queue.emplace_back(key, state);
    }
    int fetches() const { return m_fetches; }

private:
    static void bind(wl_client *client, void *data, uint32_t version, uint32_t id)
    {
        auto *self = static_cast<KeyStateServer *>(data);
        wl_resource *resource = wl_resource_create(client, &org_kde_kwin_keystate_interface, int(version), id);
        static const struct org_kde_kwin_keystate_interface implementation = {fetchStates, destroy};
        wl_resource_set_implementation(resource, &implementation, self, [](wl_resource *gone) {
            auto *server = static_cast<KeyStateServer *>(wl_resource_get_user_data(gone));
            std::erase(server->m_resources, gone);
        });
        self->m_resources.push_back(resource);
    }
    static void fetchStates(wl_client *, wl_resource *resource)
    {
        auto *self = static_cast<KeyStateServer *>(wl_resource_get_user_data(resource));
        ++self->m_fetches;
        for (std::uint32_t key = 0; key < 8; ++key)
            org_kde_kwin_keystate_send_stateChanged(resource, key, ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED);
    }
    static void destroy(wl_client *, wl_resource *resource) { wl_resource_destroy(resource); }

    void sendQueued()
    {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> queue;
        {
            std::lock_guard<std::mutex> guard(m_lock);
            queue.swap(m_queue);
        }
        for (const auto &[key, state] : queue)
            for (wl_resource *resource : m_resources)
                org_kde_kwin_keystate_send_stateChanged(resource, key, state);
    }

    wl_display *m_display = nullptr;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_fetches{0};
    std::vector<wl_resource *> m_resources; // server thread only
    std::mutex m_lock;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> m_queue; // guarded by m_lock
};

class PxkhkKeyState : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/pxkhk-keystate-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override { std::filesystem::remove_all(folder); }
    std::string folder;
};

} // namespace

TEST_F(PxkhkKeyState, HeldModifiersFromKWinsKeyStatesSelectTheRows)
{
    KeyStateServer server(folder + "/wayland-k", 5);
    WaylandProtocols backend(WaylandProtocols::Options{folder + "/wayland-k", ""});
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    ASSERT_TRUE(backend.hasModifierStates());
    bool reported = false;
    for (const CapabilityReport &report : backend.capabilities())
        reported |= report.capability == DesktopCapability::ModifierRows && report.state == CapabilityState::Working;
    EXPECT_TRUE(reported);
    EXPECT_EQ(server.fetches(), 1) << "the states there are now are asked for at once";

    BackendDriver events;
    using K = std::uint32_t;
    constexpr K alt = ORG_KDE_KWIN_KEYSTATE_KEY_ALT, shift = ORG_KDE_KWIN_KEYSTATE_KEY_SHIFT,
                control = ORG_KDE_KWIN_KEYSTATE_KEY_CONTROL, meta = ORG_KDE_KWIN_KEYSTATE_KEY_META,
                capsLock = ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK;
    constexpr K pressed = ORG_KDE_KWIN_KEYSTATE_STATE_PRESSED, released = ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED,
                locked = ORG_KDE_KWIN_KEYSTATE_STATE_LOCKED;
    const std::vector<std::pair<K, K>> script = {
        {control, pressed},  // Ctrl: 1
        {shift, pressed},    // Ctrl+Shift: 5
        {control, released}, // Shift: 2
        {alt, pressed},      // Alt+Shift: 4
        {capsLock, locked},  // lock keys change nothing
        {meta, pressed},     // nor does Win
        {shift, released},   // Alt: 3
        {control, pressed},  // Ctrl+Alt has no row: 0
        {control, released}, // Alt: 3
        {alt, released},     // none: 0
    };
    for (const auto &[key, state] : script)
        server.send(key, state);
    ASSERT_TRUE(events.runWhileUsable(backend, [&] { return events.rows.size() >= 8; }));
    EXPECT_EQ(events.rows, (std::vector<int>{1, 5, 2, 4, 3, 0, 3, 0}));
}

TEST_F(PxkhkKeyState, AnOlderKeyStateWithoutModifiersIsNotBound)
{
    KeyStateServer server(folder + "/wayland-k", 4);
    WaylandProtocols backend(WaylandProtocols::Options{folder + "/wayland-k", ""});
    std::string error;
    EXPECT_FALSE(backend.open(error)) << "it has nothing else to offer";
    EXPECT_FALSE(backend.hasModifierStates());
    EXPECT_NE(error.find("key states"), std::string::npos) << error;
}
