#pragma once
// LinkTimings: the time constants of the keypad link. The defaults are the values the keypad is
// driven with; tests shorten them. Read by the worker thread only, fixed at construction.

#include <chrono>

namespace pixkey {

struct LinkTimings {
    using ms = std::chrono::milliseconds;
    ms ackTimeout{4000};      // read time-out for acknowledgements and the handshake's last byte
    ms recoveryWait{500};     // pause after closing and after reopening the port in a recovery
    ms keepAlivePeriod{1000}; // a keep-alive goes out when more than this passed since the last one
    ms displayOnAfter{8000};  // a keep-alive after a longer pause is DisplayOn instead of Ping
    ms writeLimit{4000};      // a write that has not finished by then is abandoned
    ms idleWait{1000};        // longest wait of the worker between looks at the clock
    // The handshake reads without waiting until the device's packet is nearly complete, then waits
    // this long after each zero byte for the answer. It must cover the answer's round trip: a USB
    // adapter or a pseudo-terminal on Linux answers in about a millisecond, often more, and a late
    // answer leaves extra zeros in the device's parser.
    ms syncAnswerWait{20};
    // The handshake writes at most 300 bytes after the device last answered with a non-zero byte.
    // A device that keeps answering with non-zero bytes would restart that budget forever, so all
    // restarts together are bounded too.
    int syncBudget = 300;
    int syncTotalBudget = 300 * 16;
};

} // namespace pixkey
