#include <pixkey/pxkhk/DesktopCapabilities.h>

namespace pixkey {

const char *capabilityName(DesktopCapability capability)
{
    switch (capability) {
    case DesktopCapability::ActiveWindow:
        return "Active window";
    case DesktopCapability::SwitchHotkey:
        return "Switch hotkey";
    case DesktopCapability::ModifierRows:
        return "Modifier rows";
    case DesktopCapability::IdleTime:
        return "Idle time";
    case DesktopCapability::SendKeys:
        return "Sending keys";
    }
    return "?";
}

const char *capabilityStateName(CapabilityState state)
{
    switch (state) {
    case CapabilityState::Working:
        return "working";
    case CapabilityState::NeedsStep:
        return "needs a step";
    case CapabilityState::Unavailable:
        return "unavailable";
    }
    return "?";
}

} // namespace pixkey
