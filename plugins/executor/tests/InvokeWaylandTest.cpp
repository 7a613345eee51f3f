// Pressing a Hotkey key on a wlroots compositor: sway started headless by the test support, a
// focused test window that records the keys it receives, and the shortcut typed through the
// compositor's virtual keyboard.
#include "HotkeyPlugin.h"

#include <pixkey/test/HeadlessCompositor.h>
#include <pixkey/utility/CHotkey.h>
#include <pixkey/utility/KeySending.h>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

std::vector<std::string> readLines(const std::string &path)
{
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);)
        if (!line.empty())
            lines.push_back(line);
    return lines;
}

template<typename Condition>
bool waitFor(Condition condition, std::chrono::milliseconds deadline = 10s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(20ms);
    }
    return true;
}

class ExecutorInvokeWayland : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder the compositor's user may write to, for what its key binding runs.
        m_folder = std::filesystem::temp_directory_path() / ("pixkey-keys-" + std::to_string(getpid()));
        std::filesystem::create_directories(m_folder);
        ::chmod(m_folder.c_str(), 0777);
        m_bound = m_folder + "/bound";

        pixkey::test::HeadlessCompositor::Options options;
        // A compositor binding sees the combination only with the modifier state the keyboard
        // reports, so it shows that the modifiers travel, not just their keys.
        options.swayConfig = {"bindsym Ctrl+Alt+F9 exec touch " + m_bound};
        m_sway = std::make_unique<pixkey::test::HeadlessCompositor>(options);
        if (!m_sway->running())
            GTEST_SKIP() << m_sway->skipReason();
        m_sway->exportEnvironment();
        setenv("XDG_SESSION_TYPE", "wayland", 1);
        setenv("XDG_CURRENT_DESKTOP", "sway", 1);
        pixkey::ResetKeySending();
    }

    void TearDown() override
    {
        pixkey::ResetKeySending(); // closes the connection before the compositor goes
        m_sway.reset();
        unsetenv("XDG_SESSION_TYPE");
        unsetenv("XDG_CURRENT_DESKTOP");
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }

    std::unique_ptr<pixkey::test::HeadlessCompositor> m_sway;
    std::string m_folder;
    std::string m_bound;
};

TEST_F(ExecutorInvokeWayland, PressingTheKeyTypesTheShortcutIntoTheFocusedWindow)
{
    const std::string keys = m_folder + "/keys";
    pixkey::test::ServiceProcess editor(m_sway->clientOptions("editor", keys));
    ASSERT_TRUE(editor.start(pixkey::test::Probe::outputContains("mapped"), 10s));

    // Choosing the way connects the virtual keyboard. The headless seat has no keyboard before
    // it, so the window gets the keyboard focus only now.
    const pixkey::CapabilityReport report = pixkey::KeySendingCapability();
    EXPECT_EQ(pixkey::CurrentKeySendingRoute(), pixkey::KeySendingRoute::VirtualKeyboard);
    EXPECT_EQ(report.state, pixkey::CapabilityState::Working) << report.how;
    ASSERT_TRUE(editor.waitForOutput("focus in", 10s)) << editor.output();

    executor::HotkeyPlugin plugin;
    ASSERT_EQ(plugin.SetProperty("Hotkey", "Ctrl+S"), 1);
    plugin.OnKeyDown();
    ASSERT_TRUE(waitFor([&] { return readLines(keys).size() >= 2; })) << editor.output();
    EXPECT_EQ(readLines(keys), (std::vector<std::string>{"Control_L", "s"}));

    // A second press reuses the keyboard; the default Ctrl+C of a fresh key arrives too.
    executor::HotkeyPlugin fresh;
    fresh.OnKeyDown();
    ASSERT_TRUE(waitFor([&] { return readLines(keys).size() >= 4; })) << editor.output();
    EXPECT_EQ(readLines(keys), (std::vector<std::string>{"Control_L", "s", "Control_L", "c"}));

    // With the modifiers' state: the compositor's own Ctrl+Alt+F9 binding fires.
    executor::HotkeyPlugin bound;
    ASSERT_EQ(bound.SetProperty("Hotkey", "Ctrl+Alt+F9"), 1);
    bound.OnKeyDown();
    EXPECT_TRUE(waitFor([&] { return std::filesystem::exists(m_bound); })) << m_sway->process()->output();
}

TEST_F(ExecutorInvokeWayland, APressAfterTheCompositorWentAwayFailsWithoutHanging)
{
    executor::HotkeyPlugin plugin;
    ASSERT_EQ(plugin.SetProperty("Hotkey", "Ctrl+Alt+F9"), 1);
    plugin.OnKeyDown();
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(m_bound); }));

    // The compositor ends under the open connection: the press is refused at once, and so is the
    // next, which finds nothing to connect to.
    m_sway->stop();
    for (int press = 0; press < 2; ++press) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(pixkey::CHotkey(pixkey::CHotkey::Ctrl, 0x53).Invoke()) << "press " << press;
        EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
    }
}

} // namespace
