// Reels painted on several threads at once, as the host's paint threads do.
#include "ReelFaces.h"
#include "ReelRandom.h"
#include "VegasReel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <barrier>
#include <memory>
#include <thread>
#include <vector>

namespace vegas {
namespace {

using test::cellIndex;
using test::cellsOf;
using test::Face;

// What one paint thread saw: for every paint its result and the cell it showed (-1: none).
struct Recording {
    std::vector<int> results;
    std::vector<int> cells;
    bool operator==(const Recording &) const = default;
};

// Presses the reel and plays `rounds` whole spins on the calling thread, with a clock of its own.
// The reel is never painted at rest, so another reel's press cannot change what it does.
// `seed` chooses the thread's generator, so a recording can be replayed on another thread.
Recording playRounds(int rounds, std::barrier<> *start, std::uint32_t seed)
{
    ReelRandom::forThisThread() = ReelRandom(seed);
    const std::vector<Face> results = cellsOf(VegasReel::kResultStripResource);
    const std::vector<Face> spins = cellsOf(VegasReel::kSpinStripResource);
    FileTime now = 134'000'000'000'000'000;
    VegasReel reel([&now] { return now; });
    reel.OnEvent(PKX_EVENT_ACTIVATE);
    if (start)
        start->arrive_and_wait();

    Recording recording;
    Face face;
    for (int round = 0; round < rounds; ++round) {
        reel.OnKeyDown();
        for (int paint = 0; paint < 5; ++paint) {
            if (paint == 4)
                now += VegasReel::kStopDelay;
            face.fill(0);
            PkxSurface surface = face.surface();
            recording.results.push_back(reel.Paint(surface));
            const int spin = cellIndex(spins, face);
            const int result = cellIndex(results, face);
            recording.cells.push_back(spin >= 0 ? spin : result >= 0 ? 10 + result : -1);
        }
        now += kFileTimeUnitsPerSecond;
    }
    reel.OnEvent(PKX_EVENT_DEACTIVATE);
    return recording;
}

TEST(VegasThreadedTest, ReelsOnTwoThreadsKeepTheirOwnSequences)
{
    constexpr int kRounds = 300;
    Recording aloneA;
    Recording aloneB;
    std::thread([&] { aloneA = playRounds(kRounds, nullptr, 1); }).join();
    std::thread([&] { aloneB = playRounds(kRounds, nullptr, 7); }).join();
    ASSERT_EQ(aloneA.results.size(), std::size_t(kRounds * 5));
    EXPECT_EQ(std::count(aloneA.cells.begin(), aloneA.cells.end(), -1), kRounds) << "one quiet wait per round";
    EXPECT_FALSE(aloneA == aloneB) << "reels with generators of their own stop on their own symbols";

    std::barrier start(2);
    Recording first;
    Recording second;
    std::thread a([&] { first = playRounds(kRounds, &start, 1); });
    std::thread b([&] { second = playRounds(kRounds, &start, 7); });
    a.join();
    b.join();
    EXPECT_TRUE(first == aloneA) << "the first thread's reel was disturbed by the second";
    EXPECT_TRUE(second == aloneB) << "the second thread's reel was disturbed by the first";
}

// Many reels pressing and painting at once share only the spin request. Afterwards, painted on
// one thread (as when the host hands a reel to a new paint thread), all of them come to rest and
// the request is cleared.
TEST(VegasThreadedTest, ConcurrentPressesAllComeToRest)
{
    constexpr int kThreads = 4;
    std::vector<FileTime> clocks(kThreads, 134'000'000'000'000'000);
    std::vector<std::unique_ptr<VegasReel>> reels;
    for (int t = 0; t < kThreads; ++t)
        reels.push_back(std::make_unique<VegasReel>([&clocks, t] { return clocks[std::size_t(t)]; }));

    std::barrier start(kThreads);
    std::vector<int> announced(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            VegasReel &reel = *reels[std::size_t(t)];
            reel.OnEvent(PKX_EVENT_ACTIVATE);
            start.arrive_and_wait();
            Face face;
            for (int paint = 0; paint < 400; ++paint) {
                if (paint % 37 == t)
                    reel.OnKeyDown();
                PkxSurface surface = face.surface();
                announced[std::size_t(t)] += reel.Paint(surface);
                clocks[std::size_t(t)] += VegasReel::kStopDelay / 4;
            }
            reel.OnEvent(PKX_EVENT_DEACTIVATE);
        });
    }
    for (auto &thread : threads)
        thread.join();
    for (int t = 0; t < kThreads; ++t)
        EXPECT_GT(announced[std::size_t(t)], 40) << "thread " << t;

    Face face;
    for (int pass = 0; pass < 8; ++pass) {
        for (int t = 0; t < kThreads; ++t) {
            PkxSurface surface = face.surface();
            reels[std::size_t(t)]->Paint(surface);
            clocks[std::size_t(t)] += VegasReel::kStopDelay;
        }
    }
    EXPECT_EQ(spinRequested.load(), 0);
    for (int t = 0; t < kThreads; ++t) {
        PkxSurface surface = face.surface();
        EXPECT_EQ(reels[std::size_t(t)]->Paint(surface), 0) << "reel " << t << " at rest";
    }
}

} // namespace
} // namespace vegas
