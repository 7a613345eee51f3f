// The switch hotkey through the GlobalShortcuts portal, against a portal from python-dbusmock
// (tests/portals/global_shortcuts.py) on a private session bus: binding and activation, the user
// declining, a portal that never answers, and no portal at all.
#include "GlobalShortcutsPortal.h"

#include <pixkey/test/ServiceProcess.h>
#include <pixkey/test/SessionBus.h>

#include <gtest/gtest.h>

#include <functional>
#include <cstdlib>
#include <memory>

using namespace pixkey;
using namespace std::chrono_literals;

namespace {

const char *const kTemplate = PXKHK_PORTAL_TEMPLATES "/global_shortcuts.py";
constexpr std::uint16_t kCtrl = 2, kAlt = 1, kShift = 4, kWin = 8;

struct Events : DesktopEvents {
    std::vector<std::pair<int, std::uint32_t>> hotkeys;
    void foregroundChanged(unsigned long, int) override {}
    void modifierRowChanged(int) override {}
    void hotkeyPressed(int id, std::uint32_t lParam) override { hotkeys.emplace_back(id, lParam); }
};

// Runs the back end's loop as the hook thread would until `done` holds or `deadline` passed.
bool runUntil(DesktopBackend &backend, Events &events, const std::function<bool()> &done,
              std::chrono::milliseconds deadline = 10s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::vector<pollfd> fds;
        backend.pollFds(fds);
        int timeout = backend.timeoutMs();
        timeout = timeout < 0 ? 50 : std::min(timeout, 50);
        poll(fds.data(), fds.size(), timeout);
        backend.dispatch(events);
    }
    return true;
}

class GlobalShortcutsPortalTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        bus = std::make_unique<test::SessionBus>();
        if (!bus->running())
            return;
        dbusmock = std::system("/usr/bin/python3 -c 'import dbusmock' >/dev/null 2>&1") == 0;
        if (!dbusmock)
            return;
        test::ServiceProcess::Options options;
        options.program = "/usr/bin/python3";
        options.arguments = {"-m", "dbusmock", "--template", kTemplate};
        options.environment = {bus->environmentEntry()};
        options.name = "GlobalShortcuts portal";
        portal = std::make_unique<test::ServiceProcess>(options);
        started = portal->start(test::Probe::dbusName(bus->address(), "org.freedesktop.portal.Desktop"), 20s);
    }
    static void TearDownTestSuite()
    {
        portal.reset();
        bus.reset();
    }

    void SetUp() override
    {
        if (!bus->running())
            GTEST_SKIP() << "no private session bus: " << bus->error();
        if (!dbusmock)
            GTEST_SKIP() << "python3-dbusmock is not installed: the portal tests are skipped";
        ASSERT_TRUE(started) << "python3-dbusmock could not start the portal: " << portal->error();
        ASSERT_TRUE(mockCall("SetBehaviour", "uas", 0u, 0)); // answer everything, bind
    }

    // A blocking call on the mock's test interface.
    template<typename... Args>
    bool mockCall(const char *method, const char *types, Args... args)
    {
        sd_bus *raw = nullptr;
        if (sd_bus_new(&raw) < 0)
            return false;
        sdbus::BusPtr control(raw);
        if (sd_bus_set_address(raw, bus->address().c_str()) < 0 || sd_bus_set_bus_client(raw, 1) < 0
            || sd_bus_start(raw) < 0)
            return false;
        sd_bus_error error = SD_BUS_ERROR_NULL;
        sd_bus_message *reply = nullptr;
        const int r = sd_bus_call_method(raw, "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
                                         "org.freedesktop.DBus.Mock", method, &error, &reply, types, args...);
        sdbus::MessagePtr owned(reply);
        if (r < 0) {
            ADD_FAILURE() << method << ": " << sdbus::errorText(&error);
            sd_bus_error_free(&error);
            return false;
        }
        if (lastReply)
            lastReply(reply);
        return true;
    }

    std::vector<std::pair<std::string, std::string>> boundShortcuts()
    {
        std::vector<std::pair<std::string, std::string>> bound;
        lastReply = [&](sd_bus_message *reply) {
            if (sd_bus_message_enter_container(reply, 'a', "(ss)") <= 0)
                return;
            const char *id = nullptr, *trigger = nullptr;
            while (sd_bus_message_read(reply, "(ss)", &id, &trigger) > 0)
                bound.emplace_back(id, trigger);
        };
        mockCall("BoundShortcuts", "");
        lastReply = nullptr;
        return bound;
    }

    std::unique_ptr<GlobalShortcutsPortal> openPortal(std::chrono::milliseconds responseTimeout = 5s,
                                                      std::chrono::milliseconds confirmTimeout = 5s)
    {
        GlobalShortcutsPortal::Options options;
        options.busAddress = bus->address();
        options.responseTimeout = responseTimeout;
        options.confirmTimeout = confirmTimeout;
        auto backend = std::make_unique<GlobalShortcutsPortal>(options);
        std::string error;
        EXPECT_TRUE(backend->open(error)) << error;
        return backend;
    }

    static CapabilityReport report(const GlobalShortcutsPortal &backend)
    {
        const CapabilityReports reports = backend.capabilities();
        EXPECT_EQ(reports.size(), 1u);
        return reports.empty() ? CapabilityReport{} : reports.front();
    }

    std::function<void(sd_bus_message *)> lastReply;
    static inline std::unique_ptr<test::SessionBus> bus;
    static inline std::unique_ptr<test::ServiceProcess> portal;
    static inline bool started = false;
    static inline bool dbusmock = false;
};

} // namespace

