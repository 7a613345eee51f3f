#pragma once

#include <memory>

namespace pixkey {

class PluginInstance;

// Holds one plug-in instance placed on keys. Every slot and every temporary user holds a
// reference (`InstanceRef`); when the last one goes, the holder and its instance are destroyed,
// which stops the paint thread and lets the plug-in free the object. The catalogue keeps only
// weak references, so "no holder referenced any more" is when its library may be unloaded.
// Main thread only.
class InstanceHolder {
public:
    explicit InstanceHolder(std::unique_ptr<PluginInstance> instance);
    ~InstanceHolder();
    InstanceHolder(const InstanceHolder &) = delete;
    InstanceHolder &operator=(const InstanceHolder &) = delete;

    PluginInstance *instance() const { return m_instance.get(); }

private:
    std::unique_ptr<PluginInstance> m_instance;
};

using InstanceRef = std::shared_ptr<InstanceHolder>;

} // namespace pixkey
