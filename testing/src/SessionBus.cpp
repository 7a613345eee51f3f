#include <pixkey/test/SessionBus.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace pixkey::test {

namespace {

std::string xmlEscaped(const std::string &text)
{
    std::string out;
    for (char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out += c;
        }
    }
    return out;
}

} // namespace

SessionBus::SessionBus(Options options)
{
    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/pixkey-bus-XXXXXX";
    if (!::mkdtemp(pattern.data())) {
        m_error = "no temporary folder for the session bus";
        return;
    }
    m_folder = pattern;
    {
        std::ofstream config(configFile());
        config << "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                  " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                  "<busconfig>\n"
                  "  <type>session</type>\n"
                  "  <keep_umask/>\n"
                  "  <listen>unix:dir="
               << xmlEscaped(m_folder)
               << "</listen>\n"
                  "  <auth>EXTERNAL</auth>\n";
        for (const std::string &folder : options.serviceFolders)
            config << "  <servicedir>" << xmlEscaped(folder) << "</servicedir>\n";
        config << "  <policy context=\"default\">\n"
                  "    <allow send_destination=\"*\" eavesdrop=\"true\"/>\n"
                  "    <allow eavesdrop=\"true\"/>\n"
                  "    <allow own=\"*\"/>\n"
                  "  </policy>\n"
                  "</busconfig>\n";
        if (!config) {
            m_error = "cannot write " + configFile();
            return;
        }
    }
    ServiceProcess::Options daemon;
    daemon.program = "dbus-daemon";
    daemon.arguments = {"--nofork", "--nopidfile", "--config-file=" + configFile(), "--print-address=3"};
    daemon.notifyFd = 3;
    daemon.name = "private session bus";
    // Its activated services must not find the user's bus either.
    daemon.unset = {"DBUS_SESSION_BUS_ADDRESS"};
    m_daemon = std::make_unique<ServiceProcess>(std::move(daemon));
    if (ServiceProcess::find("dbus-daemon").empty()) {
        m_error = "dbus-daemon is not installed (scripts/install-deps.sh installs dbus)";
        return;
    }
    if (auto started = m_daemon->start(Probe::notifyLine()); !started) {
        m_error = started.message();
        return;
    }
    m_address = m_daemon->notification();
    m_address.erase(m_address.find_last_not_of(" \n") + 1);
}

SessionBus::~SessionBus()
{
    if (m_exported) {
        if (m_hadAddress)
            ::setenv("DBUS_SESSION_BUS_ADDRESS", m_previousAddress.c_str(), 1);
        else
            ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
    if (m_daemon)
        m_daemon->stop();
    if (!m_folder.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(m_folder, ignored);
    }
}

void SessionBus::exportAddress()
{
    if (m_address.empty())
        return;
    if (!m_exported) {
        const char *previous = std::getenv("DBUS_SESSION_BUS_ADDRESS");
        m_hadAddress = previous != nullptr;
        m_previousAddress = previous ? previous : "";
        m_exported = true;
    }
    ::setenv("DBUS_SESSION_BUS_ADDRESS", m_address.c_str(), 1);
}

} // namespace pixkey::test
