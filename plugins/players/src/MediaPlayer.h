// MediaPlayer: one media player the keys can drive, as the Players plug-in sees it; NullPlayer
// stands for "no player" and answers that nothing is there.
//
// Objects belong to one plug-in instance and are used only on its paint thread.
#pragma once

#include <string>

namespace players {

class MediaPlayer {
public:
    virtual ~MediaPlayer() = default;

    // Whether the player is present now; also brings what the other calls read up to date.
    virtual bool Find() = 0;
    // Whether the player runs in process `pid` or in one of its descendants (so it owns the
    // windows of `pid`). False for pid 0.
    virtual bool RunsInProcess(int pid) const = 0;
    // The current track's title, UTF-8; empty when there is none.
    virtual std::string GetTitle() const = 0;
    // Commands: true when the player was found and took the command.
    virtual bool Previous() = 0;
    virtual bool Next() = 0;
    virtual bool Play() = 0;
    virtual bool Pause() = 0;
    virtual bool Stop() = 0;
    virtual bool IsPlaying() const = 0;
    // Elapsed time of the track in milliseconds, -1 when the player does not tell.
    virtual int GetPosition() const = 0;
    // Length of the track in seconds, -1 when the player does not tell.
    virtual int GetLength() const = 0;
};

class NullPlayer final : public MediaPlayer {
public:
    bool Find() override { return false; }
    bool RunsInProcess(int) const override { return false; }
    std::string GetTitle() const override { return {}; }
    bool Previous() override { return false; }
    bool Next() override { return false; }
    bool Play() override { return false; }
    bool Pause() override { return false; }
    bool Stop() override { return false; }
    bool IsPlaying() const override { return false; }
    int GetPosition() const override { return -1; }
    int GetLength() const override { return -1; }
};

} // namespace players
