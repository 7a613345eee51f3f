#pragma once
// Building the 197-byte host-to-device packets. Pure functions; any thread.
//
// Layout: byte 0 command, bytes 1..3 arguments, bytes 4..195 data (zero but for WriteLine),
// byte 196 the sum of bytes 0..195 modulo 256.

#include "LinkTypes.h"

#include <array>
#include <cstdint>

namespace pixkey {

using LinkPacket = std::array<uint8_t, kPacketSize>;

// Sum of bytes 0..195 modulo 256.
uint8_t packetChecksum(const LinkPacket &packet);
// A command packet with zero data and its checksum in place.
LinkPacket makeCommandPacket(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3);
// A WriteLine packet for line 0..95 of key 1..3 carrying 192 wire bytes, checksum in place.
LinkPacket makeLinePacket(int key, int line, const uint8_t *wireBytes);

} // namespace pixkey
