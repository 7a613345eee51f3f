#include "ModifierRow.h"

namespace pixkey {

QString ModifierRow::storageName(int row)
{
    static const char *const names[kCount] = {"_Default", "Ctrl", "Shift", "Alt", "AltShift", "CtrlShift"};
    return row >= 0 && row < kCount ? QString::fromLatin1(names[row]) : QString();
}

QString ModifierRow::displayName(int row)
{
    static const char *const names[kCount] = {"Default", "Ctrl", "Shift", "Alt", "Alt+Shift", "Ctrl+Shift"};
    return row >= 0 && row < kCount ? QString::fromLatin1(names[row]) : QString();
}

} // namespace pixkey
