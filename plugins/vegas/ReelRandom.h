// ReelRandom: the random numbers of one paint thread.
//
// Every reel draws its symbols from the generator of the thread that paints it. The first paint
// thread of the process starts from the state the C library's rand() has when it was never
// seeded; every later thread starts from a seed of its own. Reels that are activated together and
// painted in step would otherwise draw the same numbers and stop on the same symbols. The C
// library's own rand() cannot serve: its state is shared by the whole process.
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

    // The seed this generator started from (1: the never-seeded state).
    std::uint32_t seed() const { return m_seed; }

    // The calling thread's generator, created on the thread's first call: seed 1 for the first
    // thread of the process, a different seed for each later one.
    static ReelRandom &forThisThread();

private:
    // Additive lagged Fibonacci generator with lags 31 and 3, filled by the minimal-standard
    // multiplicative generator from the seed; the first 310 outputs are thrown away.
    static constexpr int kDegree = 31;
    static constexpr int kSeparation = 3;

    std::uint32_t m_seed = 1;
    std::array<std::uint32_t, kDegree> m_table{};
    int m_front = kSeparation; // index of the value that is advanced next
    int m_rear = 0;            // index of the lagging value added to it
};

} // namespace vegas
