#include "pixkey/utility/DesktopOpener.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace pixkey {

namespace {

bool isExecutableFile(const std::string &path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

bool startsWithCaseless(const std::string &text, const char *prefix)
{
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

} // namespace

bool IsWebAddress(const std::string &address)
{
    return startsWithCaseless(address, "http://") || startsWithCaseless(address, "https://");
}

std::string FindProgram(const std::string &program)
{
    if (program.empty())
        return {};
    if (program.find('/') != std::string::npos)
        return isExecutableFile(program) ? program : std::string();
    const char *path = std::getenv("PATH");
    std::string folders = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        std::size_t end = folders.find(':', start);
        if (end == std::string::npos)
            end = folders.size();
        std::string folder = folders.substr(start, end - start);
        if (folder.empty())
            folder = ".";
        std::string candidate = folder + '/' + program;
        if (isExecutableFile(candidate))
            return candidate;
        start = end + 1;
    }
    return {};
}

bool StartDetached(const std::string &program, const std::vector<std::string> &arguments)
{
    const std::string path = FindProgram(program);
    if (path.empty())
        return false;

    // Everything the child needs is prepared before fork: between fork and exec only
    // async-signal-safe calls are made, since other threads may hold locks.
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(program);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);

    // The exec status travels back over a close-on-exec pipe: an empty read means exec worked.
    int status[2];
    if (pipe2(status, O_CLOEXEC) != 0)
        return false;

    const pid_t child = fork();
    if (child < 0) {
        close(status[0]);
        close(status[1]);
        return false;
    }
    if (child == 0) {
        // The intermediate child starts the program in a new session and ends at once, so the
        // program is adopted by init and never waited for by the caller.
        setsid();
        const pid_t grandchild = fork();
        if (grandchild != 0)
            _exit(grandchild < 0 ? 1 : 0);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, STDIN_FILENO);
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
            if (null > STDERR_FILENO)
                close(null);
        }
        close(status[0]);
        execv(path.c_str(), argv.data());
        const int error = errno;
        (void)!write(status[1], &error, sizeof error);
        _exit(127);
    }

    close(status[1]);
    int childStatus = 0;
    while (waitpid(child, &childStatus, 0) < 0 && errno == EINTR) {
    }
    int error = 0;
    ssize_t got;
    do {
        got = read(status[0], &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    close(status[0]);
    return WIFEXITED(childStatus) && WEXITSTATUS(childStatus) == 0 && got == 0;
}

bool OpenWithDesktop(const std::string &target)
{
    if (target.empty() || target.front() == '-')
        return false;
    return StartDetached("xdg-open", {target});
}

} // namespace pixkey
