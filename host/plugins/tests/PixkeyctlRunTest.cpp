// pixkeyctl run, end to end: the program against the emulated keypad.
#include "TestSupport.h"

#include <pixkey/test/EmulatedKeypad.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace pixkey {
namespace {

using namespace std::chrono_literals;
using test::pluginPath;

// One pixkeyctl process; stderr goes to a file.
class Ctl {
public:
    explicit Ctl(std::vector<std::string> args)
    {
        m_stderr = (std::filesystem::temp_directory_path() / ("pixkeyctl-run-" + std::to_string(getpid()) + "-"
                                                              + std::to_string(++s_count) + ".err")).string();
        args.insert(args.begin(), PIXKEYCTL_PATH);
        m_pid = fork();
        if (m_pid == 0) {
            const int fd = open(m_stderr.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            std::vector<char *> argv;
            for (auto &a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            setenv("QT_QPA_PLATFORM", "offscreen", 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    ~Ctl()
    {
        if (m_pid > 0 && !m_status) {
            kill(m_pid, SIGKILL);
            waitpid(m_pid, nullptr, 0);
        }
        std::filesystem::remove(m_stderr);
    }
    void signal(int sig) { kill(m_pid, sig); }
    pid_t pid() const { return m_pid; }
    // The exit status, or nullopt when still running after `limit`.
    std::optional<int> wait(std::chrono::milliseconds limit = 20s)
    {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (!m_status) {
            int status = 0;
            if (waitpid(m_pid, &status, WNOHANG) == m_pid)
                m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            else if (std::chrono::steady_clock::now() >= deadline)
                return std::nullopt;
            else
                std::this_thread::sleep_for(5ms);
        }
        return m_status;
    }
    std::string errors() const
    {
        std::ifstream in(m_stderr);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }

private:
    static inline int s_count = 0;
    pid_t m_pid = -1;
    std::optional<int> m_status;
    std::string m_stderr;
};

class PixkeyctlRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(keypad.start());
        link = keypad.linkPath();
    }

    // Red, green and blue of pixel (x, y) of device key `key` as the emulator shows it.
    std::array<int, 3> shown(int key, int x = 48, int y = 48)
    {
        const auto rgb = emulator->shownFrameRgb(key);
        const size_t at = (size_t(y) * 96 + size_t(x)) * 3;
        return {rgb[at], rgb[at + 1], rgb[at + 2]};
    }
    bool keyBecomes(int key, const std::function<bool(std::array<int, 3>)> &test)
    {
        return emulator->waitUntil([&] { return test(shown(key)); }, 10s);
    }

    test::EmulatedKeypad keypad;
    KeypadEmulator *const emulator = &keypad.emulator();
    std::string link;
};

const auto red = [](std::array<int, 3> c) { return c[0] > 100 && c[1] == 0 && c[2] == 0; };
const auto green = [](std::array<int, 3> c) { return c[1] > 100 && c[0] == 0 && c[2] == 0; };
const auto blue = [](std::array<int, 3> c) { return c[2] > 100 && c[0] == 0 && c[1] == 0; };

TEST_F(PixkeyctlRun, PutsInstancesOnTheKeysRoutesPressesAndStopsCleanly)
{
    const std::string scripted = pluginPath("pixkey_test_scripted.pkx");
    Ctl ctl({"--port", link, "run", scripted + "@colour=0xFF0000", "-",
             scripted + ":20@colour=0x0000FF@pressed=0x00FF00"});
    ASSERT_TRUE(keyBecomes(1, red)) << ctl.errors();
    ASSERT_TRUE(keyBecomes(3, blue)) << ctl.errors();
    EXPECT_EQ(shown(2), (std::array<int, 3>{0, 0, 0})) << "a missing plug-in leaves its key black";

    emulator->press(3);
    EXPECT_TRUE(keyBecomes(3, green)) << "the press reaches the instance on key 3";
    EXPECT_TRUE(red(shown(1))) << "and only that one";

    ctl.signal(SIGTERM);
    EXPECT_EQ(ctl.wait(), 0) << ctl.errors();
    EXPECT_FALSE(emulator->displayOn()) << "displays off on the way out";
}

// Times the main thread of `pid` went to sleep so far (it sleeps once per wake-up).
long mainThreadSleeps(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/task/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::stol(line.substr(line.find(':') + 1));
    return -1;
}

TEST_F(PixkeyctlRun, TheMainThreadSleepsUntilAFaceASignalOrTheLinkWakesIt)
{
    // Faces that never change after the first: nothing should wake the main thread afterwards.
    const std::string scripted = pluginPath("pixkey_test_scripted.pkx");
    Ctl quiet({"--port", link, "run", scripted + "@colour=0xFF0000@result=0"});
    ASSERT_TRUE(keyBecomes(1, red)) << quiet.errors();
    const long before = mainThreadSleeps(quiet.pid());
    std::this_thread::sleep_for(2s);
    const long after = mainThreadSleeps(quiet.pid());
    ASSERT_GE(before, 0);
    EXPECT_LT(after - before, 20) << "a main loop that polls wakes a hundred times a second";
    quiet.signal(SIGINT);
    EXPECT_EQ(quiet.wait(), 0) << quiet.errors();

    // A keypad that goes away ends the run with the reason.
    Ctl lost({"--port", link, "run", scripted + "@colour=0x0000FF"});
    ASSERT_TRUE(keyBecomes(1, blue)) << lost.errors();
    emulator->unplug();
    EXPECT_EQ(lost.wait(), 1);
    EXPECT_NE(lost.errors().find("pixkeyctl: the link to the keypad was lost"), std::string::npos) << lost.errors();
}

TEST_F(PixkeyctlRun, PropertyValuesMayHoldFolders)
{
    // ImagePath=/some/folder/picture.png must not be taken as part of the library's path.
    const std::string scripted = pluginPath("pixkey_test_scripted.pkx");
    Ctl ctl({"--port", link, "run", scripted + ":1@note=/tmp/a:b/c.png@colour=0xFF0000"});
    ASSERT_TRUE(keyBecomes(1, red)) << ctl.errors();
    ctl.signal(SIGTERM);
    EXPECT_EQ(ctl.wait(), 0) << ctl.errors();
}

TEST_F(PixkeyctlRun, APluginThatWillNotLoadIsOneLineAndExit1)
{
    const auto notAPlugin = std::filesystem::temp_directory_path() / ("pixkey-text-" + std::to_string(getpid()) + ".pkx");
    std::ofstream(notAPlugin) << "plain text\n";
    const std::string noDelete = pluginPath("pixkey_test_nodelete.pkx");
    for (const std::string &file : {notAPlugin.string(), noDelete, std::string("/nonexistent/Gone.pkx")}) {
        SCOPED_TRACE(file);
        Ctl ctl({"--port", link, "run", pluginPath("pixkey_test_scripted.pkx"), file});
        EXPECT_EQ(ctl.wait(), 1);
        std::string errors = ctl.errors();
        std::string line;
        std::istringstream lines(errors);
        bool found = false;
        while (std::getline(lines, line))
            found = found || (line.rfind("pixkeyctl: cannot load plug-in " + file + ": ", 0) == 0);
        EXPECT_TRUE(found) << errors;
    }
    std::filesystem::remove(notAPlugin);
    EXPECT_EQ(emulator->packetCount(KeypadEmulator::WriteLine), 0) << "nothing runs when a plug-in is refused";
}

TEST_F(PixkeyctlRun, RejectsMalformedArguments)
{
    const std::string scripted = pluginPath("pixkey_test_scripted.pkx");
    for (const std::vector<std::string> &args :
         {std::vector<std::string>{"run"}, {"run", scripted, scripted, scripted, scripted},
          {"run", scripted + "@colour"}, {"run", scripted + ":x"}, {"run", scripted + ":0"}}) {
        Ctl ctl([&] {
            std::vector<std::string> all{"--port", link};
            all.insert(all.end(), args.begin(), args.end());
            return all;
        }());
        EXPECT_EQ(ctl.wait(), 64) << ctl.errors();
    }
}

} // namespace
} // namespace pixkey
