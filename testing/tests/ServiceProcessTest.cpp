// ServiceProcess against small real programs (sh, sleep): probes, failures that carry the
// program's own output, environment and folder, and stopping by TERM and by KILL.
#include <pixkey/test/ServiceProcess.h>

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>

using namespace std::chrono_literals;
using pixkey::test::Probe;
using pixkey::test::ServiceProcess;

namespace {

ServiceProcess shell(const std::string &script)
{
    return ServiceProcess("sh", {"-c", script});
}

std::string freshFolder()
{
    std::string pattern = std::filesystem::temp_directory_path().string() + "/pixkey-service-XXXXXX";
    return ::mkdtemp(pattern.data()) ? pattern : std::string();
}

TEST(ServiceProcess, ProgramThatExitsBeforeReadyFailsWithItsOwnOutput)
{
    ServiceProcess service("sh", {"-c", "echo 'port 7 is taken' >&2; echo starting; exit 3"});
    const auto started = service.start(Probe::file("/nonexistent/ready"), 20s);
    ASSERT_FALSE(started);
    const std::string message = started.message();
    EXPECT_NE(message.find("exited with code 3 before it was ready"), std::string::npos) << message;
    EXPECT_NE(message.find("port 7 is taken"), std::string::npos) << message;
    EXPECT_NE(message.find("starting"), std::string::npos) << message;
    EXPECT_EQ(service.error(), message);
}

TEST(ServiceProcess, ProbeThatNeverHoldsFailsWithOutputNotJustTimeOut)
{
    ServiceProcess service("sh", {"-c", "echo listening on the wrong port; exec sleep 60"});
    const auto started = service.start(Probe::tcpPort(1), 600ms);
    ASSERT_FALSE(started);
    const std::string message = started.message();
    EXPECT_NE(message.find("was not ready within 600 ms"), std::string::npos) << message;
    EXPECT_NE(message.find("TCP port 127.0.0.1:1"), std::string::npos) << message;
    EXPECT_NE(message.find("listening on the wrong port"), std::string::npos) << message;
    EXPECT_TRUE(service.running()) << "a failed probe leaves stopping to the test or the destructor";
}

TEST(ServiceProcess, MissingProgramIsNamed)
{
    ServiceProcess service("pixkey-no-such-program");
    const auto started = service.start();
    ASSERT_FALSE(started);
    EXPECT_NE(std::string(started.message()).find("pixkey-no-such-program not found"), std::string::npos);
}

TEST(ServiceProcess, ProbesOnFilesSocketsAndOutput)
{
    const std::string folder = freshFolder();
    ASSERT_FALSE(folder.empty());
    ServiceProcess file("sh", {"-c", "sleep 0.2; touch ready; exec sleep 60"});
    file.options().workingDirectory = folder;
    ASSERT_TRUE(file.start(Probe::file(folder + "/ready")));

    ServiceProcess said = shell("sleep 0.1; echo up and running; exec sleep 60");
    ASSERT_TRUE(said.start(Probe::outputContains("up and running")));

    // A unix socket that listens makes the probe hold; one nobody listens on keeps it waiting.
    const std::string socketPath = folder + "/service.sock";
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socketPath.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);
    ServiceProcess listening = shell("exec sleep 60");
    EXPECT_TRUE(listening.start(Probe::unixSocket(socketPath), 5s));
    ServiceProcess refused = shell("exec sleep 60");
    EXPECT_FALSE(refused.start(Probe::unixSocket(folder + "/none.sock"), 200ms));
    ::close(listener);
    std::filesystem::remove_all(folder);
}

TEST(ServiceProcess, EnvironmentWorkingFolderAndNotification)
{
    const std::string folder = freshFolder();
    ::setenv("PIXKEY_SERVICE_DROPPED", "1", 1);
    ServiceProcess::Options options;
    options.program = "sh";
    options.arguments = {"-c", "echo \"$PIXKEY_SERVICE_VALUE|${PIXKEY_SERVICE_DROPPED:-gone}|$(pwd)\"; echo ready >&3"};
    options.environment = {"PIXKEY_SERVICE_VALUE=given"};
    options.unset = {"PIXKEY_SERVICE_DROPPED"};
    options.workingDirectory = folder;
    options.notifyFd = 3;
    ServiceProcess service(options);
    ASSERT_TRUE(service.start(Probe::notifyLine()));
    EXPECT_EQ(service.readLine().value_or("none"), "given|gone|" + folder);
    EXPECT_EQ(service.notification(), "ready\n");
    ASSERT_TRUE(service.waitForExit(10s));
    EXPECT_EQ(WEXITSTATUS(*service.exitStatus()), 0);
    ::unsetenv("PIXKEY_SERVICE_DROPPED");
    std::filesystem::remove_all(folder);
}

TEST(ServiceProcess, StopsByTermThenByKill)
{
    ServiceProcess polite("sleep", {"60"});
    ASSERT_TRUE(polite.start());
    const pid_t pid = polite.pid();
    const int status = polite.stop();
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM);
    EXPECT_NE(::kill(pid, 0), 0) << "reaped, not a zombie";

    ServiceProcess::Options stubborn;
    stubborn.program = "sh";
    stubborn.arguments = {"-c", "trap '' TERM; echo trapped; while :; do sleep 0.05; done"};
    stubborn.stopDeadline = 300ms;
    ServiceProcess ignoring(stubborn);
    ASSERT_TRUE(ignoring.start(Probe::outputContains("trapped")));
    const int killed = ignoring.stop();
    EXPECT_TRUE(WIFSIGNALED(killed) && WTERMSIG(killed) == SIGKILL);
    EXPECT_FALSE(ignoring.running());
}

TEST(ServiceProcess, ClosingInputEndsAReader)
{
    ServiceProcess::Options options;
    options.program = "cat";
    options.pipeInput = true;
    ServiceProcess cat(options);
    ASSERT_TRUE(cat.start());
    ASSERT_TRUE(cat.writeInput("one\ntwo\n"));
    EXPECT_EQ(cat.readLine().value_or(""), "one");
    EXPECT_EQ(cat.readLine().value_or(""), "two");
    const int status = cat.stop();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "ended by its closed input, not a signal";
}

} // namespace