TEST(GlobalShortcutsTrigger, CombinationsInThePortalsTriggerForm)
{
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(kCtrl | kAlt, 0x4B), "CTRL+ALT+k");
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(kWin | kShift, 0x74), "LOGO+SHIFT+F5");
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(kWin | kCtrl | kAlt | kShift, 0x31), "LOGO+CTRL+ALT+SHIFT+1");
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(kCtrl, 0), "");    // modifiers alone bind nothing
    EXPECT_EQ(GlobalShortcutsPortal::preferredTrigger(kCtrl, 0xFF), ""); // a code without a keysym

    EXPECT_EQ(GlobalShortcutsPortal::hotkeyOfShortcutId(GlobalShortcutsPortal::shortcutId(7)), 7);
    for (const char *foreign : {"switch-hotkey-", "switch-hotkey-x", "switch-hotkey-1x", "other-1", "switch-hotkey--1"})
        EXPECT_EQ(GlobalShortcutsPortal::hotkeyOfShortcutId(foreign), -1) << foreign;
}

TEST_F(GlobalShortcutsPortalTest, BindsTheHotkeyAndReportsItsActivation)
{
    auto backend = openPortal();
    Events events;
    // Taken at once, bound when the portal says so; until then the user has a step to take.
    ASSERT_TRUE(backend->registerHotkey(1, kCtrl | kAlt, 0x4B));
    EXPECT_EQ(report(*backend).state, CapabilityState::NeedsStep);
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() != GlobalShortcutsPortal::State::Connecting
                                                        && backend->state() != GlobalShortcutsPortal::State::Ready; }));
    ASSERT_EQ(backend->state(), GlobalShortcutsPortal::State::Bound) << backend->failure();

    const auto bound = boundShortcuts();
    ASSERT_EQ(bound.size(), 1u);
    EXPECT_EQ(bound[0], std::make_pair(std::string("switch-hotkey-1"), std::string("CTRL+ALT+k")));
    const CapabilityReport working = report(*backend);
    EXPECT_EQ(working.state, CapabilityState::Working);
    EXPECT_NE(working.how.find("Press CTRL+ALT+k"), std::string::npos) << working.how; // the desktop's trigger

    // The program's id went to the host registry before the session.
    std::vector<std::string> ids;
    lastReply = [&](sd_bus_message *reply) {
        char **list = nullptr;
        if (sd_bus_message_read_strv(reply, &list) >= 0 && list)
            for (char **it = list; *it; ++it) {
                ids.push_back(*it);
                free(*it);
            }
        free(list);
    };
    mockCall("RegisteredIds", "");
    lastReply = nullptr;
    EXPECT_NE(std::find(ids.begin(), ids.end(), "com.vostrel.PixkeyMini"), ids.end());

    // Activated for our shortcut: the combination it was registered with; for others: nothing.
    ASSERT_TRUE(mockCall("Activate", "s", "switch-hotkey-9"));
    ASSERT_TRUE(mockCall("Activate", "s", "switch-hotkey-1"));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return !events.hotkeys.empty(); }));
    runUntil(*backend, events, [] { return false; }, 100ms); // anything further that arrives
    ASSERT_EQ(events.hotkeys.size(), 1u);
    EXPECT_EQ(events.hotkeys[0], std::make_pair(1, std::uint32_t(0x4B * 65536 + (kCtrl | kAlt))));

    // Unregistered: its activation is no longer reported.
    EXPECT_TRUE(backend->unregisterHotkey(1));
    EXPECT_FALSE(backend->unregisterHotkey(1));
    ASSERT_TRUE(mockCall("Activate", "s", "switch-hotkey-1"));
    runUntil(*backend, events, [] { return false; }, 200ms);
    EXPECT_EQ(events.hotkeys.size(), 1u);
}

