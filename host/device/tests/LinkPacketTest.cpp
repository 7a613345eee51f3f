// Packet layout and checksums.
#include "LinkPacket.h"

#include <gtest/gtest.h>

namespace pixkey {
namespace {

TEST(LinkPacket, commandPackets)
{
    struct Case {
        const char *name;
        LinkCommand cmd;
        uint8_t a1;
        uint8_t checksum;
    } cases[] = {
        {"ping", LinkCommand::Ping, 0, 0},
        {"brightness level 2", LinkCommand::SetBrightness, 60, 69},
        {"brightness level 0", LinkCommand::SetBrightness, 20, 29},
        {"show key 3", LinkCommand::ShowFrame, 3, 7},
        {"display off", LinkCommand::DisplayOff, 0, 3},
    };
    for (const Case &c : cases) {
        const LinkPacket p = makeCommandPacket(c.cmd, c.a1, 0, 0);
        EXPECT_EQ(p.size(), 197u) << c.name;
        EXPECT_EQ(p[0], static_cast<uint8_t>(c.cmd)) << c.name;
        EXPECT_EQ(p[1], c.a1) << c.name;
        EXPECT_EQ(p[196], c.checksum) << c.name;
        EXPECT_EQ(packetChecksum(p), c.checksum) << c.name;
        for (int i = 2; i < 196; ++i)
            ASSERT_EQ(p[i], 0) << c.name << " byte " << i;
    }
    // The checksum wraps modulo 256.
    EXPECT_EQ(makeCommandPacket(LinkCommand::SetBrightness, 200, 100, 0)[196], (9 + 200 + 100) % 256);
}

TEST(LinkPacket, linePackets)
{
    uint8_t wire[192];
    for (int i = 0; i < 192; ++i)
        wire[i] = static_cast<uint8_t>(i * 3);
    const LinkPacket last = makeLinePacket(2, 95, wire);
    EXPECT_EQ(last[0], 1);
    EXPECT_EQ(last[1], 2);
    EXPECT_EQ(last[2], 0x47); // 95 x 192 = 18240 = 0x4740
    EXPECT_EQ(last[3], 0x40);
    for (int i = 0; i < 192; ++i)
        ASSERT_EQ(last[4 + i], wire[i]);
    unsigned sum = 0;
    for (int i = 0; i < 196; ++i)
        sum += last[i];
    EXPECT_EQ(last[196], sum % 256);

    const LinkPacket first = makeLinePacket(1, 0, wire);
    EXPECT_EQ(first[2], 0);
    EXPECT_EQ(first[3], 0);
    const LinkPacket second = makeLinePacket(3, 1, wire);
    EXPECT_EQ(second[2], 0);
    EXPECT_EQ(second[3], 192);
}

} // namespace
} // namespace pixkey
