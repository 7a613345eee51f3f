#include "BusyAnimator.h"

#include <array>

namespace pixkey {

namespace {

// The strip (160x20: eight 20x20 frames side by side) keys out pure white as transparent.
std::array<QImage, BusyAnimator::kFrames> loadFrames()
{
    QImage strip = QImage(QStringLiteral(":/pixkey/plugins/spinner.png")).convertToFormat(QImage::Format_ARGB32);
    std::array<QImage, BusyAnimator::kFrames> frames;
    for (int n = 0; n < BusyAnimator::kFrames; ++n) {
        QImage frame = strip.isNull() ? QImage(20, 20, QImage::Format_ARGB32) : strip.copy(n * 20, 0, 20, 20);
        if (strip.isNull())
            frame.fill(Qt::transparent);
        for (int y = 0; y < frame.height(); ++y) {
            auto *line = reinterpret_cast<QRgb *>(frame.scanLine(y));
            for (int x = 0; x < frame.width(); ++x)
                if ((line[x] & 0xFFFFFFu) == 0xFFFFFFu)
                    line[x] = 0;
        }
        frames[static_cast<size_t>(n)] = frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    }
    return frames;
}

} // namespace

BusyAnimator &BusyAnimator::instance()
{
    // Never destroyed: a paint thread left behind inside a plug-in may still use it at exit.
    static BusyAnimator *animator = new BusyAnimator;
    return *animator;
}

BusyAnimator::BusyAnimator(Clock clock, bool runThread) : m_clock(std::move(clock))
{
    if (!m_clock)
        m_clock = [] { return std::chrono::steady_clock::now(); };
    if (runThread)
        m_thread = std::thread([this] { run(); });
}

BusyAnimator::~BusyAnimator()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable())
        m_thread.join();
}

std::chrono::steady_clock::time_point BusyAnimator::now() const
{
    return m_clock();
}

void BusyAnimator::add(std::shared_ptr<BusyTarget> target, std::chrono::steady_clock::time_point start)
{
    {
        std::lock_guard lock(m_mutex);
        const BusyTarget *key = target.get();
        m_painting[key] = Painting{std::move(target), start};
    }
    m_wake.notify_all();
}

void BusyAnimator::remove(const BusyTarget *target)
{
    std::shared_ptr<BusyTarget> last; // released outside the lock
    std::lock_guard lock(m_mutex);
    auto it = m_painting.find(target);
    if (it == m_painting.end())
        return;
    last = std::move(it->second.target);
    m_painting.erase(it);
}

bool BusyAnimator::contains(const BusyTarget *target)
{
    std::lock_guard lock(m_mutex);
    return m_painting.count(target) != 0;
}

int BusyAnimator::frameFor(std::chrono::milliseconds elapsed)
{
    if (elapsed < kDelay)
        return -1;
    return static_cast<int>(((elapsed - kDelay) / kTick) % kFrames);
}

void BusyAnimator::tick()
{
    std::lock_guard lock(m_mutex);
    const auto now = m_clock();
    for (auto &[key, painting] : m_painting) {
        if (!painting.target->busyActive())
            continue;
        const int frame = frameFor(std::chrono::duration_cast<std::chrono::milliseconds>(now - painting.start));
        if (frame >= 0)
            painting.target->showBusyFrame(frame);
    }
}

const QImage &BusyAnimator::spinnerFrame(int n)
{
    static const std::array<QImage, kFrames> frames = loadFrames();
    return frames[static_cast<size_t>(((n % kFrames) + kFrames) % kFrames)];
}

void BusyAnimator::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stop) {
        // Nobody painting: sleep until someone is, so an idle program never wakes up for nothing.
        m_wake.wait(lock, [this] { return m_stop || !m_painting.empty(); });
        if (m_wake.wait_for(lock, kTick, [this] { return m_stop; }))
            break;
        lock.unlock();
        tick();
        lock.lock();
    }
}

} // namespace pixkey
