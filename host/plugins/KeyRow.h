#pragma once

namespace pixkey {

class PluginInstance;

// The three slots of the row the keys show now (the active layout's current modifier row).
// Implemented by whoever owns the layouts; main thread only.
class KeyRow {
public:
    virtual ~KeyRow() = default;
    // The instance on `slot` (0..2), or null when the slot is empty.
    virtual PluginInstance *instanceAt(int slot) const = 0;
};

} // namespace pixkey
