#include "PluginCallGuard.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <mutex>
#include <thread>
#include <vector>

namespace pixkey {
namespace {

using test::loadPlugin;
using test::pixelAt;

// Collects what the guards report, and restores the default sink afterwards.
class GuardTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        PluginCallGuard::setErrorSink([this](const std::string &message) {
            std::lock_guard lock(m_mutex);
            m_messages.push_back(message);
        });
    }
    void TearDown() override { PluginCallGuard::setErrorSink({}); }

    std::vector<std::string> messages()
    {
        std::lock_guard lock(m_mutex);
        return m_messages;
    }

    std::mutex m_mutex;
    std::vector<std::string> m_messages;
};

std::string property(PluginCallGuard &guard, int i)
{
    std::string name, value;
    return guard.GetProperty(PKX_PROPERTY_INSTANCE_BASE + i, name, value) ? value : std::string();
}

TEST_F(GuardTest, ExceptionAndFaultsKillTheObjectAndAreReportedByOperation)
{
    struct Case {
        const char *mode;
        const char *operation;
    };
    // The second fault of the same kind on this thread must be caught like the first: the trap
    // leaves no fault signal blocked behind it.
    for (const Case &c : {Case{"throw-paint", "Paint"}, Case{"segv-paint", "Paint"}, Case{"fpe-paint", "Paint"},
                          Case{"throw-keydown", "OnKeyDown"}, Case{"segv-paint", "Paint"}, Case{"fpe-paint", "Paint"}}) {
        SCOPED_TRACE(c.mode);
        m_messages.clear();
        PluginCallGuard guard;
        ASSERT_TRUE(guard.Create(loadPlugin("pixkey_test_scripted.pkx"), 1));
        guard.SetProperty("mode", c.mode);
        QImage face = test::solidFace(0x000000);
        if (std::string(c.operation) == "Paint")
            EXPECT_EQ(guard.Paint(face), 1) << "the failure face is sent";
        else
            guard.OnKeyDown();
        EXPECT_FALSE(guard.isAlive());
        EXPECT_EQ(messages(), std::vector<std::string>{std::string("Plugin operation failed: ") + c.operation});
        // Dead: nothing reaches the object any more.
        EXPECT_EQ(guard.GetInfo(PKX_INFO_HAS_PROPERTIES), 0);
        EXPECT_EQ(property(guard, 0), "");
        EXPECT_EQ(guard.SetProperty("mode", "normal"), 0);
        EXPECT_EQ(messages().size(), 1u);
        guard.Delete(); // still frees the object through its library
        EXPECT_EQ(guard.object(), nullptr);
    }
}

TEST_F(GuardTest, AStackOverflowIsContainedOnItsOwnThread)
{
    auto library = loadPlugin("pixkey_test_scripted.pkx");
    std::thread paint([&] {
        PluginCallGuard guard;
        guard.Create(library, 1);
        guard.SetProperty("mode", "overflow-paint");
        QImage face = test::solidFace(0);
        EXPECT_EQ(guard.Paint(face), 1);
        EXPECT_FALSE(guard.isAlive());
    });
    paint.join();
    EXPECT_EQ(messages(), std::vector<std::string>{"Plugin operation failed: Paint"});
}

TEST_F(GuardTest, FaultsAreContainedOnEveryThreadAtOnce)
{
    auto library = loadPlugin("pixkey_test_scripted.pkx");
    std::vector<std::thread> threads;
    std::atomic<int> contained{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            PluginCallGuard guard;
            guard.Create(library, 1);
            guard.SetProperty("mode", t % 2 ? "segv-paint" : "throw-paint");
            QImage face = test::solidFace(0);
            for (int i = 0; i < 3; ++i)
                guard.Paint(face);
            contained += guard.isAlive() ? 0 : 1;
            guard.Delete();
        });
    }
    for (auto &thread : threads)
        thread.join();
    EXPECT_EQ(contained, 4);
    EXPECT_EQ(messages().size(), 4u);
}

