#include <pixkey/test/XServer.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>

#include <cstdlib>

namespace pixkey::test {

namespace {

// Whether a window manager announces itself on `name` (EWMH _NET_SUPPORTING_WM_CHECK).
bool windowManagerRuns(const std::string &name)
{
    Display *display = XOpenDisplay(name.c_str());
    if (!display)
        return false;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    const Atom check = XInternAtom(display, "_NET_SUPPORTING_WM_CHECK", False);
    const bool found = XGetWindowProperty(display, DefaultRootWindow(display), check, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &remaining, &data) == Success
        && count == 1;
    if (data)
        XFree(data);
    XCloseDisplay(display);
    return found;
}

} // namespace

XServer::XServer(Options options)
{
    if (ServiceProcess::find("Xvfb").empty()) {
        m_skipReason = "Xvfb is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    if (options.windowManager && ServiceProcess::find("openbox").empty()) {
        m_skipReason = "openbox is not installed (scripts/install-deps.sh installs it)";
        return;
    }
    ServiceProcess::Options server;
    server.program = "Xvfb";
    server.arguments = {"-displayfd", "3", "-nolisten", "tcp", "-noreset", "-screen", "0", options.screen};
    server.notifyFd = 3;
    m_server = std::make_unique<ServiceProcess>(std::move(server));
    if (auto started = m_server->start(Probe::notifyLine(), options.deadline); !started) {
        m_skipReason = std::string("Xvfb did not come up: ") + started.message();
        m_server.reset();
        return;
    }
    std::string number = m_server->notification();
    number.erase(number.find_last_not_of(" \n") + 1);
    m_display = ":" + number;
    if (!options.windowManager)
        return;

    ServiceProcess::Options manager;
    manager.program = "openbox";
    manager.arguments = {"--sm-disable"};
    manager.environment = {environmentEntry()};
    m_windowManager = std::make_unique<ServiceProcess>(std::move(manager));
    const std::string display = m_display;
    if (auto started = m_windowManager->start(
            Probe::when([display] { return windowManagerRuns(display); }, "openbox to manage " + display),
            options.deadline);
        !started) {
        m_skipReason = std::string("openbox did not come up: ") + started.message();
    }
}

XServer::~XServer()
{
    stop();
}

void XServer::stop()
{
    if (m_windowManager)
        m_windowManager->stop();
    if (m_server)
        m_server->stop();
    m_windowManager.reset();
    m_server.reset();
}

void XServer::exportDisplay() const
{
    if (!m_display.empty())
        ::setenv("DISPLAY", m_display.c_str(), 1);
}

void XServerEnvironment::SetUp()
{
    s_server = std::make_unique<XServer>(m_options);
    if (s_server->running())
        s_server->exportDisplay();
}

void XServerEnvironment::TearDown()
{
    s_server.reset();
}

bool XServerEnvironment::running()
{
    return s_server && s_server->running();
}

std::string XServerEnvironment::skipReason()
{
    return s_server ? s_server->skipReason() : std::string("the X server environment was not set up");
}

std::string XServerEnvironment::display()
{
    return s_server ? s_server->display() : std::string();
}

} // namespace pixkey::test
