// PlayerState: what the Players plug-in knows about one MPRIS player, as last read from the
// session bus, and the pure rules that turn the bus's values into what a key shows.
//
// Plain values: built and updated by the PlayerDirectory's bus thread, then published inside an
// immutable PlayerSnapshot that any thread may read.
#pragma once

#include <QString>
#include <QVariantMap>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace players {

using Clock = std::chrono::steady_clock;

// Longest title kept, in characters; a player's metadata may be arbitrarily large.
constexpr int kMaxTitleCharacters = 300;

struct PlayerState {
    QString service;          // well-known bus name, "org.mpris.MediaPlayer2.NAME"
    QString owner;            // unique name of the connection that owns `service`
    std::vector<int> lineage; // process of that connection, then its parent, grandparent, ...
    std::string title;        // UTF-8, at most kMaxTitleCharacters characters, no control characters
    bool playing = false;     // PlaybackStatus is "Playing"
    std::int64_t lengthUs = -1;   // mpris:length in microseconds, -1 when absent or unusable
    std::int64_t positionUs = -1; // Position at `positionAt`, -1 when the player has none
    double rate = 1.0;            // Rate; the position advances by it while playing
    Clock::time_point positionAt{};

    // The position at `now`: the last one read, advanced by the rate while playing but not beyond
    // the end of the track; -1 when the player has none.
    std::int64_t positionAtTime(Clock::time_point now) const;

    // Takes the values found in a map of org.mpris.MediaPlayer2.Player properties (GetAll, or the
    // changed ones of PropertiesChanged); absent keys leave their values alone, except that a GetAll
    // answer (`complete`) without "Position" means the player has none. `now` stamps a position.
    void apply(const QVariantMap &properties, bool complete, Clock::time_point now);
};

// The title a key shows for MPRIS metadata: "artist - title" from xesam:artist and xesam:title;
// the title alone, or the file name of xesam:url, when that is all there is. Cut to
// kMaxTitleCharacters, line breaks and other control characters turned into spaces.
std::string titleOfMetadata(const QVariantMap &metadata);

// mpris:length (or any other integer of a metadata map) as a signed count, -1 when absent, not a
// number, negative or beyond what a key could show.
std::int64_t microsecondsOf(const QVariant &value);

// Everything the directory knows at one moment; never changed after it is published.
struct PlayerSnapshot {
    std::vector<PlayerState> players; // ordered by service name
    int focusedProcess = 0;           // process of the window in front, 0 when unknown

    const PlayerState *find(const QString &service) const;
};

using SnapshotPtr = std::shared_ptr<const PlayerSnapshot>;

} // namespace players
