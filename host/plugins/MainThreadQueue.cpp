#include "MainThreadQueue.h"

#include "FaceHandOff.h"

namespace pixkey {

void MainThreadQueue::setFaceHandler(FaceHandler handler)
{
    m_handler = std::move(handler);
}

void MainThreadQueue::setWakeHook(std::function<void()> hook)
{
    m_wakeHook = std::move(hook);
}

void MainThreadQueue::post(std::shared_ptr<FaceHandOff> handOff)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back({std::move(handOff), {}});
    }
    announce();
}

void MainThreadQueue::postTask(std::function<void()> task)
{
    {
        std::lock_guard lock(m_mutex);
        m_items.push_back({{}, std::move(task)});
    }
    announce();
}

void MainThreadQueue::wake()
{
    {
        std::lock_guard lock(m_mutex);
        m_woken = true;
    }
    announce();
}

void MainThreadQueue::announce()
{
    m_posted.notify_one();
    if (m_wakeHook)
        m_wakeHook();
}

std::size_t MainThreadQueue::pump()
{
    std::deque<Item> items;
    {
        std::lock_guard lock(m_mutex);
        items.swap(m_items);
        m_woken = false;
    }
    for (Item &item : items) {
        if (item.handOff)
            item.handOff->deliver(m_handler);
        else if (item.task)
            item.task();
    }
    return items.size();
}

std::size_t MainThreadQueue::pumpFor(std::chrono::milliseconds timeout)
{
    {
        std::unique_lock lock(m_mutex);
        m_posted.wait_for(lock, timeout, [this] { return !m_items.empty() || m_woken; });
    }
    return pump();
}

} // namespace pixkey
