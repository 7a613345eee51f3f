#include "LayoutSwitcher.h"

#include "AppCore.h"
#include "DesktopPort.h"
#include "FrameTransform.h"
#include "LinkPort.h"
#include "ModifierRow.h"
#include "PluginInstance.h"
#include "PrivateMessage.h"
#include "RuntimeWindow.h"
#include "WindowTitle.h"

#include <algorithm>

namespace pixkey {

namespace {
const QString kIdleName = QStringLiteral("Idle");
}

LayoutSwitcher::LayoutSwitcher(AppCore &core, DesktopPort &desktop, LinkPort &link, RuntimeWindow &window,
                               Clock clock, RowPoster postRow, int ownProcessId)
    : m_core(core), m_desktop(desktop), m_link(link), m_window(window), m_clock(std::move(clock)),
      m_postRow(std::move(postRow)), m_ownProcessId(ownProcessId)
{
    m_deviceTimer.setSingleShot(true);
    m_deviceTimer.setInterval(kDeviceSettleMs);
    m_deviceTimer.callOnTimeout([this] { onDeviceTimer(); });
}

// --- switch hotkey -------------------------------------------------------------------------------

std::uint32_t LayoutSwitcher::hotkeyParameter() const
{
    const auto key = std::uint32_t(m_core.settings.value(Settings::SwitchLayoutHotkey)) & 0xFFFFu;
    const auto modifiers = std::uint32_t(m_core.settings.value(Settings::SwitchLayoutModifier)) & 0xFFFFu;
    return key * 65536u + modifiers;
}

void LayoutSwitcher::registerHotkey()
{
    const int key = m_core.settings.value(Settings::SwitchLayoutHotkey);
    if (key != 0)
        m_desktop.registerHotkey(kHotkeyId, m_core.settings.value(Settings::SwitchLayoutModifier), key);
}

void LayoutSwitcher::onHotkeyChanged(bool passOn)
{
    const int modifiers = m_core.settings.value(Settings::SwitchLayoutModifier);
    const int key = m_core.settings.value(Settings::SwitchLayoutHotkey);
    // A combination without a modifier would take the key from every program: not registered here.
    if (modifiers != 0 && key != 0)
        m_desktop.registerHotkey(kHotkeyId, modifiers, key);
    else if (modifiers == 0)
        m_desktop.unregisterHotkey(kHotkeyId);
    if (passOn && m_desktop.configuratorsCount() > 1)
        m_desktop.broadcast(messageNumber(PrivateMessage::HotkeyChanged), 0, hotkeyParameter());
}

void LayoutSwitcher::onHotkey(bool passOn, std::uint32_t lParam)
{
    if (lParam != hotkeyParameter())
        return; // an earlier combination still on its way
    m_core.select(m_core.nextManualLayout(m_core.activeLayout));
    if (passOn && m_desktop.configuratorsCount() > 1)
        m_desktop.broadcast(messageNumber(PrivateMessage::Hotkey), 0, lParam);
}

void LayoutSwitcher::switchLayout(bool passOn)
{
    onHotkey(passOn, hotkeyParameter());
}

void LayoutSwitcher::unregisterHotkey()
{
    m_desktop.unregisterHotkey(kHotkeyId);
}

// --- automatic switching ---------------------------------------------------------------------------

void LayoutSwitcher::onForegroundChanged(unsigned long window, bool active)
{
    if (m_core.settings.value(Settings::AutoSwitch) != 1)
        return;
    if (!active) {
        if (window != 0 && window == m_autoSwitchedWindow) {
            m_core.select(-1);
            m_autoSwitchedWindow = 0;
        }
        return;
    }
    const int pid = m_desktop.processIdOfWindow(window);
    if (pid == m_ownProcessId && pid != 0)
        return; // one of the configurator's own windows
    // A window without a known process (a Wayland toplevel the compositor lists without one) is
    // named by its application id; one with neither is unknown and changes nothing.
    const QString name = QString::fromStdString(m_desktop.executableNameOfWindow(window));
    if (pid == 0 && name.isEmpty())
        return;
    // A process whose executable cannot be read matches no layout (layouts without a path have
    // an empty file name too, and must not be taken for it).
    if (!name.isEmpty()) {
        for (auto it = m_core.layouts.rbegin(); it != m_core.layouts.rend(); ++it) {
            LayoutConfig *layout = it->get();
            if (!layout || layout->state == LayoutState::Deleted || layout->path().isEmpty())
                continue;
            if (AppCore::applicationFileName(*layout).compare(name, Qt::CaseInsensitive) != 0)
                continue;
            if (layout == m_core.activeLayout)
                return;
            m_core.activate(layout);
            m_autoSwitchedWindow = window;
            return;
        }
    }
    m_core.select(-1);
    m_autoSwitchedWindow = 0;
}

// --- inactivity ------------------------------------------------------------------------------------

bool LayoutSwitcher::idleCannotMatter(std::int64_t now, std::int64_t screensaver) const
{
    if (!m_idleSeen || m_core.idleActive || m_core.illuminationOff || m_forcedIdle)
        return false;
    const std::int64_t since = now - m_idleSeenAt;
    if (since < 0 || since > kIdleRecheckMs)
        return false;
    // Input only ever shortens the idle time: it is at most what was seen plus the time since. The
    // illumination goes off only while idle, so the idle layout's threshold is the one to watch.
    return screensaver == 0 || *m_idleSeen + since <= screensaver;
}

void LayoutSwitcher::onIdleTick()
{
    const std::int64_t screensaver = Settings::sliderDurationMs(m_core.settings.value(Settings::ScreensaverOn));
    // Asking the desktop is a round trip to its server on the hook's thread: skipped while the
    // answer could not change anything.
    const std::int64_t now = m_clock();
    if (idleCannotMatter(now, screensaver))
        return;
    const std::optional<std::uint32_t> idleTime = m_desktop.idleTime();
    if (!idleTime) {
        m_idleSeen.reset();
        return;
    }
    const std::int64_t idle = *idleTime;
    m_idleSeen = idle;
    m_idleSeenAt = now;
    const std::int64_t dark = Settings::sliderDurationMs(m_core.settings.value(Settings::IlluminationOff));
    const bool wantIdle = (screensaver != 0 && screensaver < idle) || m_forcedIdle;
    const bool wantDark = dark != 0 && dark < idle && wantIdle;

    if (!m_core.illuminationOff && wantDark) {
        m_link.postCommand(LinkCommand::DisplayOff, 0, true);
        m_core.illuminationOff = true;
        return;
    }
    if (m_core.idleActive || !wantIdle) {
        if (m_core.illuminationOff && !wantDark) {
            m_link.postCommand(LinkCommand::DisplayOn, 0, true);
            for (std::uint8_t key = 1; key <= 3; ++key)
                m_link.postCommand(LinkCommand::ShowFrame, key, false);
            m_core.illuminationOff = false;
            if (m_returnPending)
                leaveIdle();
        }
        if (m_core.idleActive && !wantIdle)
            leaveIdle();
        return;
    }
    if (m_postRow)
        m_postRow(0, 0);
    enterIdle();
}

void LayoutSwitcher::enterIdle()
{
    m_returnPending = false;
    m_layoutBeforeIdle = m_core.activeLayout;
    m_core.select(-2);
    m_core.idleActive = true;
}

void LayoutSwitcher::leaveIdle()
{
    m_core.idleActive = false;
    if (m_core.illuminationOff) {
        // `activate` refuses while dark: the layout comes back when the keys light up again.
        m_returnPending = true;
        return;
    }
    m_returnPending = false;
    LayoutConfig *active = m_core.activeLayout;
    if (!active || active->name().compare(kIdleName, Qt::CaseInsensitive) != 0)
        return;
    // The layout shown before may have been deleted (and destroyed by a save) or replaced by a
    // reload meanwhile; then "Global" comes back instead of a stale pointer.
    LayoutConfig *before = m_layoutBeforeIdle;
    m_layoutBeforeIdle = nullptr;
    if (before && m_core.indexOf(before) >= 0 && before->state != LayoutState::Deleted)
        m_core.activate(before);
    else
        m_core.select(-1);
}

void LayoutSwitcher::onSessionLocked(bool locked)
{
    if (locked && m_postRow)
        m_postRow(0, 0);
    setForcedIdle(locked);
}

void LayoutSwitcher::setForcedIdle(bool forced)
{
    if (forced == m_forcedIdle)
        return;
    m_forcedIdle = forced;
    if (!m_core.idleActive && forced)
        enterIdle();
    else if (m_core.idleActive && !forced)
        leaveIdle();
}

// --- session, power, devices ---------------------------------------------------------------------

void LayoutSwitcher::onSessionActive(bool active)
{
    if (active) {
        m_link.connect();
    } else {
        m_link.postCommand(LinkCommand::DisplayOff, 0, true);
        m_link.disconnect();
    }
}

void LayoutSwitcher::onSuspend()
{
    m_link.postCommand(LinkCommand::DisplayOff, 0, true);
    m_link.disconnect();
}

void LayoutSwitcher::onResume()
{
    m_link.connect();
}

void LayoutSwitcher::onDeviceChange()
{
    m_deviceTimer.start();
}

void LayoutSwitcher::onDeviceTimer()
{
    m_deviceTimer.stop();
    m_link.connect();
}

// --- rows, keys, connection -------------------------------------------------------------------------

void LayoutSwitcher::onModifierRow(int row, bool force)
{
    if (m_window.optionsBusy() > 0 || m_window.keyPreviewHasFocus())
        return;
    if (row < 0 || row >= ModifierRow::kCount || !m_core.activeLayout)
        return;
    if (!force && !m_core.hasAnyInstance(*m_core.activeLayout, row))
        return;
    m_core.setCurrentRow(row);
    m_window.rowChanged();
    m_core.sendAllFaces();
}

bool LayoutSwitcher::chooseRow(int row)
{
    // Unlike the modifier keys, a choice made in a menu is not typing in the key preview: only
    // an open options dialog (which edits a key of the row shown) holds it off.
    if (row < 0 || row >= ModifierRow::kCount || !m_core.activeLayout || m_window.optionsBusy() > 0)
        return false;
    m_core.setCurrentRow(row);
    m_window.rowChanged();
    m_core.sendAllFaces();
    return m_core.currentRow == row;
}

void LayoutSwitcher::onKeyPressed(int deviceKey)
{
    if (!m_core.activeLayout || deviceKey < 1 || deviceKey > 3)
        return;
    if (!m_debouncer.accept(deviceKey, m_clock()))
        return;
    const int slot = slotForDeviceKey(deviceKey, m_core.settings.value(Settings::Orientation));
    if (pressTaken)
        pressTaken(slot);
    const InstanceRef holder = m_core.getSlot(*m_core.activeLayout, slot, ModifierRow::kCurrent);
    if (holder && holder->instance())
        holder->instance()->KeyPressed();
}

void LayoutSwitcher::onConnectionChanged(bool connected)
{
    if (connected) {
        const QString port = m_link.portName();
        if (m_core.wantsProfile(port, m_desktop.configuratorsCount()))
            adopt(port);
        m_link.postCommand(LinkCommand::DisplayOn, 0, false);
        m_link.postCommand(LinkCommand::DisplayOn, 0, false);
        m_link.postCommand(LinkCommand::SetBrightness, std::uint8_t(m_core.settings.brightnessLevel()), false);
        m_link.requestRefresh();
    }
    m_window.connectionChanged(connected);
}

void LayoutSwitcher::onAdoptProfile()
{
    if (m_core.profileSuffix.isEmpty())
        adopt(m_link.portName());
}

void LayoutSwitcher::adopt(const QString &portName)
{
    const bool wasIdle = m_core.idleActive || m_core.illuminationOff;
    LayoutConfig *before = m_core.activeLayout;
    if (!m_core.adoptProfile(portName))
        return;
    updateTitle();
    if (m_core.activeLayout != before || !m_core.activeLayout)
        afterReload(wasIdle);
}

void LayoutSwitcher::reload()
{
    const bool wasIdle = m_core.idleActive || m_core.illuminationOff;
    m_core.fullReload();
    afterReload(wasIdle);
}

void LayoutSwitcher::afterReload(bool wasIdle)
{
    // Everything was loaded again: the old layouts are gone, and so is anything pointing at them.
    m_layoutBeforeIdle = nullptr;
    m_autoSwitchedWindow = 0;
    if (!m_core.activeLayout && wasIdle) {
        // The reload could not activate "Global" while idle; show it now and let the next
        // input come back to it.
        const bool idle = m_core.idleActive, dark = m_core.illuminationOff;
        m_core.idleActive = m_core.illuminationOff = false;
        m_core.select(idle ? -2 : -1);
        m_core.idleActive = idle;
        m_core.illuminationOff = dark;
    }
    m_window.coreReloaded();
}

void LayoutSwitcher::updateTitle()
{
    m_window.setTitle(WindowTitle::title(m_core, true), WindowTitle::title(m_core, false));
}

} // namespace pixkey
