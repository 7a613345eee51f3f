// VegasReel: one reel of the Vegas slot machine, the object behind every key that shows Vegas.
//
// A press on any reel of the process starts every reel at rest: each shows three spinning pictures
// on three successive paints, waits at least two seconds, then stops on one of three symbols drawn
// from its paint thread's random numbers. The reels share only `spinRequested`.
//
// Created and deleted by the host on its main thread; Paint, OnKeyDown and OnEvent on the reel's
// paint thread; GetInfo on the main thread, where it touches no reel state.
#pragma once

#include "FileTime.h"
#include "ReelStrip.h"
#include "pixkey_plugin.hpp"

#include <atomic>
#include <cstdint>

namespace vegas {

// Set to 1 by a press on any reel, cleared by the first reel that comes to rest afterwards. Read
// and written by the paint threads of all reels; a lone byte with no ordering needs.
inline std::atomic<std::uint8_t> spinRequested{0};

class VegasReel : public pkx::Plugin<VegasReel> {
public:
    // Resource names of the pictures compiled into the plug-in.
    static constexpr const char *kResultStripResource = ":/vegas/DEF_IMAGE.png"; // 96x288, 3 symbols
    static constexpr const char *kSpinStripResource = ":/vegas/8006.png";        // 96x192, 2 pictures
    static constexpr const char *kSmallIconResource = ":/vegas/VEGAS_1.png";     // 32x32
    static constexpr const char *kBigIconResource = ":/vegas/BIG_ICON.png";      // 32x32

    static constexpr int kResultCells = 3;
    static constexpr int kSpinCells = 2;

    // Least time between the third spinning picture and the stop: two seconds.
    static constexpr FileTime kStopDelay = 2 * kFileTimeUnitsPerSecond;

    // What Create makes: a reel on the system's UTC clock. Both arguments are ignored; the
    // pictures are compiled in.
    VegasReel(const PkxModule *module, int function);

    // A reel that reads the time from `clock`, called on the paint thread.
    explicit VegasReel(FileTimeClock clock);

    // Takes one step of the reel; nonzero when it drew a face the host should send.
    int Paint(PkxSurface &surface);

    // Starts this reel (again, also in the middle of a spin) and asks every reel at rest to start.
    void OnKeyDown();

    // Texts, the function count and fresh icon images; 0 for every other code.
    intptr_t GetInfo(int code);

    // Activation loads the pictures, deactivation frees them. Returns 1 for every code.
    int OnEvent(int code);

private:
    // Values of m_state.
    static constexpr std::int32_t kFirstWarmUp = -4; // -4, -3, -2: warming up
    static constexpr std::int32_t kAtRest = -1;
    static constexpr std::int32_t kLastSpin = 2;     // 0, 1, 2: spinning
    static constexpr std::int32_t kWaiting = 3;      // waiting for the stop delay to pass

    void drawSpinCell(PkxSurface &surface);

    FileTimeClock m_clock;
    ReelStrip m_resultStrip;
    ReelStrip m_spinStrip;
    std::int32_t m_state = kFirstWarmUp;
    FileTime m_lastStep = 0; // the last spinning step or stop; 0 after a press
};

} // namespace vegas
