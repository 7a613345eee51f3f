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

int ModifierRow::fromName(const QString &name)
{
    const QString wanted = name.trimmed();
    if (wanted.isEmpty())
        return -1;
    for (int row = 0; row < kCount; ++row)
        if (wanted.compare(displayName(row), Qt::CaseInsensitive) == 0 ||
            wanted.compare(storageName(row), Qt::CaseInsensitive) == 0)
            return row;
    return -1;
}

} // namespace pixkey
