// PeerFrame: the framed form of one message between configurators, and its checked reading.
//
// Layout (little-endian): 'P' 'X' 'K' magic, version byte (1), kind byte (1 message, 2 show
// window), message number u32, wParam i64, lParam i64, path length u32, path bytes (no terminator).
// One frame per connection. [any-thread]: plain functions on caller-owned buffers.
#pragma once

#include <pixkey/pxkhk/PeerMessage.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace pixkey {

class PeerFrame {
public:
    enum class Kind : std::uint8_t { Message = 1, ShowWindow = 2 };
    enum class Status { NeedMore, Complete, Invalid };

    static constexpr std::uint8_t kVersion = 1;
    static constexpr std::size_t kHeaderSize = 3 + 1 + 1 + 4 + 8 + 8 + 4;
    static constexpr std::size_t kMaxFrameSize = kHeaderSize + PeerMessage::kMaxPathLength;

    // The frame for `message` of `kind`; empty when the path is too long or contains a NUL byte.
    static std::string encode(Kind kind, const PeerMessage &message);

    // Examines the bytes received so far. Invalid as soon as the header is wrong (magic, version,
    // kind, a path length over the limit) or the path holds a NUL byte; Complete when a whole
    // frame is there (`kind`, `message` filled; bytes beyond the frame are ignored); NeedMore
    // otherwise.
    static Status parse(std::string_view bytes, Kind &kind, PeerMessage &message);
};

} // namespace pixkey
