#pragma once

namespace pixkey {

class LayoutConfig;

// The kinds layouts are listed by, in list order.
enum class LayoutKind {
    Global = 1,      // the layout named "Global"
    Idle = 2,        // the layout named "Idle"
    Manual = 3,      // any other layout without an application path
    Missing = 4,     // no layout
    Application = 5, // a layout bound to an application
};

// The kind of `layout` (null: Missing). The path is looked at before the name.
LayoutKind layoutKind(const LayoutConfig *layout);
// List order: by kind, then by name without regard to case.
bool layoutListsBefore(const LayoutConfig *a, const LayoutConfig *b);

} // namespace pixkey
