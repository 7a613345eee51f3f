// PeerMessage: one message that a configurator sends to the others (a private message number with
// its two parameters, and the plug-in file path that the "add plug-in file" message names).
// A plain value; [any-thread].
#pragma once

#include <cstdint>
#include <string>

namespace pixkey {

struct PeerMessage {
    // Longest path a message carries (bytes, without a terminator). Longer paths are refused by
    // the sender and dropped by the receiver.
    static constexpr std::size_t kMaxPathLength = 4095;

    std::uint32_t message = 0; // the receiver's private message number
    std::int64_t wParam = 0;
    std::int64_t lParam = 0;
    std::string path; // empty unless the message names a file; never contains NUL bytes

    bool operator==(const PeerMessage &) const = default;
};

} // namespace pixkey
