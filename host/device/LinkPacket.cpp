#include "LinkPacket.h"

#include <cstring>

namespace pixkey {

uint8_t packetChecksum(const LinkPacket &packet)
{
    unsigned sum = 0;
    for (int i = 0; i < kPacketSize - 1; ++i)
        sum += packet[i];
    return static_cast<uint8_t>(sum);
}

LinkPacket makeCommandPacket(LinkCommand cmd, uint8_t a1, uint8_t a2, uint8_t a3)
{
    LinkPacket p{};
    p[0] = static_cast<uint8_t>(cmd);
    p[1] = a1;
    p[2] = a2;
    p[3] = a3;
    p[kPacketSize - 1] = static_cast<uint8_t>(p[0] + a1 + a2 + a3);
    return p;
}

LinkPacket makeLinePacket(int key, int line, const uint8_t *wireBytes)
{
    const int offset = line * kLineBytes;
    LinkPacket p{};
    p[0] = static_cast<uint8_t>(LinkCommand::WriteLine);
    p[1] = static_cast<uint8_t>(key);
    p[2] = static_cast<uint8_t>(offset >> 8);
    p[3] = static_cast<uint8_t>(offset & 0xff);
    std::memcpy(p.data() + 4, wireBytes, kPacketDataSize);
    p[kPacketSize - 1] = packetChecksum(p);
    return p;
}

} // namespace pixkey
