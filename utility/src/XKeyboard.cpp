#include "XKeyboard.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/XF86keysym.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <mutex>
#include <vector>

namespace pixkey {

namespace {

struct KeyMapping {
    std::uint16_t key;
    KeySym keysym;
};

// Fixed keys; letters, digits and F-keys are computed. Where several keysyms give one code, the
// first is the one sent.
constexpr KeyMapping kKeys[] = {
    {0x08, XK_BackSpace}, {0x09, XK_Tab}, {0x09, XK_ISO_Left_Tab}, {0x0C, XK_Clear}, {0x0D, XK_Return},
    {0x10, XK_Shift_L}, {0x11, XK_Control_L}, {0x12, XK_Alt_L}, {0x13, XK_Pause}, {0x14, XK_Caps_Lock},
    {0x1B, XK_Escape}, {0x20, XK_space},
    {0x21, XK_Prior}, {0x22, XK_Next}, {0x23, XK_End}, {0x24, XK_Home}, {0x25, XK_Left}, {0x26, XK_Up},
    {0x27, XK_Right}, {0x28, XK_Down}, {0x29, XK_Select}, {0x2A, XK_Print}, {0x2B, XK_Execute},
    {0x2C, XK_Print}, {0x2D, XK_Insert}, {0x2E, XK_Delete}, {0x2F, XK_Help},
    {0x5B, XK_Super_L}, {0x5C, XK_Super_R}, {0x5D, XK_Menu},
    {0x60, XK_KP_0}, {0x61, XK_KP_1}, {0x62, XK_KP_2}, {0x63, XK_KP_3}, {0x64, XK_KP_4}, {0x65, XK_KP_5},
    {0x66, XK_KP_6}, {0x67, XK_KP_7}, {0x68, XK_KP_8}, {0x69, XK_KP_9},
    {0x6A, XK_KP_Multiply}, {0x6B, XK_KP_Add}, {0x6C, XK_KP_Separator}, {0x6D, XK_KP_Subtract},
    {0x6E, XK_KP_Decimal}, {0x6F, XK_KP_Divide}, {0x0D, XK_KP_Enter},
    {0x90, XK_Num_Lock}, {0x91, XK_Scroll_Lock},
    {0xA0, XK_Shift_L}, {0xA1, XK_Shift_R}, {0xA2, XK_Control_L}, {0xA3, XK_Control_R}, {0xA4, XK_Alt_L},
    {0xA5, XK_Alt_R}, {0xA5, XK_ISO_Level3_Shift}, {0x5B, XK_Meta_L}, {0x5C, XK_Meta_R},
    {0xA6, XF86XK_Back}, {0xA7, XF86XK_Forward}, {0xA8, XF86XK_Refresh}, {0xA9, XF86XK_Stop},
    {0xAA, XF86XK_Search}, {0xAB, XF86XK_Favorites}, {0xAC, XF86XK_HomePage},
    {0xAD, XF86XK_AudioMute}, {0xAE, XF86XK_AudioLowerVolume}, {0xAF, XF86XK_AudioRaiseVolume},
    {0xB0, XF86XK_AudioNext}, {0xB1, XF86XK_AudioPrev}, {0xB2, XF86XK_AudioStop}, {0xB3, XF86XK_AudioPlay},
    {0xB4, XF86XK_Mail}, {0xB5, XF86XK_AudioMedia},
    {0xBA, XK_semicolon}, {0xBB, XK_equal}, {0xBC, XK_comma}, {0xBD, XK_minus}, {0xBE, XK_period},
    {0xBF, XK_slash}, {0xC0, XK_grave}, {0xDB, XK_bracketleft}, {0xDC, XK_backslash},
    {0xDD, XK_bracketright}, {0xDE, XK_apostrophe},
};

// The X error handler is process-wide; it is installed only while xLock is held, and reports
// into xErrorSeen (guarded by xLock).
std::mutex xLock;
bool xErrorSeen = false;

int recordError(Display *, XErrorEvent *)
{
    xErrorSeen = true;
    return 0;
}

// An open display with our error handler, both undone on scope exit. Holds xLock throughout.
class XSession {
public:
    XSession() : m_guard(xLock)
    {
        xErrorSeen = false;
        m_display = XOpenDisplay(nullptr);
        if (m_display)
            m_previous = XSetErrorHandler(recordError);
    }
    ~XSession()
    {
        if (m_display) {
            XSync(m_display, False);
            XSetErrorHandler(m_previous);
            XCloseDisplay(m_display);
        }
    }
    XSession(const XSession &) = delete;
    XSession &operator=(const XSession &) = delete;

