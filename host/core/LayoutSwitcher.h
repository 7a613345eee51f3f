#pragma once

#include "KeyDebouncer.h"

#include <QTimer>

#include <cstdint>
#include <functional>
#include <optional>

namespace pixkey {

class AppCore;
class DesktopPort;
class LayoutConfig;
class LinkPort;
class RuntimeWindow;

// Decides, event by event, which layout is active and which modifier row the keys show: the switch
// hotkey, automatic switching by the foreground application, the idle layout and the dark keypad
// after inactivity, session lock and console changes, suspend and resume, device changes, modifier
// rows, key presses (debounced) and the keypad connecting. It holds the switching state that the
// core does not (`forcedIdle`, `layoutBeforeIdle`, `autoSwitchedWindow`); `idleActive` and
// `illuminationOff` live in the core, whose `activate` refuses while either is set.
//
// Works on the core, desktop, link and window given to it, which must outlive it. Main thread only:
// callbacks of the link and the hook reach it as posted events.
class LayoutSwitcher {
public:
    using Clock = std::function<std::int64_t()>; // milliseconds, monotonic
    // How the idle tick posts "modifier row 0" to the main window (queued, not handled at once).
    using RowPoster = std::function<void(int row, int force)>;

    static constexpr int kHotkeyId = 1;
    static constexpr int kIdlePeriodMs = 1500;
    // While the idle time cannot reach a threshold the desktop is not asked, but at least this
    // often.
    static constexpr int kIdleRecheckMs = 60000;
    static constexpr int kDeviceSettleMs = 2000;

    LayoutSwitcher(AppCore &core, DesktopPort &desktop, LinkPort &link, RuntimeWindow &window,
                   Clock clock, RowPoster postRow, int ownProcessId);

    // --- switch hotkey ---------------------------------------------------------------------------
    // Registers the stored hotkey when it has a key (start-up).
    void registerHotkey();
    // The settings changed the hotkey; `passOn` tells the other configurators as well.
    void onHotkeyChanged(bool passOn);
    // A registered hotkey was pressed (`lParam` key * 65536 + modifiers). Only the stored pair
    // switches; `passOn` makes every other keypad switch too.
    void onHotkey(bool passOn, std::uint32_t lParam);
    void unregisterHotkey();
    std::uint32_t hotkeyParameter() const;
    // What the switch hotkey does, without the key (`pixkeyctl switch-layout`, for desktops that
    // let no program take a key): the next manual layout here and, with `passOn`, in every other
    // configurator, told exactly as a press of the hotkey tells them.
    void switchLayout(bool passOn);

    // --- automatic switching -----------------------------------------------------------------
    void onForegroundChanged(unsigned long window, bool active);
    unsigned long autoSwitchedWindow() const { return m_autoSwitchedWindow; }

    // --- inactivity ----------------------------------------------------------------------------
    // One tick of the idle timer. The desktop's idle time is asked only when it could change
    // something: while idle or dark, when the idle layout's threshold may have been reached since
    // the last answer, and once a minute.
    void onIdleTick();
    // Session locked (counts as inactivity at once) or unlocked.
    void onSessionLocked(bool locked);
    bool forcedIdle() const { return m_forcedIdle; }
    LayoutConfig *layoutBeforeIdle() const { return m_layoutBeforeIdle; }

    // --- session, power, devices ---------------------------------------------------------------
    // This session became the active one on its seat (the keypad is ours again) or stopped being
    // it (the keypad is freed for the other session's configurator).
    void onSessionActive(bool active);
    // Before sleeping: the keys go dark (waiting until the keypad took it) and the link closes.
    void onSuspend();
    void onResume();
    // A tty came or went: one search for the keypad once the changes settled for two seconds.
    void onDeviceChange();
    bool deviceSearchPending() const { return m_deviceTimer.isActive(); }
    // The settle timer ran out (also called by tests).
    void onDeviceTimer();

    // --- rows, keys, connection -----------------------------------------------------------------
    void onModifierRow(int row, bool force);
    // A row the user chose by hand (tray menu, `pixkeyctl row`) where no modifier keys can be
    // watched: shown even when empty, until the layout changes or held modifiers change. False
    // when it was not taken: no layout is active, an options dialog is open, or the layout shown
    // has only its default row ("Idle").
    bool chooseRow(int row);
    void onKeyPressed(int deviceKey);
    void onConnectionChanged(bool connected);
    // A configurator for another keypad started: use this keypad's own profile if none yet.
    void onAdoptProfile();
    // Loads settings, catalogue and layouts again from the store (another program changed them);
    // "Global" comes back, or "Idle" while the keypad is idle.
    void reload();

    // Told of every press the debouncing took, with its slot 0..2 (also for an empty key).
    std::function<void(int slot)> pressTaken;

private:
    bool idleCannotMatter(std::int64_t now, std::int64_t screensaver) const;
    void setForcedIdle(bool forced);
    void enterIdle();
    void leaveIdle();
    void adopt(const QString &portName);
    void afterReload(bool wasIdle);
    void updateTitle();

    AppCore &m_core;
    DesktopPort &m_desktop;
    LinkPort &m_link;
    RuntimeWindow &m_window;
    Clock m_clock;
    RowPoster m_postRow;
    const int m_ownProcessId;
    KeyDebouncer m_debouncer;
    QTimer m_deviceTimer;

    bool m_forcedIdle = false;
    LayoutConfig *m_layoutBeforeIdle = nullptr; // checked against the core's layouts before use
    unsigned long m_autoSwitchedWindow = 0;
    bool m_returnPending = false; // idle ended while dark: return once the keys light up
    std::optional<std::int64_t> m_idleSeen; // the desktop's last answer, in milliseconds
    std::int64_t m_idleSeenAt = 0;          // and when it was given (m_clock)
};

} // namespace pixkey
