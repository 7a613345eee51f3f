#include "ReelRandom.h"

#include <atomic>

namespace vegas {

ReelRandom::ReelRandom()
    : ReelRandom(1)
{
}

ReelRandom::ReelRandom(std::uint32_t seed)
    : m_seed(seed)
{
    // Minimal-standard generator, x' = 16807 x mod (2^31 - 1), computed without overflow
    // (Schrage's method) on signed 32-bit words, as the C library does.
    std::int32_t word = seed == 0 ? 1 : static_cast<std::int32_t>(seed);
    m_table[0] = static_cast<std::uint32_t>(word);
    for (int i = 1; i < kDegree; ++i) {
        const std::int32_t hi = word / 127773;
        const std::int32_t lo = word % 127773;
        word = 16807 * lo - 2836 * hi;
        if (word < 0)
            word += 2147483647;
        m_table[i] = static_cast<std::uint32_t>(word);
    }
    for (int i = 0; i < 10 * kDegree; ++i)
        next();
}

int ReelRandom::next()
{
    m_table[m_front] += m_table[m_rear];
    const int result = static_cast<int>(m_table[m_front] >> 1);
    if (++m_front == kDegree)
        m_front = 0;
    if (++m_rear == kDegree)
        m_rear = 0;
    return result;
}

ReelRandom &ReelRandom::forThisThread()
{
    // Seeds 1, 1 + k, 1 + 2k, ... with k odd and large, so neighbouring threads' tables differ
    // from their first word on.
    static std::atomic<std::uint32_t> threads{0};
    thread_local ReelRandom generator(1u + threads.fetch_add(1, std::memory_order_relaxed) * 2654435761u);
    return generator;
}

} // namespace vegas
