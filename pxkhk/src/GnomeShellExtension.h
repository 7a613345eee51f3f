// GnomeShellExtension: the active window and the held modifiers on GNOME's Wayland session, from
// the GNOME Shell extension shipped with the program (gnome-shell-extension/ in the source tree).
// The extension owns com.vostrel.PixkeyMini.Shell on the session bus and exports, at
// /com/vostrel/PixkeyMini/Shell, interface com.vostrel.PixkeyMini.Shell:
//   GetFocus() -> (u window, s appId, s wmClass, u pid)   window 0: nothing has the focus
//   GetModifiers() -> u mask                               Clutter bits: Shift 1, Control 4, Alt 8
//   signal FocusChanged(u window, s appId, s wmClass, u pid)
//   signal ModifiersChanged(u mask)
// Window ids are the extension's (Mutter's stable window sequence numbers).
//
// The back end stays open when the extension is not running and picks it up once the user enables
// it (the name appears); until then capabilities() says what step is missing: enabling the
// extension when it is installed, installing it otherwise.
//
// Threads: hook thread only (DesktopBackend.h). Owns its sd-bus connection.
#pragma once

#include "DesktopBackend.h"
#include "SdBus.h"

#include <deque>
#include <list>
#include <string>
#include <utility>
#include <vector>

namespace pixkey {

class GnomeShellExtension : public DesktopBackend {
public:
    static constexpr const char *kUuid = "pixkey-mini@vostrel.com";
    static constexpr const char *kBusName = "com.vostrel.PixkeyMini.Shell";
    static constexpr const char *kObject = "/com/vostrel/PixkeyMini/Shell";
    static constexpr const char *kInterface = "com.vostrel.PixkeyMini.Shell";

    struct Options {
        std::string busAddress; // empty: $DBUS_SESSION_BUS_ADDRESS
        // Where extensions are installed (each holding gnome-shell/extensions/UUID); empty:
        // $XDG_DATA_HOME (or ~/.local/share) followed by $XDG_DATA_DIRS (or /usr/local/share:/usr/share).
        std::vector<std::string> dataFolders;
    };
    GnomeShellExtension() : GnomeShellExtension(Options{}) {}
    explicit GnomeShellExtension(Options options);
    ~GnomeShellExtension() override;

    const char *name() const override { return "GNOME Shell extension"; }
    bool open(std::string &error) override;
    bool usable() const override { return m_bus && m_failure.empty(); }
    void pollFds(std::vector<pollfd> &fds) const override;
    int timeoutMs() const override;
    void dispatch(DesktopEvents &events) override;
    CapabilityReports capabilities() const override;

    unsigned long activeWindow() const override { return m_active; }
    int processIdOfWindow(unsigned long window) override;
    std::string applicationIdOfWindow(unsigned long window) override;

    bool extensionRunning() const { return !m_owner.empty(); }
    // The extension's folder when it is installed in one of the data folders; empty otherwise.
    std::string installedFolder() const;
    // The row (0..5) the held modifiers in a Clutter modifier mask select.
    static int rowOfMask(std::uint32_t mask);

private:
    struct Window {
        unsigned long id = 0;
        std::string appId;
        std::string wmClass;
        int pid = 0;
    };

    static int onFocusChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onModifiersChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onOwnerChanged(sd_bus_message *message, void *self, sd_bus_error *error);
    static int onOwner(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onFocus(sd_bus_message *reply, void *self, sd_bus_error *error);
    static int onModifiers(sd_bus_message *reply, void *self, sd_bus_error *error);
    void extensionAppeared(const std::string &owner);
    void extensionGone();
    void readFocus(sd_bus_message *message);
    void readModifiers(sd_bus_message *message);
    void setActive(unsigned long window);
    void setRow(int row);
    const Window *find(unsigned long window) const;

    Options m_options;
    sdbus::BusPtr m_bus;
    sdbus::SlotPtr m_focusMatch, m_modifiersMatch, m_ownerMatch, m_ownerCall, m_focusCall, m_modifiersCall;
    std::string m_owner; // the extension's unique name while it runs
    std::string m_failure;
    std::list<Window> m_windows; // most recently reported first, a bounded number
    unsigned long m_active = 0;
    int m_row = 0;
    std::deque<std::pair<unsigned long, int>> m_foreground; // changes not yet reported
    std::deque<int> m_rows;
};

} // namespace pixkey
