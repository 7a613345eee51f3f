// The reel's state machine, drawing, information and events, driven by hand on an injected clock.
#include "ReelFaces.h"
#include "ReelRandom.h"
#include "ReelStrip.h"
#include "VegasReel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace vegas {
namespace {

using test::cellIndex;
using test::cellsOf;
using test::Face;

constexpr FileTime kSecond = kFileTimeUnitsPerSecond;
constexpr std::uint8_t kUntouched = 0x55;

class VegasReelTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        spinRequested.store(0);
        m_results = cellsOf(VegasReel::kResultStripResource);
        m_spins = cellsOf(VegasReel::kSpinStripResource);
        ASSERT_EQ(m_results.size(), 3u);
        ASSERT_EQ(m_spins.size(), 2u);
    }
    void TearDown() override { spinRequested.store(0); }

    // A reel on the test's clock, with its pictures loaded unless `load` is false.
    std::unique_ptr<VegasReel> makeReel(bool load = true)
    {
        auto reel = std::make_unique<VegasReel>([this] { return m_now; });
        if (load)
            reel->OnEvent(PKX_EVENT_ACTIVATE);
        return reel;
    }

    // Paints `reel` into a face marked untouched; returns Paint's result.
    int paint(VegasReel &reel)
    {
        m_face.fill(kUntouched);
        PkxSurface surface = m_face.surface();
        return reel.Paint(surface);
    }

    void warmUp(VegasReel &reel)
    {
        for (int i = 0; i < 3; ++i)
            ASSERT_EQ(paint(reel), 0) << "warm-up paint " << i;
    }

    // Paints the three spinning steps, each of which must announce a spinning picture.
    void spin(VegasReel &reel)
    {
        for (int step = 0; step < 3; ++step) {
            ASSERT_EQ(paint(reel), 1) << "spinning step " << step;
            EXPECT_GE(cellIndex(m_spins, m_face), 0) << "spinning step " << step;
        }
    }

    bool faceUntouched() const
    {
        Face untouched;
        untouched.fill(kUntouched);
        return m_face == untouched;
    }

    FileTime m_now = 134'000'000'000'000'000; // a day in 2025
    Face m_face;
    std::vector<Face> m_results;
    std::vector<Face> m_spins;
};

TEST_F(VegasReelTest, NewReelWarmsUpWithoutAnnouncingThenRests)
{
    auto reel = makeReel();
    ASSERT_EQ(paint(*reel), 0);
    EXPECT_GE(cellIndex(m_spins, m_face), 0) << "warm-up paints still draw a spinning picture";
    ASSERT_EQ(paint(*reel), 0);
    ASSERT_EQ(paint(*reel), 0);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(paint(*reel), 0);
        EXPECT_TRUE(faceUntouched()) << "a reel at rest draws nothing";
        m_now += 10 * kSecond;
    }
    EXPECT_EQ(spinRequested.load(), 0);
}

TEST_F(VegasReelTest, PressStartsEveryReelAtRestAndEachStopsTwoSecondsAfterItsThirdStep)
{
    auto a = makeReel();
    auto b = makeReel();
    auto c = makeReel();
    warmUp(*a);
    warmUp(*b);
    warmUp(*c);
    for (auto *reel : {a.get(), b.get(), c.get()})
        ASSERT_EQ(paint(*reel), 0);

    a->OnKeyDown();
    EXPECT_EQ(spinRequested.load(), 1);
    spin(*a);
    const FileTime aThird = m_now;
    m_now += kSecond / 3;
    spin(*b);
    const FileTime bThird = m_now;
    m_now += kSecond / 3;
    spin(*c);
    const FileTime cThird = m_now;

    // The wait: nothing is announced and nothing is drawn.
    for (auto *reel : {a.get(), b.get(), c.get()}) {
        EXPECT_EQ(paint(*reel), 0);
        EXPECT_TRUE(faceUntouched());
    }

    m_now = aThird + VegasReel::kStopDelay - 1;
    EXPECT_EQ(paint(*a), 0);
    m_now = aThird + VegasReel::kStopDelay;
    ASSERT_EQ(paint(*a), 1);
    EXPECT_GE(cellIndex(m_results, m_face), 0) << "the stop shows exactly one result symbol";
    EXPECT_EQ(spinRequested.load(), 0) << "the first reel to stop clears the request";

    EXPECT_EQ(paint(*b), 0) << "b's third step was later than a's";
    m_now = bThird + VegasReel::kStopDelay;
    ASSERT_EQ(paint(*b), 1);
    EXPECT_GE(cellIndex(m_results, m_face), 0);
    m_now = cThird + VegasReel::kStopDelay + 5 * kSecond;
    ASSERT_EQ(paint(*c), 1);
    EXPECT_GE(cellIndex(m_results, m_face), 0);

    // All at rest again, and nobody restarts them.
    for (auto *reel : {a.get(), b.get(), c.get()})
        EXPECT_EQ(paint(*reel), 0);
}

