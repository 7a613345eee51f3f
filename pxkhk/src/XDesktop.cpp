#include "XDesktop.h"

#include "XKeyboard.h" // virtual-key codes to keysyms, shared with the Utility library

#include <X11/XKBlib.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XInput2.h>
#include <X11/extensions/scrnsaver.h>
#include <X11/keysym.h>

#include <cstdio>
#include <mutex>

#include <unistd.h>

namespace pixkey {

namespace {

// Errors by connection. The handler is process-wide; it never ends the process, it records the
// error for connections of this layer and ignores the others' (their owners check with XSync).
std::mutex errorLock;
std::map<Display *, int> errorsByDisplay; // guarded by errorLock

int recordError(Display *display, XErrorEvent *)
{
    std::lock_guard<std::mutex> guard(errorLock);
    auto it = errorsByDisplay.find(display);
    if (it != errorsByDisplay.end())
        ++it->second;
    return 0;
}

// A lost server. Xlib's own I/O error handler ends the process; this one only reports, and what
// happens next is up to each connection's exit handler: Xlib's default (ending the process) for
// connections of other code, markLost for this layer's, which then stops using the connection.
int reportLostServer(Display *display)
{
    std::fprintf(stderr, "pxkhk: connection to X display %s lost\n", DisplayString(display));
    return 0;
}

void markLost(Display *, void *lost)
{
    *static_cast<bool *>(lost) = true;
}

constexpr unsigned kLockVariants[] = {0, 1, 2, 3}; // bit 0: CapsLock, bit 1: NumLock

} // namespace

XDesktop::XDesktop(std::string name, bool xwaylandOnly) : m_name(std::move(name)), m_xwaylandOnly(xwaylandOnly) {}

XDesktop::~XDesktop()
{
    if (!m_display)
        return;
    if (m_lost) {
        // Xlib cannot close a connection that broke under it (XCloseDisplay waits for a lock the
        // failed call still holds): release the socket and leave the small structure behind.
        ::close(ConnectionNumber(m_display));
    } else {
        for (const auto &[id, grab] : m_grabs)
            ungrab(grab);
        XSync(m_display, False);
        XCloseDisplay(m_display);
    }
    std::lock_guard<std::mutex> guard(errorLock);
    errorsByDisplay.erase(m_display);
}

int XDesktop::fd() const
{
    return m_display ? ConnectionNumber(m_display) : -1;
}

void XDesktop::pollFds(std::vector<pollfd> &fds) const
{
    if (usable())
        fds.push_back({fd(), POLLIN, 0});
}

CapabilityReports XDesktop::capabilities() const
{
    CapabilityReports reports;
    if (!usable())
        return reports;
    const auto add = [&](DesktopCapability capability, bool working, std::string how) {
        reports.push_back({capability, working ? CapabilityState::Working : CapabilityState::Unavailable, std::move(how), {}});
    };
    if (m_xwaylandOnly) {
        // Keys reach XWayland only while one of its programs has the keyboard.
        add(DesktopCapability::SwitchHotkey, true, "a key grab on XWayland: only while an X program has the keyboard");
        add(DesktopCapability::ModifierRows, hasModifierRows(),
            hasModifierRows() ? "XWayland's XInput2 key events: only while an X program has the keyboard"
                              : "XWayland has no XInput2");
        return reports;
    }
    add(DesktopCapability::ActiveWindow, true, "the X server's _NET_ACTIVE_WINDOW");
    add(DesktopCapability::SwitchHotkey, true, "a key grab on the X server");
    add(DesktopCapability::ModifierRows, hasModifierRows(),
        hasModifierRows() ? "XInput2 raw key events" : "the X server has no XInput2");
    add(DesktopCapability::IdleTime, m_screenSaver,
        m_screenSaver ? "the X server's screensaver extension" : "the X server has no screensaver extension");
    return reports;
}

int XDesktop::rowOfHeldModifiers(unsigned held)
{
    switch (held) {
    case HeldCtrl:
        return 1;
    case HeldShift:
        return 2;
    case HeldAlt:
        return 3;
    case HeldAlt | HeldShift:
        return 4;
    case HeldCtrl | HeldShift:
        return 5;
    default: // none, Ctrl+Alt, Ctrl+Alt+Shift
        return 0;
    }
}

bool XDesktop::open(std::string &error)
{
    const std::string &name = m_name;
    Display *display = XOpenDisplay(name.empty() ? nullptr : name.c_str());
    if (!display) {
        error = "cannot open X display" + (name.empty() ? std::string() : " " + name);
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(errorLock);
        errorsByDisplay[display] = 0;
    }
    XSetErrorHandler(recordError);
    XSetIOErrorHandler(reportLostServer);
    XSetIOErrorExitHandler(display, markLost, &m_lost);
    m_display = display;
    m_root = DefaultRootWindow(display);
    m_activeAtom = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
    m_pidAtom = XInternAtom(display, "_NET_WM_PID", False);

    XSelectInput(display, m_root, PropertyChangeMask);
    m_activeWindow = readActiveWindow();

    int event = 0, errorBase = 0;
    m_screenSaver = XScreenSaverQueryExtension(display, &event, &errorBase) != 0;

    int opcode = 0;
    int major = 2, minor = 2;
    if (XQueryExtension(display, "XInputExtension", &opcode, &event, &errorBase)
        && XIQueryVersion(display, &major, &minor) == Success) {
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        XIEventMask mask;
        mask.deviceid = XIAllMasterDevices;
        mask.mask_len = sizeof bits;
        mask.mask = bits;
        XISetMask(bits, XI_RawKeyPress);
        XISetMask(bits, XI_RawKeyRelease);
        if (beginChecked()) {
            XISelectEvents(display, m_root, &mask, 1);
            if (endChecked())
                m_xiOpcode = opcode;
        }
    }
    readKeyboardMapping();
    XSync(display, False);
    return true;
}

void XDesktop::readKeyboardMapping()
{
    m_modifierKeys.clear();
    int minKeycode = 8, maxKeycode = 255;
    XDisplayKeycodes(m_display, &minKeycode, &maxKeycode);
    for (int keycode = minKeycode; keycode <= maxKeycode; ++keycode) {
        switch (XkbKeycodeToKeysym(m_display, KeyCode(keycode), 0, 0)) {
        case XK_Control_L:
        case XK_Control_R:
            m_modifierKeys[unsigned(keycode)] = HeldCtrl;
            break;
        case XK_Shift_L:
        case XK_Shift_R:
            m_modifierKeys[unsigned(keycode)] = HeldShift;
            break;
        case XK_Alt_L:
        case XK_Alt_R:
        case XK_Meta_L:
        case XK_Meta_R:
            m_modifierKeys[unsigned(keycode)] = HeldAlt;
            break;
        default:
            break;
        }
    }

    // Which of Mod1..Mod5 carry NumLock, Alt and Win on this server.
    m_numLockMask = 0;
    m_altMask = 0;
    m_winMask = 0;
    if (XModifierKeymap *map = XGetModifierMapping(m_display)) {
        for (int modifier = Mod1MapIndex; modifier <= Mod5MapIndex; ++modifier) {
            for (int i = 0; i < map->max_keypermod; ++i) {
                const KeyCode code = map->modifiermap[modifier * map->max_keypermod + i];
                if (code == 0)
                    continue;
                const KeySym keysym = XkbKeycodeToKeysym(m_display, code, 0, 0);
                const unsigned mask = 1u << modifier;
                if (keysym == XK_Num_Lock)
                    m_numLockMask |= mask;
                else if ((keysym == XK_Alt_L || keysym == XK_Alt_R) && !m_altMask)
                    m_altMask = mask;
                else if ((keysym == XK_Super_L || keysym == XK_Super_R) && !m_winMask)
                    m_winMask = mask;
            }
        }
        XFreeModifiermap(map);
    }
    if (!m_altMask)
        m_altMask = Mod1Mask;
    if (!m_winMask)
        m_winMask = Mod4Mask;
}

unsigned long XDesktop::readActiveWindow()
{
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    unsigned long window = 0;
    if (!beginChecked())
        return 0;
    const int status = XGetWindowProperty(m_display, m_root, m_activeAtom, 0, 1, False, XA_WINDOW, &type,
                                          &format, &count, &remaining, &data);
    const bool ok = endChecked();
    if (ok && status == Success && data && type == XA_WINDOW && format == 32 && count == 1)
        window = *reinterpret_cast<unsigned long *>(data);
    if (data)
        XFree(data);
    return window;
}

int XDesktop::processIdOfWindow(unsigned long window)
{
    if (!usable() || window == 0)
        return 0;
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    int pid = 0;
    if (!beginChecked())
        return 0;
    const int status = XGetWindowProperty(m_display, window, m_pidAtom, 0, 1, False, XA_CARDINAL, &type,
                                          &format, &count, &remaining, &data);
    const bool ok = endChecked();
    if (ok && status == Success && data && type == XA_CARDINAL && format == 32 && count == 1) {
        const unsigned long value = *reinterpret_cast<unsigned long *>(data);
        if (value > 0 && value <= 0x7FFFFFFF)
            pid = int(value);
    }
    if (data)
        XFree(data);
    return pid;
}

std::string XDesktop::applicationIdOfWindow(unsigned long window)
{
    if (!usable() || window == 0)
        return std::string();
    XClassHint hint{nullptr, nullptr};
    if (!beginChecked())
        return std::string();
    const Status status = XGetClassHint(m_display, window, &hint);
    const bool ok = endChecked();
    std::string result;
    if (ok && status && hint.res_class)
        result = hint.res_class;
    if (hint.res_name)
        XFree(hint.res_name);
    if (hint.res_class)
        XFree(hint.res_class);
    return result;
}

std::optional<std::uint32_t> XDesktop::idleTime()
{
    if (!usable() || !m_screenSaver)
        return std::nullopt;
    XScreenSaverInfo *info = XScreenSaverAllocInfo();
    if (!info)
        return std::nullopt;
    if (!beginChecked()) {
        XFree(info);
        return std::nullopt;
    }
    const Status status = XScreenSaverQueryInfo(m_display, m_root, info);
    const bool ok = endChecked();
    std::optional<std::uint32_t> result;
    if (ok && status)
        result = std::uint32_t(info->idle);
    XFree(info);
    return result;
}

bool XDesktop::beginChecked()
{
    XSync(m_display, False); // errors of earlier requests are not this call's
    if (m_lost)
        return false;
    XSetErrorHandler(recordError); // another library may have swapped it meanwhile
    std::lock_guard<std::mutex> guard(errorLock);
    errorsByDisplay[m_display] = 0;
    return true;
}

bool XDesktop::endChecked()
{
    XSync(m_display, False);
    if (m_lost)
        return false;
    std::lock_guard<std::mutex> guard(errorLock);
    return errorsByDisplay[m_display] == 0;
}

void XDesktop::ungrab(const Grab &grab)
{
    for (unsigned variant : kLockVariants) {
        const unsigned extra = ((variant & 1) ? LockMask : 0) | ((variant & 2) ? m_numLockMask : 0);
        if ((variant & 2) && !m_numLockMask)
            continue;
        XUngrabKey(m_display, int(grab.keycode), grab.xModifiers | extra, m_root);
    }
}

bool XDesktop::registerHotkey(int id, std::uint16_t modifiers, std::uint16_t key)
{
    if (!usable())
        return false;
    unregisterHotkey(id);
    const unsigned long keysym = keysymOfVirtualKey(key);
    const KeyCode keycode = keysym ? XKeysymToKeycode(m_display, keysym) : 0;
    if (keycode == 0)
        return false;
    Grab grab;
    grab.keycode = keycode;
    grab.lParam = std::uint32_t(key) * 65536u + modifiers;
    if (modifiers & 1)
        grab.xModifiers |= m_altMask;
    if (modifiers & 2)
        grab.xModifiers |= ControlMask;
    if (modifiers & 4)
        grab.xModifiers |= ShiftMask;
    if (modifiers & 8)
        grab.xModifiers |= m_winMask;

    if (!beginChecked())
        return false;
    for (unsigned variant : kLockVariants) {
        if ((variant & 2) && !m_numLockMask)
            continue;
        const unsigned extra = ((variant & 1) ? LockMask : 0) | ((variant & 2) ? m_numLockMask : 0);
        XGrabKey(m_display, keycode, grab.xModifiers | extra, m_root, False, GrabModeAsync, GrabModeAsync);
    }
    if (!endChecked()) {
        if (m_lost)
            return false;
        // Some variants may have been granted before the refusal: release what is ours.
        ungrab(grab);
        XSync(m_display, False);
        return false;
    }
    m_grabs[id] = grab;
    return true;
}

bool XDesktop::unregisterHotkey(int id)
{
    auto it = m_grabs.find(id);
    if (!usable() || it == m_grabs.end())
        return false;
    ungrab(it->second);
    m_grabs.erase(it);
    return endChecked();
}

void XDesktop::dispatch(DesktopEvents &events)
{
    if (!m_display || m_lost)
        return;
    while (!m_lost && XPending(m_display) > 0) {
        XEvent event;
        XNextEvent(m_display, &event);
        handleEvent(event, events);
    }
}

void XDesktop::trackModifierKey(unsigned keycode, bool down, DesktopEvents &events)
{
    const auto it = m_modifierKeys.find(keycode);
    if (it == m_modifierKeys.end())
        return;
    // A set: the same change seen twice (raw and core, or a repeating key) changes nothing.
    if (down)
        m_held.insert(keycode);
    else
        m_held.erase(keycode);
    unsigned held = 0;
    for (unsigned code : m_held)
        held |= m_modifierKeys[code];
    const int row = rowOfHeldModifiers(held);
    if (row != m_row) {
        m_row = row;
        events.modifierRowChanged(row);
    }
}

void XDesktop::handleEvent(XEvent &event, DesktopEvents &events)
{
    switch (event.type) {
    case PropertyNotify:
        if (event.xproperty.window == m_root && event.xproperty.atom == m_activeAtom) {
            const unsigned long window = readActiveWindow();
            if (window == m_activeWindow)
                return;
            const unsigned long previous = m_activeWindow;
            m_activeWindow = window;
            if (previous != 0)
                events.foregroundChanged(previous, 0);
            if (window != 0)
                events.foregroundChanged(window, 1);
        }
        return;
    case KeyPress: {
        // While one of our grabs is active, the keys reach this connection as core events and
        // the raw events are withheld, so both kinds keep the held modifiers up to date.
        trackModifierKey(event.xkey.keycode, true, events);
        const unsigned significant = ShiftMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;
        const unsigned state = event.xkey.state & significant & ~m_numLockMask;
        for (const auto &[id, grab] : m_grabs) {
            if (grab.keycode == event.xkey.keycode && grab.xModifiers == state) {
                const int pressed = id;
                const std::uint32_t lParam = grab.lParam;
                events.hotkeyPressed(pressed, lParam); // may change m_grabs: the loop ends here
                return;
            }
        }
        return;
    }
    case KeyRelease:
        trackModifierKey(event.xkey.keycode, false, events);
        return;
    case MappingNotify:
        XRefreshKeyboardMapping(&event.xmapping);
        readKeyboardMapping();
        return;
    case GenericEvent:
        if (event.xcookie.extension != m_xiOpcode || !XGetEventData(m_display, &event.xcookie))
            return;
        if (event.xcookie.evtype == XI_RawKeyPress || event.xcookie.evtype == XI_RawKeyRelease) {
            const auto *raw = static_cast<const XIRawEvent *>(event.xcookie.data);
            trackModifierKey(unsigned(raw->detail), event.xcookie.evtype == XI_RawKeyPress, events);
        }
        XFreeEventData(m_display, &event.xcookie);
        return;
    default:
        return;
    }
}

} // namespace pixkey
