#include "ProgramProbe.h"

#include <pixkey/utility/DesktopOpener.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <vector>

namespace slideshow {

namespace {

std::string readSmallFile(const std::string &path, std::size_t limit)
{
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    std::string text(limit, '\0');
    const ssize_t got = read(fd, text.data(), limit);
    close(fd);
    text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
    return text;
}

} // namespace

ProgramProbe::ProgramProbe(std::string processName) : m_processName(std::move(processName)) {}

bool ProgramProbe::matches(pid_t pid) const
{
    const std::string dir = "/proc/" + std::to_string(pid);
    struct stat info {};
    if (stat(dir.c_str(), &info) != 0 || info.st_uid != getuid())
        return false;
    std::string name = readSmallFile(dir + "/comm", 64);
    while (!name.empty() && (name.back() == '\n' || name.back() == '\0'))
        name.pop_back();
    if (name != m_processName)
        return false;
    // A program that ended but was not reaped yet no longer runs.
    const std::string stat = readSmallFile(dir + "/stat", 512);
    const std::size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

pid_t ProgramProbe::find()
{
    if (m_known > 0 && matches(m_known))
        return m_known;
    m_known = 0;
    DIR *proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent *entry = readdir(proc)) {
        char *end = nullptr;
        const long pid = std::strtol(entry->d_name, &end, 10);
        if (pid <= 0 || *end != '\0')
            continue;
        if (matches(static_cast<pid_t>(pid))) {
            m_known = static_cast<pid_t>(pid);
            break;
        }
    }
    closedir(proc);
    return m_known;
}

bool ProgramProbe::requestPipe(pid_t pid, const std::string &pipeName)
{
    const std::string dir = "/proc/" + std::to_string(pid);
    char exe[4096];
    const ssize_t length = readlink((dir + "/exe").c_str(), exe, sizeof exe - 1);
    if (length <= 0)
        return false;
    std::string launcher(exe, static_cast<std::size_t>(length));
    launcher = launcher.substr(0, launcher.rfind('/') + 1) + "soffice";
    if (access(launcher.c_str(), X_OK) != 0)
        return false;

    // The running office's profile, so the request reaches that instance instead of starting one.
    std::vector<std::string> arguments;
    const std::string commandLine = readSmallFile(dir + "/cmdline", 64 * 1024);
    std::size_t start = 0;
    while (start < commandLine.size()) {
        const std::size_t end = commandLine.find('\0', start);
        const std::string argument = commandLine.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (argument.rfind("-env:UserInstallation=", 0) == 0)
            arguments.push_back(argument);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    arguments.push_back("--accept=pipe,name=" + pipeName + ";urp;");
    return pixkey::StartDetached(launcher, arguments);
}

} // namespace slideshow
