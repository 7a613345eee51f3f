#include <pixkey/test/HeadlessCompositor.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace pixkey::test {

namespace {

// The user an unprivileged compositor runs as when the tests run as root ("nobody").
constexpr unsigned kUnprivilegedId = 65534;

bool acceptsConnections(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

// The first socket in `folder` whose name starts with `prefix` (and is not a lock file) that
// accepts a connection; empty when none does yet.
std::string findSocket(const std::string &folder, const std::string &prefix, const std::string &suffix = {})
{
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(prefix) || name.ends_with(".lock") || !name.ends_with(suffix))
            continue;
        if (entry.is_socket(error) && acceptsConnections(entry.path().string()))
            return name;
    }
    return {};
}

// Whether `path` on `destination` answers a call of Introspect on the bus at `address` with an
// interface named `interface` (an object exported after the bus name was taken).
bool offers(const std::string &address, const std::string &destination, const std::string &path,
            const std::string &interface)
{
    ServiceProcess ask(ServiceProcess::Options{
        "dbus-send",
        {"--bus=" + address, "--print-reply", "--reply-timeout=2000", "--dest=" + destination, path,
         "org.freedesktop.DBus.Introspectable.Introspect"},
        {}, {}, {}, "dbus-send", -1, false, std::chrono::milliseconds(1000)});
    if (!ask.start())
        return false;
    ask.waitForExit(std::chrono::seconds(5));
    return ask.output().find("\"" + interface + "\"") != std::string::npos;
}

const char *kindName(HeadlessCompositor::Kind kind)
{
    switch (kind) {
    case HeadlessCompositor::Kind::Sway:
        return "sway";
    case HeadlessCompositor::Kind::KWin:
        return "kwin_wayland";
    case HeadlessCompositor::Kind::Mutter:
        return "mutter";
    }
    return "?";
}

} // namespace

HeadlessCompositor::HeadlessCompositor(Options options) : m_options(std::move(options))
{
    const char *program = kindName(m_options.kind);
    if (ServiceProcess::find(program).empty()) {
        m_skipReason = std::string(program) + " is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    const bool unprivileged = ::geteuid() == 0 && m_options.kind == Kind::Sway;
    if (unprivileged && ServiceProcess::find("setpriv").empty()) {
        m_skipReason = "the tests run as root and setpriv (util-linux) is missing to start the compositor unprivileged";
        return;
    }
    char folder[] = "/tmp/pixkey-wayland-XXXXXX";
    if (!::mkdtemp(folder)) {
        m_skipReason = std::string("no runtime folder for the compositor: ") + std::strerror(errno);
        return;
    }
    m_folder = folder;
    ::chmod(folder, 0700);
    if (unprivileged && ::chown(folder, kUnprivilegedId, kUnprivilegedId) != 0) {
        m_skipReason = std::string("cannot hand the runtime folder to the unprivileged user: ") + std::strerror(errno);
        return;
    }
    switch (m_options.kind) {
    case Kind::Sway:
        startSway();
        break;
    case Kind::KWin:
    case Kind::Mutter:
        startDesktopCompositor();
        break;
    }
}

HeadlessCompositor::~HeadlessCompositor()
{
    stop();
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
        if (it->second)
            ::setenv(it->first.c_str(), it->second->c_str(), 1);
        else
            ::unsetenv(it->first.c_str());
    }
    if (!m_folder.empty()) {
        std::error_code error;
        std::filesystem::remove_all(m_folder, error);
    }
}

void HeadlessCompositor::stop()
{
    if (m_process)
        m_process->stop();
}

bool HeadlessCompositor::startSway()
{
    const std::string config = m_folder + "/sway.config";
    {
        std::ofstream out(config);
        out << "output HEADLESS-1 resolution 800x600\n"
               "xwayland disable\n"
               "default_border none\n"
               "focus_on_window_activation focus\n";
        for (const std::string &line : m_options.swayConfig)
            out << line << '\n';
        if (!out) {
            m_skipReason = "cannot write sway's configuration in " + m_folder;
            return false;
        }
    }
    ::chmod(config.c_str(), 0644);

    ServiceProcess::Options sway;
    sway.name = "sway";
    if (::geteuid() == 0) {
        sway.program = "setpriv";
        sway.arguments = {"--reuid=" + std::to_string(kUnprivilegedId), "--regid=" + std::to_string(kUnprivilegedId),
                          "--clear-groups", "sway", "-c", config};
    } else {
        sway.program = "sway";
        sway.arguments = {"-c", config};
    }
    sway.environment = {"XDG_RUNTIME_DIR=" + m_folder, "HOME=" + m_folder, "XDG_CONFIG_HOME=" + m_folder,
                        "WLR_BACKENDS=headless", "WLR_RENDERER=pixman", "WLR_LIBINPUT_NO_DEVICES=1"};
    sway.unset = {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK", "I3SOCK", "HYPRLAND_INSTANCE_SIGNATURE"};
    if (m_options.busAddress.empty())
        sway.unset.push_back("DBUS_SESSION_BUS_ADDRESS");
    else
        sway.environment.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_options.busAddress);
    m_process = std::make_unique<ServiceProcess>(std::move(sway));
    const std::string folder = m_folder;
    auto started = m_process->start(
        Probe::when(
            [folder] {
                return !findSocket(folder, "wayland-").empty() && !findSocket(folder, "sway-ipc.", ".sock").empty();
            },
            "sway's Wayland and IPC sockets in " + folder + " to accept connections"),
        m_options.deadline);
    if (!started) {
        m_skipReason = std::string("sway did not come up: ") + started.message();
        m_process.reset();
        return false;
    }
    m_waylandDisplay = findSocket(m_folder, "wayland-");
    m_swaySocket = m_folder + "/" + findSocket(m_folder, "sway-ipc.", ".sock");
    return true;
}