TEST_F(VegasReelTest, ReelFirstPaintedAfterTheFirstStopStaysAtRest)
{
    auto a = makeReel();
    auto late = makeReel();
    warmUp(*a);
    warmUp(*late);
    ASSERT_EQ(paint(*late), 0);

    a->OnKeyDown();
    spin(*a);
    m_now += VegasReel::kStopDelay;
    ASSERT_EQ(paint(*a), 1);
    EXPECT_EQ(paint(*late), 0);
}

TEST_F(VegasReelTest, PressDuringWarmUpStartsAtOnce)
{
    auto reel = makeReel();
    ASSERT_EQ(paint(*reel), 0);
    reel->OnKeyDown();
    spin(*reel);
    EXPECT_EQ(paint(*reel), 0);
    m_now += VegasReel::kStopDelay;
    ASSERT_EQ(paint(*reel), 1);
    EXPECT_GE(cellIndex(m_results, m_face), 0);
}

TEST_F(VegasReelTest, SecondPressRestartsOnlyThatReel)
{
    auto a = makeReel();
    auto b = makeReel();
    a->OnKeyDown();
    b->OnKeyDown();
    ASSERT_EQ(paint(*a), 1);
    ASSERT_EQ(paint(*a), 1);
    spin(*b);
    const FileTime bThird = m_now;

    // a is pressed again in the middle of its spin, and while it waits after the restart.
    m_now += kSecond;
    a->OnKeyDown();
    spin(*a);
    m_now += kSecond / 2;
    a->OnKeyDown();
    spin(*a);
    const FileTime aThird = m_now;

    m_now = bThird + VegasReel::kStopDelay;
    EXPECT_EQ(paint(*a), 0) << "a waits from its own last step";
    ASSERT_EQ(paint(*b), 1) << "b keeps its own sequence";
    EXPECT_GE(cellIndex(m_results, m_face), 0);

    m_now = aThird + VegasReel::kStopDelay;
    ASSERT_EQ(paint(*a), 1);
    EXPECT_GE(cellIndex(m_results, m_face), 0);
}

TEST_F(VegasReelTest, ClockSetBackKeepsTheReelWaitingUntilItPassesTheStepAgain)
{
    auto reel = makeReel();
    reel->OnKeyDown();
    spin(*reel);
    const FileTime third = m_now;

    for (FileTime back : {kSecond, 3600 * kSecond, third}) {
        m_now = third - back;
        EXPECT_EQ(paint(*reel), 0) << "clock set back by " << back;
    }
    m_now = third + VegasReel::kStopDelay - 1;
    EXPECT_EQ(paint(*reel), 0);
    m_now = third + VegasReel::kStopDelay;
    EXPECT_EQ(paint(*reel), 1);
}

TEST_F(VegasReelTest, ClockAtTheEndsOfItsRangeDoesNotUpsetTheWait)
{
    auto reel = makeReel();
    m_now = std::numeric_limits<FileTime>::max();
    reel->OnKeyDown();
    spin(*reel);
    m_now = std::numeric_limits<FileTime>::min();
    EXPECT_EQ(paint(*reel), 0) << "a jump across the whole range counts as the clock set back";
    m_now = std::numeric_limits<FileTime>::max();
    EXPECT_EQ(paint(*reel), 0);
}

// Every paint takes one number from its thread's sequence for the symbol, and every drawn spinning
// picture one more; the stop shows the symbol of the number its own paint took.
TEST_F(VegasReelTest, StopSymbolIsTheNumberTheStoppingPaintDrew)
{
    std::vector<int> sequence;
    ReelRandom replay;
    for (int i = 0; i < 32; ++i)
        sequence.push_back(replay.next());

    int shown = -2;
    std::thread paintThread([&] {
        auto reel = makeReel();
        warmUp(*reel);        // 3 x (symbol + spinning picture): numbers 0..5
        paint(*reel);         // at rest: number 6
        reel->OnKeyDown();
        spin(*reel);          // 3 x 2: numbers 7..12
        paint(*reel);         // waiting: number 13
        m_now += VegasReel::kStopDelay;
        if (paint(*reel) == 1) // number 14
            shown = cellIndex(m_results, m_face);
    });
    paintThread.join();
    EXPECT_EQ(shown, sequence[14] % 3);
}

