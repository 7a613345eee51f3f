#include "InstanceHolder.h"

#include "PluginInstance.h"

namespace pixkey {

InstanceHolder::InstanceHolder(std::unique_ptr<PluginInstance> instance) : m_instance(std::move(instance)) {}

InstanceHolder::~InstanceHolder() = default;

} // namespace pixkey