TEST_F(GuardTest, FailureFaceIsDrawnOnceAndAgainAfterEachActivation)
{
    PluginCallGuard guard;
    guard.Create(loadPlugin("pixkey_test_scripted.pkx"), 1);
    guard.SetProperty("mode", "throw-paint");
    const QImage shown = test::solidFace(0xC86432); // what the key shows: 200, 100, 50
    QImage face = test::solidFace(0xFFFFFF);         // stale back picture; must not be used
    ASSERT_EQ(guard.Paint(face, &shown), 1);
    EXPECT_EQ(pixelAt(face, 0, 0), 0x502814u) << "every channel x 2 / 5: 80, 40, 20";
    EXPECT_EQ(pixelAt(face, 46, 46), 0x502814u) << "the icon starts at (47, 47)";
    EXPECT_EQ(pixelAt(face, 95, 95), 0x502814u) << "the icon is 48x48";
    EXPECT_NE(pixelAt(face, 71, 71), 0x502814u) << "the icon is drawn";
    EXPECT_TRUE(guard.failureFaceShown());

    QImage again = test::solidFace(0x123456);
    EXPECT_EQ(guard.Paint(again), 0);
    EXPECT_EQ(pixelAt(again, 0, 0), 0x123456u) << "later paints leave the picture alone";

    EXPECT_EQ(guard.OnEvent(PKX_EVENT_DEACTIVATE), 0);
    EXPECT_EQ(guard.Paint(again), 0);
    guard.OnEvent(PKX_EVENT_ACTIVATE);
    QImage fresh = test::solidFace(0);
    EXPECT_EQ(guard.Paint(fresh), 1);
    EXPECT_EQ(pixelAt(fresh, 0, 0), 0u);
    EXPECT_EQ(messages().size(), 1u) << "a dead object is not called again, so nothing new fails";
}

TEST_F(GuardTest, FailedCreateIsDeadAndShowsTheFailureFace)
{
    PluginCallGuard guard;
    EXPECT_FALSE(guard.Create(nullptr, 1));
    QImage face = test::solidFace(0);
    EXPECT_EQ(guard.Paint(face), 1);
    EXPECT_EQ(guard.Paint(face), 0);
}

TEST_F(GuardTest, TextsPropertiesAndImagesAreBoundedAndContained)
{
    PluginCallGuard guard;
    ASSERT_TRUE(guard.Create(loadPlugin("pixkey_test_unruly.pkx"), 1));

    const auto name = guard.GetInfoText(PKX_INFO_NAME);
    ASSERT_TRUE(name);
    EXPECT_EQ(name->size(), PluginCallGuard::kMaxInfoText);
    EXPECT_EQ(guard.GetInfoText(PKX_INFO_AUTHOR), std::nullopt) << "not answered";

    std::string key, value;
    ASSERT_TRUE(guard.GetProperty(PKX_PROPERTY_INSTANCE_BASE, key, value));
    EXPECT_EQ(key, std::string(255, 'n'));
    EXPECT_EQ(value, std::string(255, 'v'));
    EXPECT_FALSE(guard.GetProperty(PKX_PROPERTY_INSTANCE_BASE + 1, key, value));

    EXPECT_TRUE(guard.GetInfoImage(PKX_INFO_SMALL_ICON).isNull()) << "a header that lies is refused";
    const QImage icon = guard.GetInfoImage(PKX_INFO_LARGE_ICON);
    ASSERT_EQ(icon.size(), QSize(32, 32));
    EXPECT_EQ(icon.pixel(5, 5), qRgba(0x30, 0x20, 0x10, 0xFF));
    EXPECT_TRUE(guard.isAlive());
    EXPECT_TRUE(messages().empty());

    // A text pointer the plug-in cannot back is a failed call, not a crash.
    EXPECT_EQ(guard.GetInfoText(PKX_INFO_DESCRIPTION), std::nullopt);
    EXPECT_FALSE(guard.isAlive());
    EXPECT_EQ(messages(), std::vector<std::string>{"Plugin operation failed: GetInfo"});
    guard.Delete();
}

TEST_F(GuardTest, EachFunctionOfALibraryIsItsOwnObject)
{
    auto library = loadPlugin("pixkey_test_three.pkx");
    PluginCallGuard describing;
    describing.Create(library, 0);
    EXPECT_EQ(describing.GetInfo(PKX_INFO_FUNCTION_COUNT), 3);
    const char *const names[] = {"First", "Second", "Third"};
    for (int f = 1; f <= 3; ++f) {
        PluginCallGuard function;
        function.Create(library, f);
        EXPECT_EQ(function.GetInfoText(PKX_INFO_NAME), names[f - 1]);
        function.Delete();
    }
    describing.Delete();
}

using GuardDeathTest = GuardTest;

TEST_F(GuardDeathTest, FaultsOutsideGuardedCallsStillEndTheProgram)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            PluginCallGuard guard; // installs the handlers
            guard.Create(loadPlugin("pixkey_test_scripted.pkx"), 1);
            guard.SetProperty("mode", "segv-paint");
            QImage face = test::solidFace(0);
            guard.Paint(face);
            std::raise(SIGSEGV);
        },
        [](int status) { return WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) != 0); }, "");
}

} // namespace
} // namespace pixkey
