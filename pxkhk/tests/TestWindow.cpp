// A top-level window for the desktop tests: announces its process id (_NET_WM_PID), prints its
// window id on stdout, takes its title as its WM_CLASS class, and stays until its stdin closes. Built under two names so that the tests
// see two different executables.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <unistd.h>

int main(int argc, char **argv)
{
    Display *display = XOpenDisplay(nullptr);
    if (!display)
        return 1;
    const Window window = XCreateSimpleWindow(display, DefaultRootWindow(display), 10, 10, 120, 80, 0, 0, 0xFFFFFF);
    const unsigned long pid = static_cast<unsigned long>(::getpid());
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char *>(&pid), 1);
    char *title = argc > 1 ? argv[1] : const_cast<char *>("test window");
    XStoreName(display, window, title);
    XClassHint hint{const_cast<char *>("pxkhk-test-window"), title};
    XSetClassHint(display, window, &hint);
    XMapRaised(display, window);
    XSync(display, False);
    std::printf("0x%lx\n", window);
    std::fflush(stdout);
    char buffer[64];
    while (::read(0, buffer, sizeof buffer) > 0) {
    }
    XCloseDisplay(display);
    return 0;
}
