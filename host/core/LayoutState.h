#pragma once

#include <cstdint>

namespace pixkey {

// Where a layout or a catalogue entry stands against the store; the values are stored.
enum class LayoutState : std::int32_t {
    Clean = 0,    // as stored
    Modified = 1, // changed since it was stored, written at the next save
    New = 2,      // not stored yet, written at the next save
    Deleted = 3,  // removed from the store at the next save (layouts only)
};

} // namespace pixkey
