// What a key makes of MPRIS values: titles from metadata, times that players send, and the position
// between two reads.
#include "PlayerState.h"

#include <QDBusObjectPath>
#include <QStringList>

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace players;
using namespace std::chrono_literals;

namespace {

QVariantMap meta(std::initializer_list<std::pair<const char *, QVariant>> entries)
{
    QVariantMap map;
    for (const auto &[key, value] : entries)
        map.insert(QLatin1String(key), value);
    return map;
}

} // namespace

TEST(PlayerTitle, ArtistTitleOrWhatThereIs)
{
    const QStringList artists{QStringLiteral("Ann"), QStringLiteral("Bob")};
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:artist", QStringList{QStringLiteral("Ann")}},
                                    {"xesam:title", QStringLiteral("Song")}})),
              "Ann - Song");
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:artist", artists}, {"xesam:title", QStringLiteral("Duet")}})),
              "Ann, Bob - Duet");
    // Some players send the artist as a plain string.
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:artist", QStringLiteral("Cy")}, {"xesam:title", QStringLiteral("X")}})),
              "Cy - X");
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:title", QStringLiteral("Only")}})), "Only");
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:url", QStringLiteral("file:///music/My%20Song.ogg")}})), "My Song.ogg");
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:artist", artists}, {"xesam:url", QStringLiteral("http://radio/")}})),
              "Ann, Bob");
    EXPECT_EQ(titleOfMetadata({}), "");
    // Values of the wrong type are ignored, not misread.
    EXPECT_EQ(titleOfMetadata(meta({{"xesam:title", 42}, {"xesam:url", QStringLiteral("file:///a.mp3")}})), "a.mp3");
}

TEST(PlayerTitle, BadMetadataStaysOneShortLineOfValidText)
{
    const std::string huge = titleOfMetadata(meta({{"xesam:title", QString(1 << 20, QLatin1Char('x'))}}));
    EXPECT_EQ(huge.size(), std::size_t(kMaxTitleCharacters));

    EXPECT_EQ(titleOfMetadata(meta({{"xesam:title", QStringLiteral("two\nlines\tand\x01 more")}})),
              "two lines and more");

    // A cut never splits a character: 300 characters of a script outside the basic plane.
    QString emoji;
    for (int i = 0; i < 400; ++i)
        emoji += QString::fromUcs4(U"\U0001F3B5");
    const std::string cut = titleOfMetadata(meta({{"xesam:title", emoji}}));
    EXPECT_TRUE(QString::fromStdString(cut).isValidUtf16());
    EXPECT_EQ(QString::fromUtf8(cut.data(), qsizetype(cut.size())).toUtf8().toStdString(), cut);

    // Percent-encoded bytes that are not UTF-8 still give valid text.
    const std::string file = titleOfMetadata(meta({{"xesam:url", QStringLiteral("file:///m/%FF%FEx.ogg")}}));
    EXPECT_FALSE(file.empty());
    EXPECT_EQ(QString::fromUtf8(file.data(), qsizetype(file.size())).toUtf8().toStdString(), file);
}

TEST(PlayerTimes, OnlySensibleCountsAreKept)
{
    EXPECT_EQ(microsecondsOf(QVariant(qlonglong(180000000))), 180000000);
    EXPECT_EQ(microsecondsOf(QVariant(qulonglong(5))), 5);
    EXPECT_EQ(microsecondsOf(QVariant(int(7))), 7);
    EXPECT_EQ(microsecondsOf(QVariant(2.5e6)), 2500000);
    EXPECT_EQ(microsecondsOf(QVariant(qlonglong(-1))), -1);
    EXPECT_EQ(microsecondsOf(QVariant(std::numeric_limits<qlonglong>::max())), -1);
    EXPECT_EQ(microsecondsOf(QVariant(std::numeric_limits<double>::quiet_NaN())), -1);
    EXPECT_EQ(microsecondsOf(QVariant(std::numeric_limits<double>::infinity())), -1);
    EXPECT_EQ(microsecondsOf(QVariant(QStringLiteral("12"))), -1);
    EXPECT_EQ(microsecondsOf(QVariant()), -1);
}

TEST(PlayerTimes, PositionAdvancesByTheRateWhilePlayingAndStaysInTheTrack)
{
    const Clock::time_point t0{std::chrono::seconds(1000)};
    PlayerState state;
    state.apply(meta({{"PlaybackStatus", QStringLiteral("Playing")},
                      {"Rate", 2.0},
                      {"Position", qlonglong(10000000)},
                      {"Metadata", meta({{"mpris:length", qlonglong(15000000)}})}}),
                true, t0);
    EXPECT_EQ(state.positionAtTime(t0), 10000000);
    EXPECT_EQ(state.positionAtTime(t0 + 1s), 12000000);
    EXPECT_EQ(state.positionAtTime(t0 + 10s), 15000000) << "never past the end of the track";

    // Pausing keeps the position reached; it no longer moves.
    state.apply(meta({{"PlaybackStatus", QStringLiteral("Paused")}}), false, t0 + 1s);
    EXPECT_FALSE(state.playing);
    EXPECT_EQ(state.positionAtTime(t0 + 5s), 12000000);

    // A full read without Position: the player has none.
    state.apply(meta({{"PlaybackStatus", QStringLiteral("Playing")}}), true, t0 + 2s);
    EXPECT_EQ(state.positionAtTime(t0 + 3s), -1);

    // Rates that make no sense count as 1; a length of 0 as no length.
    state.apply(meta({{"Rate", std::numeric_limits<double>::quiet_NaN()},
                      {"Position", qlonglong(0)},
                      {"Metadata", meta({{"mpris:length", qlonglong(0)}})}}),
                false, t0 + 3s);
    EXPECT_EQ(state.rate, 1.0);
    EXPECT_EQ(state.lengthUs, -1);
    EXPECT_EQ(state.positionAtTime(t0 + 4s), 1000000);
}