bool HeadlessCompositor::startDesktopCompositor()
{
    const bool kwin = m_options.kind == Kind::KWin;
    const std::string program = kindName(m_options.kind);
    if (m_options.busAddress.empty()) {
        m_skipReason = program + " needs a session bus (Options::busAddress, a SessionBus)";
        return false;
    }
    const std::string socket = "wayland-pixkey";
    ServiceProcess::Options compositor;
    compositor.name = program;
    if (kwin) {
        // kwin_wayland carries a file capability (cap_sys_resource) that a container's bounding set
        // may lack, and then it cannot be started at all; a copy without it runs the same.
        const std::string copy = m_folder + "/kwin_wayland";
        std::error_code error;
        std::filesystem::copy_file(ServiceProcess::find(program), copy, error);
        if (error) {
            m_skipReason = "cannot copy kwin_wayland into " + m_folder + ": " + error.message();
            return false;
        }
        ::chmod(copy.c_str(), 0755);
        compositor.program = copy;
        compositor.arguments = {"--virtual", "--no-lockscreen", "--width", "1024", "--height", "768", "--socket", socket};
        compositor.environment = {"KWIN_COMPOSE=Q"}; // QPainter: no OpenGL on the test machine
    } else {
        compositor.program = program;
        compositor.arguments = {"--headless", "--virtual-monitor", "1024x768", "--no-x11", "--wayland",
                                "--wayland-display", socket};
        // ResetIdletime answers only with the debug switch; tests use it as "input happened".
        compositor.environment = {"GSETTINGS_BACKEND=memory", "MUTTER_DEBUG_RESET_IDLETIME=1"};
    }
    for (const char *sub : {"/config", "/cache", "/data"})
        std::filesystem::create_directories(m_folder + sub);
    compositor.environment.insert(compositor.environment.end(),
        {"XDG_RUNTIME_DIR=" + m_folder, "HOME=" + m_folder, "XDG_CONFIG_HOME=" + m_folder + "/config",
         "XDG_CACHE_HOME=" + m_folder + "/cache", "XDG_DATA_HOME=" + m_folder + "/data",
         "DBUS_SESSION_BUS_ADDRESS=" + m_options.busAddress});
    compositor.unset = {"DISPLAY", "WAYLAND_DISPLAY", "WAYLAND_SOCKET", "SWAYSOCK", "I3SOCK",
                        "HYPRLAND_INSTANCE_SIGNATURE", "XDG_CURRENT_DESKTOP", "XDG_SESSION_TYPE",
                        "QT_QPA_PLATFORM"};
    m_process = std::make_unique<ServiceProcess>(std::move(compositor));

    // Ready when clients can connect and its D-Bus interfaces are there (KWin's scripting, GNOME's
    // idle monitor), which both export during start-up.
    const std::string folder = m_folder;
    const std::string bus = m_options.busAddress;
    const std::string destination = kwin ? "org.kde.KWin" : "org.gnome.Mutter.IdleMonitor";
    const std::string path = kwin ? "/Scripting" : "/org/gnome/Mutter/IdleMonitor/Core";
    const std::string interface = kwin ? "org.kde.kwin.Scripting" : "org.gnome.Mutter.IdleMonitor";
    auto started = m_process->start(
        Probe::when([folder, socket, bus, destination, path, interface] {
            return !findSocket(folder, socket).empty() && offers(bus, destination, path, interface);
        }, program + "'s Wayland socket in " + folder + " and " + destination + " " + path + " on the session bus"),
        m_options.deadline);
    if (!started) {
        m_skipReason = program + " did not come up: " + started.message();
        m_process.reset();
        return false;
    }
    m_waylandDisplay = socket;
    return true;
}

std::vector<std::string> HeadlessCompositor::environment() const
{
    std::vector<std::string> entries = {"XDG_RUNTIME_DIR=" + m_folder, "WAYLAND_DISPLAY=" + m_waylandDisplay};
    if (!m_swaySocket.empty())
        entries.push_back("SWAYSOCK=" + m_swaySocket);
    if (!m_options.busAddress.empty())
        entries.push_back("DBUS_SESSION_BUS_ADDRESS=" + m_options.busAddress);
    return entries;
}

void HeadlessCompositor::exportEnvironment()
{
    const auto set = [this](const std::string &name, const std::optional<std::string> &value) {
        const char *old = std::getenv(name.c_str());
        m_saved.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    };
    for (const std::string &entry : environment()) {
        const std::size_t equals = entry.find('=');
        set(entry.substr(0, equals), entry.substr(equals + 1));
    }
    set("DISPLAY", std::nullopt);
    if (m_swaySocket.empty())
        set("SWAYSOCK", std::nullopt);
}

ServiceProcess::Options HeadlessCompositor::clientOptions(const std::string &appId, const std::string &keysFile) const
{
    ServiceProcess::Options client;
    client.program =
        std::filesystem::read_symlink("/proc/self/exe").parent_path().string() + "/pixkey_wayland_test_client";
    client.name = "test client " + appId;
    client.arguments = {"--app-id", appId};
    if (!keysFile.empty()) {
        client.arguments.push_back("--keys");
        client.arguments.push_back(keysFile);
    }
    client.environment = environment();
    client.unset = {"DISPLAY"};
    return client;
}

} // namespace pixkey::test
