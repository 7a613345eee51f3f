#include "SoundServer.h"

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <stdexcept>

#include <sys/wait.h>

namespace volume::test {

using pixkey::test::Probe;
using pixkey::test::ServiceProcess;
using namespace std::chrono_literals;

SoundServer::SoundServer()
{
    char pattern[] = "/tmp/pixkey-volume-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("no temporary folder");
    m_folder = pattern;
    for (const char *sub : {"/runtime", "/state", "/home"})
        std::filesystem::create_directories(m_folder + sub);
    m_address = "unix:" + m_folder + "/runtime/native";
}

SoundServer::~SoundServer()
{
    m_process.reset();
    std::error_code ignored;
    std::filesystem::remove_all(m_folder, ignored);
}

::testing::AssertionResult SoundServer::start()
{
    ServiceProcess::Options o;
    o.program = "pulseaudio";
    o.name = "pulseaudio";
    // -n: no default script, only the modules named here. Running as root is allowed outside
    // --system mode, with a warning; everything it writes stays in the private folders.
    o.arguments = {"--daemonize=no", "-n", "--exit-idle-time=-1", "--disallow-exit", "--use-pid-file=no",
                   "--disable-shm=yes", "--log-target=stderr",
                   "--load=module-null-sink sink_name=pixkey_null",
                   "--load=module-native-protocol-unix auth-anonymous=1 socket=" + m_folder + "/runtime/native"};
    o.environment = {"HOME=" + m_folder + "/home", "XDG_RUNTIME_DIR=" + m_folder + "/runtime",
                     "PULSE_RUNTIME_PATH=" + m_folder + "/runtime/pulse", "PULSE_STATE_PATH=" + m_folder + "/state",
                     "XDG_CONFIG_HOME=" + m_folder + "/home/.config"};
    o.unset = {"PULSE_SERVER", "DBUS_SESSION_BUS_ADDRESS", "DISPLAY"};
    o.stopDeadline = 3000ms;
    m_process = std::make_unique<ServiceProcess>(o);
    return m_process->start(Probe::unixSocket(m_folder + "/runtime/native"), 20s);
}

void SoundServer::kill()
{
    if (m_process)
        m_process->kill();
}

std::string SoundServer::deadAddress() const
{
    return "unix:" + m_folder + "/runtime/nobody-here";
}

std::string SoundServer::pactl(const std::vector<std::string> &arguments) const
{
    ServiceProcess::Options o;
    o.program = "pactl";
    o.arguments = arguments;
    o.environment = {"PULSE_SERVER=" + m_address, "HOME=" + m_folder + "/home"};
    ServiceProcess client(o);
    if (!client.start())
        return "pactl failed: " + client.error();
    const auto status = client.waitForExit(10s);
    if (!status || !WIFEXITED(*status) || WEXITSTATUS(*status) != 0)
        return "pactl failed: " + client.output();
    return client.output();
}

std::vector<unsigned> SoundServer::sinkVolume(const std::string &sink) const
{
    // "Volume: front-left: 6553 /  10% / -60.00 dB,   front-right: ..."
    const std::string text = pactl({"get-sink-volume", sink});
    std::vector<unsigned> channels;
    static const std::regex channel(R"(([a-z-]+): (\d+) /)");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), channel); it != std::sregex_iterator(); ++it)
        channels.push_back(unsigned(std::stoul((*it)[2].str())));
    return channels;
}

bool SoundServer::sinkMuted(const std::string &sink) const
{
    return pactl({"get-sink-mute", sink}).find("Mute: yes") != std::string::npos;
}

void SoundServer::setSinkVolume(const std::vector<unsigned> &channels, const std::string &sink) const
{
    std::vector<std::string> arguments{"set-sink-volume", sink};
    for (unsigned value : channels)
        arguments.push_back(std::to_string(value));
    pactl(arguments);
}

void SoundServer::setSinkMuted(bool muted, const std::string &sink) const
{
    pactl({"set-sink-mute", sink, muted ? "1" : "0"});
}

} // namespace volume::test
