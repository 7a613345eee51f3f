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
    // The handshake writes zeros one at a time and looks for an answer after each. A write on
    // Linux returns as soon as the byte is queued, so without a pause the zeros would run ahead of
    // the device's answer: each zero waits syncEarlyWait while the device's packet cannot be
    // complete yet, and syncAnswerWait once it may be.
    // syncAnswerWait must cover the answer's round trip: a USB adapter or a pseudo-terminal answers
    // in about a millisecond, often more, and a late answer leaves extra zeros in the parser.
    ms syncEarlyWait{1};
    ms syncAnswerWait{20};
    // The handshake writes at most 300 bytes after the device last answered with a non-zero byte.
    // A device that keeps answering with non-zero bytes would restart that budget forever, so all
    // restarts together are bounded too.
    int syncBudget = 300;
    int syncTotalBudget = 300 * 16;
};

} // namespace pixkey
