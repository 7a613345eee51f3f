#pragma once

#include <QString>

namespace pixkey {

// The six key sets of a layout, one per modifier combination held down: 0 Default, 1 Ctrl,
// 2 Shift, 3 Alt, 4 Alt+Shift, 5 Ctrl+Shift.
class ModifierRow {
public:
    static constexpr int kCount = 6;
    static constexpr int kKeys = 3;     // keys per row, numbered 0..2 ("001".."003" in storage)
    static constexpr int kCurrent = 6;  // `getSlot`'s stand-in for the current row

    // "_Default", "Ctrl", "Shift", "Alt", "AltShift", "CtrlShift"; empty outside 0..5.
    static QString storageName(int row);
    // "Default", "Ctrl", "Shift", "Alt", "Alt+Shift", "Ctrl+Shift"; empty outside 0..5.
    static QString displayName(int row);
    // The row a name stands for, in any case: the display names above ("Alt+Shift") and the
    // storage names ("AltShift", "_Default"); -1 for anything else.
    static int fromName(const QString &name);
};

} // namespace pixkey
