// RecordingSink: a HookSink for tests that records every callback and lets the test thread wait,
// with a bound, until what it expects has arrived.
#pragma once

#include <pixkey/pxkhk/HookSink.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

namespace pixkey::test {

class RecordingSink : public HookSink {
public:
    struct Record {
        std::vector<std::pair<unsigned long, int>> foreground;
        std::vector<int> rows;
        std::vector<std::pair<int, std::uint32_t>> hotkeys;
        std::vector<PeerMessage> messages;
        int showWindow = 0;
    };

    void onForegroundChanged(unsigned long window, int active) override
    {
        change([&](Record &r) { r.foreground.emplace_back(window, active); });
    }
    void onModifierRow(int row) override
    {
        change([&](Record &r) { r.rows.push_back(row); });
    }
    void onHotkey(int id, std::uint32_t lParam) override
    {
        change([&](Record &r) { r.hotkeys.emplace_back(id, lParam); });
    }
    void onPeerMessage(const PeerMessage &message) override
    {
        if (m_reentry)
            m_reentry();
        change([&](Record &r) { r.messages.push_back(message); });
    }
    void onShowWindow() override
    {
        change([&](Record &r) { ++r.showWindow; });
    }

    // Waits up to `bound` for `done` to hold; returns a copy of the record either way.
    Record waitUntil(const std::function<bool(const Record &)> &done,
                     std::chrono::milliseconds bound = std::chrono::seconds(10))
    {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, bound, [&] { return done(m_record); });
        return m_record;
    }
    Record snapshot()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_record;
    }
    void clear()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_record = Record();
    }
    // Something to run inside onPeerMessage, on the hook thread (set before hooking).
    void setReentry(std::function<void()> reentry) { m_reentry = std::move(reentry); }

private:
    template <typename F>
    void change(F f)
    {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            f(m_record);
        }
        m_changed.notify_all();
    }

    std::mutex m_lock;
    std::condition_variable m_changed;
    Record m_record; // guarded by m_lock
    std::function<void()> m_reentry;
};

} // namespace pixkey::test
