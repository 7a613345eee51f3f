#include "BusyAnimator.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include <sys/timerfd.h>
#include <unistd.h>

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
    if (!runThread)
        return;
    m_timerFd = ::timerfd_create(CLOCK_MONOTONIC, TFD_CLOEXEC);
    if (m_timerFd < 0)
        return; // no spinner rather than no program
    m_thread = std::thread([this] { run(); });
}

BusyAnimator::~BusyAnimator()
{
    TimerChange change;
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
        if (m_timerFd >= 0)
            change = decide(m_clock()); // fires at once: the thread sees m_stop
    }
    apply(change);
    if (m_thread.joinable())
        m_thread.join();
    if (m_timerFd >= 0)
        ::close(m_timerFd);
}

BusyAnimator::TimerChange BusyAnimator::decide(std::optional<std::chrono::steady_clock::time_point> at)
{
    m_armed = at.has_value();
    return TimerChange{++m_timerTicket, at};
}

void BusyAnimator::apply(const TimerChange &change)
{
    if (change.ticket == 0)
        return;
    // Decisions are taken under m_mutex but the system call is made after it, so that paint
    // threads do not queue behind one another's call. The ticket keeps the latest decision in
    // force whichever thread gets here first.
    std::lock_guard lock(m_timerMutex);
    if (change.ticket <= m_appliedTicket)
        return;
    m_appliedTicket = change.ticket;
    itimerspec spec{};
    if (change.at) {
        // A zero it_value would disarm the timer: a moment already past fires at once instead.
        const long long ns = std::max<long long>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(*change.at - m_clock()).count(), 1);
        spec.it_value.tv_sec = static_cast<time_t>(ns / 1000000000);
        spec.it_value.tv_nsec = static_cast<long>(ns % 1000000000);
    }
    ::timerfd_settime(m_timerFd, 0, &spec, nullptr);
}

BusyAnimator::TimerChange BusyAnimator::rearm()
{
    if (m_timerFd < 0 || m_stop)
        return {};
    if (m_painting.empty())
        return m_armed ? decide(std::nullopt) : TimerChange{};
    // A painting whose spinner is due turns every tick; the others wait for their delay.
    const auto now = m_clock();
    auto next = std::chrono::steady_clock::time_point::max();
    for (const auto &[key, painting] : m_painting) {
        const auto due = painting.start + kDelay;
        next = std::min(next, due > now ? due : now + kTick);
    }
    return decide(next);
}

std::chrono::steady_clock::time_point BusyAnimator::now() const
{
    return m_clock();
}

void BusyAnimator::add(std::shared_ptr<BusyTarget> target, std::chrono::steady_clock::time_point start)
{
    TimerChange change;
    {
        std::lock_guard lock(m_mutex);
        const BusyTarget *key = target.get();
        m_painting[key] = Painting{std::move(target), start};
        // An armed timer is due no later than this painting's spinner (it is armed for an earlier
        // painting's delay, or for the next tick), so only an idle timer is armed here.
        if (!m_armed && m_timerFd >= 0 && !m_stop)
            change = decide(start + kDelay);
    }
    apply(change);
}

void BusyAnimator::remove(const BusyTarget *target)
{
    std::shared_ptr<BusyTarget> last; // released outside the lock
    TimerChange change;
    {
        std::lock_guard lock(m_mutex);
        auto it = m_painting.find(target);
        if (it == m_painting.end())
            return;
        last = std::move(it->second.target);
        m_painting.erase(it);
        if (m_painting.empty())
            change = rearm(); // disarms: nobody paints
    }
    apply(change);
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
    for (;;) {
        uint64_t expirations = 0;
        const ssize_t r = ::read(m_timerFd, &expirations, sizeof expirations);
        if (r < 0 && errno != EINTR && errno != EAGAIN)
            return;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
        }
        ++m_wakes;
        tick();
        TimerChange change;
        {
            std::lock_guard lock(m_mutex);
            if (m_stop)
                return;
            // Whatever add and remove did meanwhile, the timer is set again from the set as it
            // is now (disarmed as well when it is empty, since the one-shot may have been re-armed).
            m_armed = true;
            change = rearm();
        }
        apply(change);
    }
}

} // namespace pixkey
