// The framed form of peer messages: what goes out comes back, and anything else is refused as
// early as the bytes allow.
#include "PeerFrame.h"

#include <gtest/gtest.h>

using pixkey::PeerFrame;
using pixkey::PeerMessage;

namespace {

PeerMessage sample()
{
    PeerMessage m;
    m.message = 0x400 + 16;
    m.wParam = -1;
    m.lParam = (std::int64_t(0x4B) << 16) | 3;
    m.path = "/home/user/Downloads/My Plug-in \xc3\xa9t\xc3\xa9.pkx";
    return m;
}

PeerFrame::Status parse(const std::string &bytes, PeerMessage *out = nullptr, PeerFrame::Kind *kindOut = nullptr)
{
    PeerFrame::Kind kind{};
    PeerMessage message;
    const auto status = PeerFrame::parse(bytes, kind, message);
    if (out)
        *out = message;
    if (kindOut)
        *kindOut = kind;
    return status;
}

} // namespace

TEST(PxkhkPeerFrame, RoundTripOfBothKindsAndEveryPrefixWaitsForMore)
{
    for (const auto kind : {PeerFrame::Kind::Message, PeerFrame::Kind::ShowWindow}) {
        const PeerMessage original = sample();
        const std::string frame = PeerFrame::encode(kind, original);
        ASSERT_EQ(frame.size(), PeerFrame::kHeaderSize + original.path.size());
        for (std::size_t n = 0; n < frame.size(); ++n)
            ASSERT_EQ(parse(frame.substr(0, n)), PeerFrame::Status::NeedMore) << "prefix " << n;
        PeerMessage decoded;
        PeerFrame::Kind decodedKind{};
        ASSERT_EQ(parse(frame + "trailing", &decoded, &decodedKind), PeerFrame::Status::Complete);
        EXPECT_EQ(decoded, original);
        EXPECT_EQ(decodedKind, kind);
    }
}

TEST(PxkhkPeerFrame, LongestPathFitsAndLongerOrNulPathsAreNotEncoded)
{
    PeerMessage m = sample();
    m.path.assign(PeerMessage::kMaxPathLength, 'p');
    PeerMessage decoded;
    ASSERT_EQ(parse(PeerFrame::encode(PeerFrame::Kind::Message, m), &decoded), PeerFrame::Status::Complete);
    EXPECT_EQ(decoded.path, m.path);

    m.path.push_back('p');
    EXPECT_TRUE(PeerFrame::encode(PeerFrame::Kind::Message, m).empty());
    m.path = std::string("a\0b", 3);
    EXPECT_TRUE(PeerFrame::encode(PeerFrame::Kind::Message, m).empty());
}

TEST(PxkhkPeerFrame, BrokenFramesAreRefusedEarly)
{
    const std::string good = PeerFrame::encode(PeerFrame::Kind::Message, sample());

    EXPECT_EQ(parse("G"), PeerFrame::Status::Invalid) << "wrong first byte, before the rest arrives";
    EXPECT_EQ(parse("GET / HTTP/1.0\r\n\r\n"), PeerFrame::Status::Invalid);

    std::string version = good.substr(0, 4);
    version[3] = 2;
    EXPECT_EQ(parse(version), PeerFrame::Status::Invalid) << "a later version is not guessed at";

    std::string kind = good.substr(0, 5);
    kind[4] = 7;
    EXPECT_EQ(parse(kind), PeerFrame::Status::Invalid);

    // A length over the limit is refused with the header, without waiting for the path.
    std::string huge = good.substr(0, PeerFrame::kHeaderSize);
    for (std::size_t i = PeerFrame::kHeaderSize - 4; i < PeerFrame::kHeaderSize; ++i)
        huge[i] = '\xff';
    EXPECT_EQ(parse(huge), PeerFrame::Status::Invalid);

    std::string nul = good;
    nul[PeerFrame::kHeaderSize + 2] = '\0';
    EXPECT_EQ(parse(nul), PeerFrame::Status::Invalid);
}