TEST_F(VegasReelTest, WithoutPicturesNothingIsDrawnAndTheReelStillTurns)
{
    for (bool loadedThenFreed : {false, true}) {
        SCOPED_TRACE(loadedThenFreed ? "pictures freed" : "pictures never loaded");
        auto reel = makeReel(false);
        if (loadedThenFreed) {
            reel->OnEvent(PKX_EVENT_ACTIVATE);
            reel->OnEvent(PKX_EVENT_DEACTIVATE);
        }
        std::vector<int> results;
        for (int i = 0; i < 4; ++i)
            results.push_back(paint(*reel));
        reel->OnKeyDown();
        for (int i = 0; i < 4; ++i)
            results.push_back(paint(*reel));
        m_now += VegasReel::kStopDelay;
        results.push_back(paint(*reel));
        EXPECT_TRUE(faceUntouched());
        EXPECT_EQ(results, (std::vector<int>{0, 0, 0, 0, 1, 1, 1, 0, 1}));
    }
}

TEST_F(VegasReelTest, DrawingStaysInsideSmallOrBrokenSurfaces)
{
    auto reel = makeReel();
    reel->OnKeyDown();

    // A small surface in a buffer of exactly its size: only its part of the cell is copied.
    std::vector<std::uint8_t> small(30 * 120, kUntouched);
    PkxSurface smallSurface{small.data(), 40, 30, 120};
    ASSERT_EQ(reel->Paint(smallSurface), 1);
    auto showsCorner = [&](const Face &cell) {
        for (int y = 0; y < 30; ++y)
            if (std::memcmp(small.data() + y * 120, cell.bytes.data() + y * PKX_FACE_STRIDE, 120) != 0)
                return false;
        return true;
    };
    EXPECT_TRUE(showsCorner(m_spins[0]) || showsCorner(m_spins[1]));

    // A larger surface: the cell goes to the top-left corner, the rest stays.
    std::vector<std::uint8_t> large(100 * 300, kUntouched);
    PkxSurface largeSurface{large.data(), 100, 100, 300};
    ASSERT_EQ(reel->Paint(largeSurface), 1);
    EXPECT_EQ(large[95 * 300 + 95 * 3 + 3], kUntouched);
    EXPECT_EQ(large[97 * 300], kUntouched);

    // Surfaces that cannot be drawn on are left alone.
    std::vector<std::uint8_t> narrow(96 * 100, kUntouched);
    PkxSurface broken[] = {
        {nullptr, 96, 96, 288},
        {narrow.data(), 96, 96, 100},
        {narrow.data(), 0, 96, 288},
        {narrow.data(), 96, -1, 288},
    };
    for (PkxSurface &surface : broken) {
        reel->OnKeyDown();
        EXPECT_EQ(reel->Paint(surface), 1) << "the reel keeps turning";
    }
    EXPECT_EQ(std::count(narrow.begin(), narrow.end(), kUntouched), std::ptrdiff_t(narrow.size()));
}

TEST(VegasReelStripTest, RefusesPicturesOfTheWrongShape)
{
    ReelStrip strip;
    EXPECT_FALSE(strip.load(VegasReel::kResultStripResource, 2)) << "288 high is not two cells";
    EXPECT_FALSE(strip.isLoaded());
    EXPECT_FALSE(strip.load(VegasReel::kSmallIconResource, 1)) << "32x32 is not a cell";
    EXPECT_FALSE(strip.load(":/vegas/missing.png", 1));
    EXPECT_FALSE(strip.load(VegasReel::kResultStripResource, 0));
    ASSERT_TRUE(strip.load(VegasReel::kResultStripResource, 3));
    EXPECT_EQ(strip.cells(), 3);

    Face face;
    face.fill(kUntouched);
    PkxSurface surface = face.surface();
    strip.drawCell(surface, 3);
    strip.drawCell(surface, -1);
    Face untouched;
    untouched.fill(kUntouched);
    EXPECT_EQ(face, untouched) << "cells outside the strip draw nothing";
    strip.drawCell(surface, 2);
    EXPECT_EQ(face, cellsOf(VegasReel::kResultStripResource)[2]);
}

