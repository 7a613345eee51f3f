// ReelRandom: the random numbers of one paint thread, the same sequence in every thread.
//
// Every reel draws its symbols from the generator of the thread that paints it. Each thread's
// generator starts from the same fixed state, the one the C library's rand() has when it was never
// seeded, so a fresh paint thread always replays the same sequence, and reels differ only by how
// many numbers each of them has used. The C library's own rand() cannot serve: its state is shared
// by the whole process.
#pragma once

#include <array>
#include <cstdint>

namespace vegas {

class ReelRandom {
public:
    // Largest value next() returns, the C library's RAND_MAX.
    static constexpr int kMax = 2147483647;

    // A generator in the never-seeded start state (the same as seed 1).
    ReelRandom();
    explicit ReelRandom(std::uint32_t seed);

    // The next number, 0 .. kMax.
    int next();

    // The calling thread's generator, created in the start state on the thread's first call.
    static ReelRandom &forThisThread();

private:
    // Additive lagged Fibonacci generator with lags 31 and 3, filled by the minimal-standard
    // multiplicative generator from the seed; the first 310 outputs are thrown away.
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;

    std::array<std::uint32_t, kDegree> m_table{};
    int m_front = kSeparation; // index of the value that is advanced next
    int m_rear = 0;            // index of the lagging value added to it
};

} // namespace vegas
