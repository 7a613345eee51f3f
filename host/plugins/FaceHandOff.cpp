#include "FaceHandOff.h"

namespace pixkey {

bool FaceHandOff::deliver(const std::function<void(PluginInstance &)> &handler)
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return false;
        m_state = State::Running;
    }
    if (handler)
        handler(*m_instance);
    {
        std::lock_guard lock(m_mutex);
        m_state = State::Done;
    }
    m_changed.notify_all();
    return true;
}

void FaceHandOff::abandon()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_state != State::Pending)
            return;
        m_state = State::Abandoned;
    }
    m_changed.notify_all();
}

void FaceHandOff::wait()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_state == State::Done || m_state == State::Abandoned; });
}

bool FaceHandOff::isFinished() const
{
    std::lock_guard lock(m_mutex);
    return m_state == State::Done || m_state == State::Abandoned;
}

} // namespace pixkey