TEST_F(GlobalShortcutsPortalTest, ASessionTheDesktopClosedIsMadeAgainWithTheHotkeys)
{
    auto backend = openPortal();
    Events events;
    ASSERT_TRUE(backend->registerHotkey(3, kCtrl | kAlt, 0x4B));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() == GlobalShortcutsPortal::State::Bound; }))
        << backend->failure();
    ASSERT_TRUE(mockCall("CloseSessions", ""));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() != GlobalShortcutsPortal::State::Bound; }));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() == GlobalShortcutsPortal::State::Bound; }))
        << backend->failure();
    // Activation in the new session (the mock's last) reaches the hotkey.
    ASSERT_TRUE(mockCall("Activate", "s", "switch-hotkey-3"));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return !events.hotkeys.empty(); }));
    EXPECT_EQ(events.hotkeys[0].first, 3);
}

TEST_F(GlobalShortcutsPortalTest, UserDecliningLeavesAStepAndAskingAgainBinds)
{
    ASSERT_TRUE(mockCall("SetBehaviour", "uas", 1u, 0)); // the user says no
    auto backend = openPortal();
    Events events;
    ASSERT_TRUE(backend->registerHotkey(1, kCtrl | kShift, 0x4C));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() == GlobalShortcutsPortal::State::Refused; }))
        << backend->failure();
    const CapabilityReport refused = report(*backend);
    EXPECT_EQ(refused.state, CapabilityState::NeedsStep);
    EXPECT_FALSE(refused.step.empty());
    EXPECT_TRUE(backend->usable());

    // Choosing the hotkey again asks again; this time the user agrees.
    ASSERT_TRUE(mockCall("SetBehaviour", "uas", 0u, 0));
    ASSERT_TRUE(backend->registerHotkey(1, kCtrl | kShift, 0x4C));
    ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() == GlobalShortcutsPortal::State::Bound; }))
        << backend->failure();
    EXPECT_EQ(report(*backend).state, CapabilityState::Working);
}

TEST_F(GlobalShortcutsPortalTest, APortalThatNeverAnswersTimesOutWithAClearReport)
{
    for (const char *silent : {"CreateSession", "BindShortcuts"}) {
        SCOPED_TRACE(silent);
        ASSERT_TRUE(mockCall("SetBehaviour", "uas", 0u, 1, silent));
        auto backend = openPortal(300ms, 400ms);
        Events events;
        ASSERT_TRUE(backend->registerHotkey(1, kCtrl | kAlt, 0x4B));
        const auto start = std::chrono::steady_clock::now();
        ASSERT_TRUE(runUntil(*backend, events, [&] { return backend->state() == GlobalShortcutsPortal::State::Failed; }));
        EXPECT_LT(std::chrono::steady_clock::now() - start, 5s); // the time-out, not a hang
        const CapabilityReport failed = report(*backend);
        EXPECT_EQ(failed.state, CapabilityState::Unavailable);
        EXPECT_NE(failed.how.find("did not answer within"), std::string::npos) << failed.how;
        EXPECT_NE(failed.step.find("pixkeyctl switch-layout"), std::string::npos) << failed.step;
        // Kept, so the report stays; a failed portal takes no new hotkeys.
        EXPECT_TRUE(backend->usable());
        EXPECT_FALSE(backend->registerHotkey(2, kCtrl, 0x4D));
    }
}

TEST_F(GlobalShortcutsPortalTest, WithoutAPortalTheHotkeyIsUnavailable)
{
    test::SessionBus empty;
    ASSERT_TRUE(empty.running()) << empty.error();
    GlobalShortcutsPortal::Options options;
    options.busAddress = empty.address();
    GlobalShortcutsPortal backend(options);
    std::string error;
    ASSERT_TRUE(backend.open(error)) << error;
    Events events;
    ASSERT_TRUE(runUntil(backend, events, [&] { return backend.state() == GlobalShortcutsPortal::State::Failed; }));
    EXPECT_EQ(report(backend).state, CapabilityState::Unavailable);
    EXPECT_NE(backend.failure().find("no desktop portal"), std::string::npos) << backend.failure();

    options.busAddress = "unix:path=/nonexistent/bus";
    GlobalShortcutsPortal unreachable(options);
    EXPECT_FALSE(unreachable.open(error));
    EXPECT_FALSE(error.empty());
}
