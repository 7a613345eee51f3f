#pragma once

#include "InstanceHolder.h"
#include "LayoutState.h"
#include "ModifierRow.h"

#include <QString>

#include <array>

namespace pixkey {

// One layout: which instance owns each key in each of the six modifier rows, and the application
// it belongs to (empty path: a manual layout, or "Global" or "Idle"). Slots hold references to
// instance holders; the operations that change them are `AppCore`'s. Owned by `AppCore`'s layout
// array; main thread only.
class LayoutConfig {
public:
    static constexpr int kSlotCount = ModifierRow::kCount * ModifierRow::kKeys;

    // A layout without a name is called "Undefined". A non-empty path looks up the application's
    // icon (desktop entry or theme icon name).
    LayoutConfig(QString name, QString path);

    LayoutState state = LayoutState::New;
    const QString &name() const { return m_name; }
    const QString &path() const { return m_path; }
    // The icon of the application: a theme icon name or a file path; empty when none was found.
    const QString &icon() const { return m_icon; }

    // Slot (row, key), row 0..5, key 0..2; an empty reference when empty or out of range.
    const InstanceRef &slot(int row, int key) const;
    InstanceRef &slotRef(int row, int key);
    static bool isSlot(int row, int key) { return row >= 0 && row < ModifierRow::kCount && key >= 0 && key < ModifierRow::kKeys; }
    const std::array<InstanceRef, kSlotCount> &slots() const { return m_slots; }

    // The text after the last "\" or "/" of the path (the whole path when it has none).
    QString applicationFileName() const;

    bool isNamed(const QString &name) const { return m_name.compare(name, Qt::CaseInsensitive) == 0; }

private:
    QString m_name;
    QString m_path;
    QString m_icon;
    std::array<InstanceRef, kSlotCount> m_slots;
};

} // namespace pixkey