    Display *display() const { return m_display; }
    // True when the server reported no error so far (after a round trip).
    bool ok()
    {
        XSync(m_display, False);
        return !xErrorSeen;
    }

private:
    std::lock_guard<std::mutex> m_guard;
    Display *m_display = nullptr;
    int (*m_previous)(Display *, XErrorEvent *) = nullptr;
};

constexpr std::uint16_t kModifierKeys[] = {0x10, 0x11, 0x12, 0x5B, 0x5C, 0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5};

bool isModifierKey(std::uint16_t key)
{
    for (std::uint16_t m : kModifierKeys)
        if (m == key)
            return true;
    return false;
}

} // namespace

unsigned long keysymOfVirtualKey(std::uint16_t key)
{
    if (key >= 0x41 && key <= 0x5A)
        return XK_a + (key - 0x41);
    if (key >= 0x30 && key <= 0x39)
        return XK_0 + (key - 0x30);
    if (key >= 0x70 && key <= 0x87)
        return XK_F1 + (key - 0x70);
    for (const KeyMapping &entry : kKeys)
        if (entry.key == key)
            return entry.keysym;
    return 0;
}

std::uint16_t virtualKeyOfKeysym(unsigned long keysym)
{
    if (keysym >= XK_a && keysym <= XK_z)
        return std::uint16_t(0x41 + (keysym - XK_a));
    if (keysym >= XK_A && keysym <= XK_Z)
        return std::uint16_t(0x41 + (keysym - XK_A));
    if (keysym >= XK_0 && keysym <= XK_9)
        return std::uint16_t(0x30 + (keysym - XK_0));
    if (keysym >= XK_F1 && keysym <= XK_F24)
        return std::uint16_t(0x70 + (keysym - XK_F1));
    for (const KeyMapping &entry : kKeys)
        if (entry.keysym == keysym)
            return entry.key;
    return 0;
}

bool readKeyboardState(std::uint16_t *modifiers, std::uint16_t *key)
{
    XSession session;
    Display *display = session.display();
    if (!display)
        return false;
    char keys[32] = {};
    XQueryKeymap(display, keys);
    if (!session.ok())
        return false;

    std::vector<bool> down(256, false);
    for (int keycode = 8; keycode < 256; ++keycode) {
        if (!(keys[keycode / 8] & (1 << (keycode % 8))))
            continue;
        const KeySym keysym = XkbKeycodeToKeysym(display, KeyCode(keycode), 0, 0);
        const std::uint16_t vk = virtualKeyOfKeysym(keysym);
        if (vk)
            down[vk] = true;
    }
    std::uint16_t mods = 0;
    if (down[0x12] || down[0xA4] || down[0xA5])
        mods |= 1;
    if (down[0x11] || down[0xA2] || down[0xA3])
        mods |= 2;
    if (down[0x5B] || down[0x5C])
        mods |= 8;
    if (down[0x10] || down[0xA0] || down[0xA1])
        mods |= 4;
    std::uint16_t first = 0;
    for (std::uint16_t vk = 1; vk < 255; ++vk) {
        if (down[vk] && !isModifierKey(vk)) {
            first = vk;
            break;
        }
    }
    *modifiers = mods;
    *key = first;
    return true;
}

bool sendShortcut(std::uint16_t modifiers, std::uint16_t key)
{
    XSession session;
    Display *display = session.display();
    if (!display)
        return false;
    int eventBase, errorBase, major, minor;
    if (!XTestQueryExtension(display, &eventBase, &errorBase, &major, &minor))
        return false;

    // Order of pressing: Win, Ctrl, Alt, Shift, then the key; released in reverse.
    std::vector<KeyCode> sequence;
    const std::pair<std::uint16_t, std::uint16_t> modifierKeys[] = {{8, 0x5B}, {2, 0x11}, {1, 0x12}, {4, 0x10}};
    for (const auto &[flag, vk] : modifierKeys) {
        if (!(modifiers & flag))
            continue;
        const KeyCode code = XKeysymToKeycode(display, keysymOfVirtualKey(vk));
        if (code == 0)
            return false;
        sequence.push_back(code);
    }
    if (key != 0) {
        const KeySym keysym = keysymOfVirtualKey(key);
        const KeyCode code = keysym ? XKeysymToKeycode(display, keysym) : 0;
        if (code == 0)
            return false;
        sequence.push_back(code);
    }
    if (sequence.empty())
        return false;
    for (KeyCode code : sequence)
        XTestFakeKeyEvent(display, code, True, CurrentTime);
    for (auto it = sequence.rbegin(); it != sequence.rend(); ++it)
        XTestFakeKeyEvent(display, *it, False, CurrentTime);
    return session.ok();
}

namespace {

// One CARDINAL or WINDOW value of `property` on `window`, 0 when absent or on an X error.
unsigned long readCardinalProperty(XSession &session, Window window, const char *property)
{
    Display *display = session.display();
    const Atom atom = XInternAtom(display, property, True);
    if (atom == None)
        return 0;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, remaining = 0;
    unsigned char *data = nullptr;
    const int status = XGetWindowProperty(display, window, atom, 0, 1, False, AnyPropertyType, &type,
                                          &format, &count, &remaining, &data);
    unsigned long value = 0;
    if (status == Success && data && format == 32 && count == 1)
        value = *reinterpret_cast<unsigned long *>(data); // 32-bit items arrive as longs
    if (data)
        XFree(data);
    return session.ok() ? value : 0;
}

} // namespace

int FocusedWindowProcess()
{
    XSession session;
    Display *display = session.display();
    if (!display)
        return 0;
    const Window active = readCardinalProperty(session, DefaultRootWindow(display), "_NET_ACTIVE_WINDOW");
    if (active == None)
        return 0;
    const unsigned long pid = readCardinalProperty(session, active, "_NET_WM_PID");
    return pid > 0 && pid <= 0x7fffffffUL ? int(pid) : 0;
}

} // namespace pixkey
