#include "FeedRunner.hpp"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>
#include <thread>

namespace pixkey::rss {

struct FeedRunner::Shared {
    Shared(const RssSettings &initial, Options options) : initial(initial), options(std::move(options)) {}

    const RssSettings initial;
    Options options;

    mutable std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;                // guarded by lock
    bool finished = false;                // guarded by lock
    std::optional<RssSettings> pending;   // guarded by lock
    Canvas canvases[2]{};                 // the visible one guarded by lock; the hidden one the worker's
    int visible = 0;                      // guarded by lock
    std::string shownLink;                // guarded by lock
    int frames = 0;                       // guarded by lock
    std::atomic<bool> fresh{false};       // a canvas became visible since the last takeFrame
    std::atomic<bool> abandoned{false};   // stop() was asked: the worker only winds down
    std::thread thread;                   // joined or detached by stop()
};

namespace {

std::atomic<int> g_liveWorkers{0};

std::uint32_t steadyTick()
{
    using namespace std::chrono;
    return std::uint32_t(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

} // namespace

FeedRunner::FeedRunner(const RssSettings &settings, Options options)
    : m_shared(std::make_shared<Shared>(settings, std::move(options)))
{
    g_liveWorkers.fetch_add(1);
    m_shared->thread = std::thread(&FeedRunner::run, m_shared);
}

FeedRunner::~FeedRunner()
{
    stop();
}

int FeedRunner::liveWorkers()
{
    return g_liveWorkers.load();
}

void FeedRunner::run(std::shared_ptr<Shared> shared)
{
    {
        FeedState state(shared->initial, shared->options.limits);
        // A download that ends after stop() is not parsed, and nothing more is drawn.
        state.setAbandoned([&shared] { return shared->abandoned.load(std::memory_order_acquire); });
        state.activate();
        const auto now = shared->options.now ? shared->options.now : steadyTick;
        for (;;) {
            std::optional<RssSettings> pending;
            int hidden;
            {
                std::lock_guard guard(shared->lock);
                if (shared->stopping)
                    break;
                pending.swap(shared->pending);
                hidden = 1 - shared->visible;
            }
            if (pending)
                state.apply(*pending);
            const RssSettings before = state.settings();
            PkxSurface face{shared->canvases[hidden].data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
            const int drew = state.cycle(now(), face);

            std::unique_lock guard(shared->lock);
            if (shared->stopping)
                break;
            if (state.settings() != before && shared->options.onSettings)
                shared->options.onSettings(state.settings());
            if (drew) {
                shared->visible = hidden;
                shared->shownLink = state.current().link;
                ++shared->frames;
                shared->fresh.store(true, std::memory_order_release);
                if (shared->options.onFrame)
                    shared->options.onFrame();
            }
            shared->wake.wait_for(guard, shared->options.cycle,
                                  [&] { return shared->stopping || shared->pending.has_value(); });
        }
        // The state, its items and pictures go here, on the worker.
    }
    std::lock_guard guard(shared->lock);
    shared->finished = true;
    shared->wake.notify_all();
    g_liveWorkers.fetch_sub(1);
}

void FeedRunner::apply(const RssSettings &settings)
{
    std::lock_guard guard(m_shared->lock);
    m_shared->pending = settings;
    m_shared->wake.notify_all();
}

bool FeedRunner::takeFrame(PkxSurface &face)
{
    if (!m_shared->fresh.load(std::memory_order_acquire))
        return false;
    std::lock_guard guard(m_shared->lock);
    m_shared->fresh.store(false, std::memory_order_relaxed);
    const Canvas &canvas = m_shared->canvases[m_shared->visible];
    const int rows = std::min(face.height, int(PKX_FACE_SIZE));
    const std::size_t bytes = std::size_t(std::min(face.width, int(PKX_FACE_SIZE))) * 3;
    for (int y = 0; y < rows; ++y)
        std::memcpy(face.bits + y * face.stride, canvas.data() + y * PKX_FACE_STRIDE, bytes);
    return true;
}

void FeedRunner::copyVisible(Canvas &out) const
{
    std::lock_guard guard(m_shared->lock);
    out = m_shared->canvases[m_shared->visible];
}

std::string FeedRunner::shownLink() const
{
    std::lock_guard guard(m_shared->lock);
    return m_shared->shownLink;
}

int FeedRunner::frames() const
{
    std::lock_guard guard(m_shared->lock);
    return m_shared->frames;
}

bool FeedRunner::finished() const
{
    std::lock_guard guard(m_shared->lock);
    return m_shared->finished;
}

bool FeedRunner::stop(std::chrono::milliseconds wait)
{
    std::unique_lock guard(m_shared->lock);
    if (!m_shared->thread.joinable())
        return m_shared->finished;
    m_shared->stopping = true;
    m_shared->abandoned.store(true, std::memory_order_release);
    m_shared->options.onFrame = nullptr;
    m_shared->options.onSettings = nullptr;
    m_shared->wake.notify_all();
    const bool ended = m_shared->wake.wait_for(guard, wait, [&] { return m_shared->finished; });
    std::thread thread = std::move(m_shared->thread);
    guard.unlock();
    if (ended)
        thread.join();
    else
        thread.detach(); // it holds its own reference to everything it uses
    return ended;
}

} // namespace pixkey::rss
