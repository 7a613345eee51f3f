// XDesktop: the X11 back end of the desktop hook layer, on one display connection of its own: the
// active window (_NET_ACTIVE_WINDOW on the root window), the modifier row (XInput2 raw key events),
// hotkey grabs on the root window, the idle time (XScreenSaver) and a window's process id and class.
// In a Wayland session (XWayland) it sees only X programs and their keys, and says so in its
// reports; it then never answers for the active window.
//
// Threads: the object and its connection belong to the hook thread; every call is made there.
// X errors never end the process: a process-wide handler records them per connection, and calls
// that may fail bracket their requests with XSync to turn an error into a false result.
#pragma once

#include "DesktopBackend.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>

using Display = struct _XDisplay;
union _XEvent;

namespace pixkey {

class XDesktop : public DesktopBackend {
public:
    // `name`: the display (empty: $DISPLAY); `xwaylandOnly`: it is XWayland in a Wayland session.
    explicit XDesktop(std::string name = {}, bool xwaylandOnly = false);
    ~XDesktop() override; // releases the grabs and closes the connection
    XDesktop(const XDesktop &) = delete;
    XDesktop &operator=(const XDesktop &) = delete;

    const char *name() const override { return m_xwaylandOnly ? "XWayland" : "X11"; }
    // Connects and selects the events. False with a reason.
    bool open(std::string &error) override;
    bool isOpen() const { return m_display != nullptr; }
    // Whether the connection broke (server gone); nothing is read from it any more.
    bool isLost() const { return m_lost; }
    bool usable() const override { return m_display && !m_lost; }
    // The connection's fd, for poll(); -1 when closed.
    int fd() const;
    void pollFds(std::vector<pollfd> &fds) const override;

    // Handles every event that has arrived (reads the connection without blocking).
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;
    // The active window as last read (0 none or unknown); follows every dispatched change.
    unsigned long activeWindow() const override { return m_activeWindow; }

    bool registerHotkey(int id, std::uint16_t modifiers, std::uint16_t key) override;
    bool unregisterHotkey(int id) override;
    std::optional<std::uint32_t> idleTime() override;
    int processIdOfWindow(unsigned long window) override;
    // The class part of the window's WM_CLASS; empty when unset or the window is gone.
    std::string applicationIdOfWindow(unsigned long window) override;
    // Whether the XScreenSaver extension answers idle times.
    bool hasIdleTime() const { return m_screenSaver; }

    // Whether XInput2 raw key events are available (modifier rows work).
    bool hasModifierRows() const { return m_xiOpcode >= 0; }

    // The modifier row of a modifier set (Ctrl 1, Shift 2, Alt 4 bits as below).
    enum HeldModifier : unsigned { HeldCtrl = 1, HeldShift = 2, HeldAlt = 4 };
    static int rowOfHeldModifiers(unsigned held);

private:
    struct Grab {
        unsigned keycode = 0;
        unsigned xModifiers = 0;
        std::uint32_t lParam = 0;
    };

    void readKeyboardMapping();
    void handleEvent(_XEvent &event, DesktopEvents &events);
    // A press or release of `keycode`; reports the row when it changes.
    void trackModifierKey(unsigned keycode, bool down, DesktopEvents &events);
    unsigned long readActiveWindow();
    // Bracket requests whose X errors matter: begin settles earlier requests and clears the
    // record, end makes a round trip; both false once the connection is lost (then no further
    // request may be made), end also false when the server reported an error in between.
    bool beginChecked();
    bool endChecked();
    void ungrab(const Grab &grab);

    std::string m_name;
    bool m_xwaylandOnly = false;
    Display *m_display = nullptr;
    bool m_lost = false;
    unsigned long m_root = 0;
    unsigned long m_activeAtom = 0;
    unsigned long m_pidAtom = 0;
    int m_xiOpcode = -1;
    bool m_screenSaver = false;
    unsigned long m_activeWindow = 0;
    // Keycodes of Ctrl, Shift and Alt keys (HeldModifier bits) and those held now.
    std::map<unsigned, unsigned> m_modifierKeys;
    std::set<unsigned> m_held;
    int m_row = 0;
    unsigned m_numLockMask = 0;
    unsigned m_altMask = 0;
    unsigned m_winMask = 0;
    std::map<int, Grab> m_grabs;
};

} // namespace pixkey
