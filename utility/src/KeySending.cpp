#include "pixkey/utility/KeySending.h"

#include "KeySender.h"
#include "RemoteDesktopPortal.h"
#include "UinputKeyboard.h"
#include "WaylandKeyboard.h"
#include "XKeyboard.h"
#include "XkbKeymap.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QStandardPaths>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>

#include <strings.h>
#include <unistd.h>

namespace pixkey {

namespace {

constexpr int kWaylandTimeoutMs = 1000;
// How long a new uinput keyboard is given before its first keys, so the desktop has opened it.
constexpr int kUinputSettleMs = 300;
const QString kUinputKey = QStringLiteral("Uinput/Enabled");

std::string environment(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

bool containsDesktop(const std::string &desktops, const char *name)
{
    // XDG_CURRENT_DESKTOP is a colon-separated list ("ubuntu:GNOME").
    std::size_t start = 0;
    while (start <= desktops.size()) {
        const std::size_t end = desktops.find(':', start);
        const std::string part = desktops.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (strcasecmp(part.c_str(), name) == 0)
            return true;
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return false;
}

QString settingsFile()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
         + QStringLiteral("/Vostrel/KeySending.ini");
}

std::string uinputDevice()
{
    // The node can be named for tests; /dev/uinput otherwise.
    const std::string named = environment("PIXKEY_UINPUT_DEVICE");
    return named.empty() ? "/dev/uinput" : named;
}

class KeySender {
public:
    static KeySender &instance()
    {
        static KeySender *sender = new KeySender; // lives to the end; the portal goes with the app
        return *sender;
    }

    bool send(std::uint16_t modifiers, std::uint16_t key)
    {
        std::lock_guard lock(m_mutex);
        chooseLocked();
        if (m_route == KeySendingRoute::X11)
            return sendShortcut(modifiers, key);
        const std::vector<std::uint32_t> keysyms = shortcutKeysyms(modifiers, key);
        if (keysyms.empty())
            return false;
        std::string error;
        bool sent = false;
        switch (m_route) {
        case KeySendingRoute::VirtualKeyboard:
            if (!m_wayland || !m_wayland->usable())
                m_wayland = WaylandKeyboard::connect({}, kWaylandTimeoutMs, error);
            sent = m_wayland && m_wayland->sendKeysyms(keysyms, error);
            break;
        case KeySendingRoute::Uinput:
            if (!m_uinput)
                m_uinput = UinputKeyboard::open(uinputDevice(), kUinputSettleMs, error);
            sent = m_uinput && m_uinput->sendKeysyms(keysyms, error);
            if (!sent)
                m_uinput.reset(); // opened again at the next press (the rule may be installed by then)
            break;
        case KeySendingRoute::RemoteDesktopPortal:
            sent = m_portal && m_portal->send(keysyms);
            if (!sent)
                error = m_portal ? m_portal->lastError().toStdString() : m_reason;
            break;
        case KeySendingRoute::None:
            error = m_reason;
            break;
        case KeySendingRoute::X11:
            break;
        }
        if (!sent && !error.empty() && error != m_lastError)
            std::fprintf(stderr, "pixkey: cannot send keys: %s\n", error.c_str());
        m_lastError = sent ? std::string() : error;
        return sent;
    }

    CapabilityReport report()
    {
        std::lock_guard lock(m_mutex);
        chooseLocked();
        CapabilityReport report;
        report.capability = DesktopCapability::SendKeys;
        switch (m_route) {
        case KeySendingRoute::X11:
            report.state = CapabilityState::Working;
            report.how = "the X server's XTest extension";
            break;
        case KeySendingRoute::VirtualKeyboard:
            report.state = CapabilityState::Working;
            report.how = "the compositor's virtual keyboard (zwp_virtual_keyboard_v1)";
            break;
        case KeySendingRoute::Uinput:
            if (access(uinputDevice().c_str(), W_OK) == 0) {
                report.state = CapabilityState::Working;
                report.how = "a uinput keyboard (" + uinputDevice() + ")";
            } else {
                report.state = CapabilityState::NeedsStep;
                report.how = "a uinput keyboard, but " + uinputDevice() + " is not writable";
                report.step = "install the udev rule 60-pixkey-mini-uinput.rules from the package's documentation "
                              "into /etc/udev/rules.d and log in again";
            }
            break;
        case KeySendingRoute::RemoteDesktopPortal:
            if (m_portal) {
                // A portal started just now is given a moment to say whether it is there.
                m_portal->waitWhileProbing(std::chrono::milliseconds(1500));
                report = m_portal->report();
                if (report.state == CapabilityState::Unavailable)
                    report.step = m_fallbackStep;
            } else {
                report.state = CapabilityState::Unavailable;
                report.how = m_reason;
                report.step = m_fallbackStep;
            }
            break;
        case KeySendingRoute::None:
            report.state = CapabilityState::Unavailable;
            report.how = m_reason;
            report.step = m_fallbackStep;
            break;
        }
        return report;
    }

    KeySendingRoute route()
    {
        std::lock_guard lock(m_mutex);
        chooseLocked();
        return m_route;
    }

    void reset()
    {
        std::lock_guard lock(m_mutex);
        resetLocked();
    }

private:
    void resetLocked()
    {
        m_chosen = false;
        m_route = KeySendingRoute::None;
        m_wayland.reset();
        m_uinput.reset();
        m_portal.reset();
        m_reason.clear();
        m_fallbackStep.clear();
        m_lastError.clear();
    }

    void chooseLocked()
    {
        // Chosen once; but a session that offered nothing is looked at again (a program started
        // before its compositor), and so is a portal dropped with the application object.
        if (m_chosen && m_route != KeySendingRoute::None && !(m_route == KeySendingRoute::RemoteDesktopPortal && !m_portal))
            return;
        const std::string said = m_lastError; // a reason already given is not repeated per press
        resetLocked();
        m_lastError = said;
        m_chosen = true;
        const std::string sessionType = environment("XDG_SESSION_TYPE");
        const std::string waylandDisplay = environment("WAYLAND_DISPLAY");
        const std::string desktop = environment("XDG_CURRENT_DESKTOP");
        if (sessionType == "x11" || (sessionType != "wayland" && waylandDisplay.empty())) {
            if (environment("DISPLAY").empty()) {
                m_reason = "no X display and no Wayland compositor";
                return;
            }
            m_route = KeySendingRoute::X11;
            return;
        }
        std::string why;
        // GNOME and KDE keep virtual keyboards to their own input methods; the portal is their way.
        const bool portalDesktop = containsDesktop(desktop, "GNOME") || containsDesktop(desktop, "KDE");
        if (!portalDesktop && !waylandDisplay.empty()) {
            std::string error;
            m_wayland = WaylandKeyboard::connect({}, kWaylandTimeoutMs, error);
            if (m_wayland) {
                m_route = KeySendingRoute::VirtualKeyboard;
                return;
            }
            why = error;
        }
        if (UinputKeySendingEnabled()) {
            m_route = KeySendingRoute::Uinput;
            return;
        }
        m_fallbackStep = "turn on sending keys through /dev/uinput in the Desktop settings "
                         "(needs the udev rule shipped with the package)";
        if (!QCoreApplication::instance()) {
            m_reason = (why.empty() ? std::string() : why + "; ") + "the remote desktop portal needs the program's Qt application";
            return;
        }
        RemoteDesktopPortal::Options options;
        options.settingsPath = settingsFile();
        m_portal = std::make_unique<RemoteDesktopPortal>(options);
        m_route = KeySendingRoute::RemoteDesktopPortal;
        if (!m_postRoutineAdded) {
            // The portal's thread and D-Bus connection must end before the application object.
            qAddPostRoutine([] { instance().dropPortal(); });
            m_postRoutineAdded = true;
        }
    }

    void dropPortal()
    {
        std::lock_guard lock(m_mutex);
        m_portal.reset();
        m_postRoutineAdded = false;
    }

    std::mutex m_mutex;
    bool m_chosen = false;
    bool m_postRoutineAdded = false;
    KeySendingRoute m_route = KeySendingRoute::None;
    std::unique_ptr<WaylandKeyboard> m_wayland;
    std::unique_ptr<UinputKeyboard> m_uinput;
    std::unique_ptr<RemoteDesktopPortal> m_portal;
    std::string m_reason;       // why nothing (or not the portal) can send
    std::string m_fallbackStep; // what the user can do instead
    std::string m_lastError;    // said once on stderr, not for every press
};

} // namespace

bool sendShortcutToDesktop(std::uint16_t modifiers, std::uint16_t key)
{
    return KeySender::instance().send(modifiers, key);
}

CapabilityReport KeySendingCapability()
{
    return KeySender::instance().report();
}

KeySendingRoute CurrentKeySendingRoute()
{
    return KeySender::instance().route();
}

bool UinputKeySendingEnabled()
{
    return QSettings(settingsFile(), QSettings::IniFormat).value(kUinputKey, false).toBool();
}

bool SetUinputKeySendingEnabled(bool enabled)
{
    QDir().mkpath(QFileInfo(settingsFile()).absolutePath());
    QSettings settings(settingsFile(), QSettings::IniFormat);
    settings.setValue(kUinputKey, enabled);
    settings.sync();
    KeySender::instance().reset();
    return settings.status() == QSettings::NoError;
}

std::string KeySendingSettingsFile()
{
    return settingsFile().toStdString();
}

void ResetKeySending()
{
    KeySender::instance().reset();
}

} // namespace pixkey