TEST(VegasInfoTest, AnswersTextsAndCountAndNothingElse)
{
    VegasReel reel(nullptr, 0);
    auto textOf = [&](int code) {
        const auto *text = reinterpret_cast<const char *>(reel.GetInfo(code));
        return std::string(text ? text : "(null)");
    };
    EXPECT_EQ(textOf(PKX_INFO_IDENTIFIER), "bsp.vegas.mfc5");
    EXPECT_EQ(textOf(PKX_INFO_NAME), "Vegas");
    EXPECT_EQ(textOf(PKX_INFO_DESCRIPTION), "Personal Vegas");
    for (int code : {PKX_INFO_AUTHOR, PKX_INFO_EMAIL, PKX_INFO_WEB})
        EXPECT_FALSE(textOf(code).empty() || textOf(code) == "(null)") << "code " << code;
    EXPECT_EQ(reel.GetInfo(PKX_INFO_FUNCTION_COUNT), 1);
    for (int code : {-1, 6, 7, 8, 11, 12, 20, 23, 255, 511, 100000})
        EXPECT_EQ(reel.GetInfo(code), 0) << "code " << code;

    char name[PKX_PROPERTY_TEXT_SIZE] = {};
    char value[PKX_PROPERTY_TEXT_SIZE] = {};
    EXPECT_EQ(reel.ops->GetProperty(&reel, PKX_PROPERTY_INSTANCE_BASE, name, value), 0);
    EXPECT_EQ(reel.ops->SetProperty(&reel, "Speed", "3"), 0);
    EXPECT_EQ(reel.ops->ShowProperties(&reel, nullptr), 0);
}

TEST(VegasInfoTest, IconsAreNew32By32ImagesOnEveryCall)
{
    VegasReel reel(nullptr, 0);
    for (int code : {PKX_INFO_LARGE_ICON, PKX_INFO_PREVIEW}) {
        SCOPED_TRACE(code);
        auto *first = reinterpret_cast<PkxImage *>(reel.GetInfo(code));
        auto *second = reinterpret_cast<PkxImage *>(reel.GetInfo(code));
        ASSERT_NE(first, nullptr);
        ASSERT_NE(second, nullptr);
        EXPECT_NE(first, second);
        EXPECT_EQ(first->width, 32);
        EXPECT_EQ(first->height, 32);
        EXPECT_EQ(first->stride, 128);
        EXPECT_EQ(std::memcmp(first->pixels, second->pixels, 32 * 128), 0);
        int opaque = 0;
        for (int i = 0; i < 32 * 32; ++i)
            opaque += first->pixels[i * 4 + 3] == 255;
        EXPECT_GT(opaque, 200) << "the icon shows something";
        pkx_image_free(first);
        pkx_image_free(second);
    }
    auto *small = reinterpret_cast<PkxImage *>(reel.GetInfo(PKX_INFO_LARGE_ICON));
    auto *big = reinterpret_cast<PkxImage *>(reel.GetInfo(PKX_INFO_PREVIEW));
    EXPECT_NE(std::memcmp(small->pixels, big->pixels, 32 * 128), 0) << "two different icons";
    pkx_image_free(small);
    pkx_image_free(big);
}

TEST(VegasEventTest, EveryCodeIsAnsweredWithOne)
{
    VegasReel reel(nullptr, 0);
    for (int code : std::initializer_list<int>{PKX_EVENT_ACTIVATE, PKX_EVENT_ACTIVATE, PKX_EVENT_DEACTIVATE, PKX_EVENT_DEACTIVATE,
                     0, 3, -1, 255, 1 << 30})
        EXPECT_EQ(reel.OnEvent(code), 1) << "code " << code;
}

TEST(VegasRandomTest, ReplaysTheNeverSeededCLibrarySequence)
{
    std::srand(1); // the state rand() has when it was never seeded
    ReelRandom generator;
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(generator.next(), std::rand()) << "number " << i;
}

TEST(VegasRandomTest, EachPaintThreadStartsASequenceOfItsOwn)
{
    // Reels painted in step on threads of their own must not stop on the same symbols.
    auto firstNumbers = [](std::uint32_t *seed) {
        std::vector<int> numbers;
        std::thread([&] {
            *seed = ReelRandom::forThisThread().seed();
            for (int i = 0; i < 20; ++i)
                numbers.push_back(ReelRandom::forThisThread().next() % 3);
        }).join();
        return numbers;
    };
    std::uint32_t seedA = 0;
    std::uint32_t seedB = 0;
    const std::vector<int> a = firstNumbers(&seedA);
    const std::vector<int> b = firstNumbers(&seedB);
    EXPECT_NE(seedA, seedB);
    EXPECT_NE(a, b);

    // Each thread's numbers are exactly its own generator's.
    ReelRandom replay(seedB);
    for (int value : b)
        EXPECT_EQ(value, replay.next() % 3);
}

} // namespace
} // namespace vegas
