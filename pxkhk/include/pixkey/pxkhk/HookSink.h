// HookSink: what the desktop hook layer reports to the configurator that hooked it.
//
// Thread: every callback runs on the hook thread of the DesktopHook that delivers it ([hook-thread]),
// never on the caller of Hook. A receiver that owns state on another thread posts the values to
// that thread (the host posts them to its main event loop). Callbacks must return promptly: while
// one runs, no other desktop event or peer message is handled. A callback may call any DesktopHook
// method except Hook, UnHook (both refused there) and the destructor.
//
// Ownership: the sink belongs to the caller of Hook and must outlive the hooked period; after
// UnHook returns no callback is running or will run.
#pragma once

#include "PeerMessage.h"

#include <cstdint>

namespace pixkey {

class HookSink {
public:
    virtual ~HookSink() = default;

    // [hook-thread] The active (foreground) top-level window changed: `window` (an X window id)
    // became active (active = 1) or stopped being active (active = 0). A change from A to B arrives
    // as (A, 0) then (B, 1).
    virtual void onForegroundChanged(unsigned long window, int active) = 0;

    // [hook-thread] The modifier keys held now select row `row` (0..5): 0 "Default" (none), 1 "Ctrl",
    // 2 "Shift", 3 "Alt", 4 "Alt+Shift", 5 "Ctrl+Shift". Ctrl+Alt and Ctrl+Alt+Shift have no row of
    // their own and give row 0; Win (Super) is not counted. Reported only when the row changes.
    virtual void onModifierRow(int row) = 0;

    // [hook-thread] A registered hotkey was pressed: `id` as given to RegisterHotkey, `lParam` =
    // virtual-key code * 65536 + modifier set (Alt 1, Ctrl 2, Shift 4, Win 8) of the registration.
    // A held key repeats.
    virtual void onHotkey(int id, std::uint32_t lParam) = 0;

    // [hook-thread] Another configurator broadcast `message` to the running configurators.
    virtual void onPeerMessage(const PeerMessage &message) = 0;

    // [hook-thread] Another process asked the running configurators to show their windows.
    virtual void onShowWindow() = 0;
};

} // namespace pixkey
