#include "InstanceHarness.h"

#include <QPainter>

namespace pixkey {
namespace {

using test::pixelAt;
using test::pumpUntil;
using test::waitUntil;
using namespace std::chrono_literals;

TEST(BusyAnimator, SpinnerStartsAfter249MsAndTurnsEvery125Ms)
{
    const struct {
        std::chrono::milliseconds elapsed;
        int frame;
    } cases[] = {{0ms, -1}, {249ms, -1}, {250ms, 0}, {374ms, 0}, {375ms, 1}, {1000ms, 6}, {1249ms, 7}, {1250ms, 0}};
    for (const auto &c : cases)
        EXPECT_EQ(BusyAnimator::frameFor(c.elapsed), c.frame) << c.elapsed.count() << " ms";
}

TEST(BusyAnimator, SpinnerFramesAreDistinctWithATransparentBackground)
{
    for (int n = 0; n < BusyAnimator::kFrames; ++n) {
        const QImage &frame = BusyAnimator::spinnerFrame(n);
        ASSERT_EQ(frame.size(), QSize(20, 20));
        EXPECT_EQ(qAlpha(frame.pixel(0, 0)), 0) << "corner of frame " << n;
        EXPECT_GT(qAlpha(frame.pixel(10, 3)), 0) << "a dot at the top of frame " << n;
        EXPECT_NE(frame, BusyAnimator::spinnerFrame((n + 1) % BusyAnimator::kFrames)) << n;
    }
}

// Records the spinner frames the animator's own thread asks for.
struct FrameRecorder final : BusyTarget {
    bool busyActive() const override { return true; }
    void showBusyFrame(int frame) override
    {
        std::lock_guard lock(mutex);
        frames.push_back({frame, std::chrono::steady_clock::now()});
    }
    size_t count()
    {
        std::lock_guard lock(mutex);
        return frames.size();
    }
    std::mutex mutex;
    std::vector<std::pair<int, std::chrono::steady_clock::time_point>> frames;
};

TEST(BusyAnimator, ItsThreadSleepsThroughShortPaintsAndTurnsTheSpinnerOfALongOne)
{
    BusyAnimator animator;
    auto target = std::make_shared<FrameRecorder>();
    // A program at rest: many paints that return at once. None of them may wake the thread
    // (one is allowed for a paint that a loaded machine held up past its delay).
    for (int i = 0; i < 50; ++i) {
        animator.add(target, animator.now());
        animator.remove(target.get());
    }
    EXPECT_LE(animator.wakeCount(), 1u);
    EXPECT_EQ(target->count(), 0u);

    const auto start = animator.now();
    animator.add(target, start);
    ASSERT_TRUE(waitUntil([&] { return target->count() >= 3; }, 10s));
    animator.remove(target.get());
    std::lock_guard lock(target->mutex);
    EXPECT_EQ(target->frames[0].first, 0);
    EXPECT_GE(target->frames[0].second - start, BusyAnimator::kDelay);
    for (size_t i = 1; i < target->frames.size(); ++i) {
        // Ticks come a tick apart, not faster.
        EXPECT_GE(target->frames[i].second - target->frames[i - 1].second, BusyAnimator::kTick - 5ms);
    }
}

// What the key should show: `face` with spinner frame `n` at (38, 76).
QImage withSpinner(const QImage &face, int n)
{
    QImage expected = face.copy();
    QPainter painter(&expected);
    painter.drawImage(BusyAnimator::kSpinnerX, BusyAnimator::kSpinnerY, BusyAnimator::spinnerFrame(n));
    return expected;
}

using BusyOverlayTest = test::InstanceHarness;

TEST_F(BusyOverlayTest, LongPaintShowsTheTurningSpinnerThenTheRealFace)
{
    test::ManualClock clock;
    BusyAnimator animator(clock.clock(), false);
    PluginInstance::Options options;
    options.animator = &animator;
    auto instance = make(1, options);
    instance->SetProperty("colour", "0x3060C0");
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) == 1; }));
    const QImage real = facesOf(instance.get())[0];

    // The next paint (asked for by a press) hangs at the gate, and then changes nothing.
    instance->SetProperty("hold", "1");
    instance->SetProperty("result", "0");
    instance->SetProperty("gate", "closed");
    instance->KeyPressed();
    ASSERT_TRUE(waitUntil([&] { return property(*instance, 4) == 1; }));

    auto facesAfterTick = [&](std::chrono::milliseconds at) {
        clock.set(at);
        animator.tick();
        queue.pump();
        return faceCount(instance.get());
    };
    EXPECT_EQ(facesAfterTick(249ms), 1u) << "no spinner before a quarter second";

    const struct {
        std::chrono::milliseconds at;
        int frame;
    } steps[] = {{250ms, 0}, {375ms, 1}, {500ms, 2}, {1000ms, 6}, {1250ms, 0}};
    std::size_t expectedCount = 1;
    for (const auto &step : steps) {
        SCOPED_TRACE(step.at.count());
        ASSERT_EQ(facesAfterTick(step.at), ++expectedCount);
        const QImage shown = facesOf(instance.get()).back();
        EXPECT_EQ(shown, withSpinner(real, step.frame));
        EXPECT_EQ(instance->face(), shown) << "the overlay is the face while it is shown";
    }

    instance->SetProperty("gate", "open");
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) == expectedCount + 1; }))
        << "Paint returned 0, but the key must get its real face back";
    EXPECT_EQ(facesOf(instance.get()).back(), real);

    // A paint that returns within a quarter second never shows the spinner.
    clock.set(0ms);
    const int before = paints(*instance);
    instance->KeyPressed();
    ASSERT_TRUE(pumpUntil(queue, [&] { return paints(*instance) > before; }));
    animator.tick();
    queue.pump();
    EXPECT_EQ(faceCount(instance.get()), expectedCount + 1);
    instance->Deactivate();
}

TEST_F(BusyOverlayTest, DeactivationDuringALongPaintHidesTheSpinner)
{
    test::ManualClock clock;
    BusyAnimator animator(clock.clock(), false);
    PluginInstance::Options options;
    options.animator = &animator;
    auto instance = make(1, options);
    instance->Activate();
    ASSERT_TRUE(pumpUntil(queue, [&] { return faceCount(instance.get()) == 1; }));
    instance->SetProperty("hold", "1");
    instance->SetProperty("gate", "closed");
    instance->KeyPressed();
    ASSERT_TRUE(waitUntil([&] { return property(*instance, 4) == 1; }));
    clock.set(300ms);
    animator.tick();
    instance->Deactivate();
    queue.pump();
    EXPECT_EQ(faceCount(instance.get()), 1u) << "the spinner's notification is abandoned";
    clock.set(600ms);
    animator.tick();
    queue.pump();
    EXPECT_EQ(faceCount(instance.get()), 1u);
    instance->SetProperty("gate", "open");
    ASSERT_TRUE(pumpUntil(queue, [&] { return property(*instance, 3) == 1; }));
}

} // namespace
} // namespace pixkey
