// FocusedWindow.h: the process that owns the window in front on the X display, for plug-ins that
// act on "the program the user is looking at".
#pragma once

#include "UtilityExport.h"

namespace pixkey {

// Process id of the focused window: the window named by the root window's _NET_ACTIVE_WINDOW
// (set by every EWMH window manager) and that window's _NET_WM_PID. 0 when there is no display,
// no active window, or the window does not tell its process (X errors, such as a window closed
// meanwhile, give 0 too). Opens its own short-lived connection to $DISPLAY for each call, so it
// costs a few round trips: call it from a worker thread, not on every paint. [any-thread]
PIXKEY_UTILITY_EXPORT int FocusedWindowProcess();

} // namespace pixkey
