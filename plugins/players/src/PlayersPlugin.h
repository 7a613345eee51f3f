// PlayersPlugin: one key of the "Player" plug-in: previous track (kind 1), play/pause with the
// track's title and a time bar (kind 2), next track (kind 3); kind 0 only describes the library.
// The player it drives is chosen anew on every paint and press among the MPRIS players present:
// the one whose process owns the window in front, else the first in a stable order (a playing one
// before the others, then by service name).
//
// Created and deleted by the library's Create and Delete on the main thread. Paint, OnKeyDown and
// OnEvent run on the instance's paint thread and own everything below; GetInfo runs on the main
// thread and reads only the constant kind, so no lock is needed.
#pragma once

#include "MediaPlayer.h"
#include "MprisPlayer.h"
#include "PlayerDirectory.h"

#include <pixkey/utility/CLocalizableTextRenderer.h>
#include <pixkey_plugin.hpp>

#include <QImage>

#include <cstdint>
#include <memory>
#include <vector>

namespace players {

class PlayersPlugin : public pkx::Plugin<PlayersPlugin> {
public:
    enum Kind { Describing = 0, PreviousKey = 1, PlayPauseKey = 2, NextKey = 3 };

    // `function` is clamped to 0..3. `directory`, when given, is used instead of the library's
    // shared one (tests point it at their own bus).
    explicit PlayersPlugin(int function, std::shared_ptr<PlayerDirectory> directory = nullptr);

    // [paint-thread] Draws the face of the chosen player's state; always 1.
    int Paint(PkxSurface &surface);
    // [paint-thread] Previous, Play or Pause, Next to the chosen player; kind 0 does nothing.
    void OnKeyDown();
    // [main-thread]
    intptr_t GetInfo(int code);
    // [paint-thread] 1: the players and (once) the pictures and fonts; 2: the players go. Always 1.
    int OnEvent(int code);

    int kind() const { return m_kind; }
    int tickerX() const { return m_tickerX; }

private:
    // Brings the list of players in line with the directory and returns the one to drive.
    MediaPlayer &selectActive();
    void load();
    void drawTicker(PkxSurface &surface, const MediaPlayer &player);
    void drawTimeBar(PkxSurface &surface, const MediaPlayer &player);

    const int m_kind;
    std::shared_ptr<PlayerDirectory> m_givenDirectory;

    std::shared_ptr<PlayerDirectory> m_directory; // held between OnEvent 1 and 2
    NullPlayer m_nullPlayer;
    std::vector<std::unique_ptr<MprisPlayer>> m_players; // one per service, by service name
    bool m_activated = false;

    bool m_loaded = false;
    QImage m_face;           // Format_BGR888, 96x96
    QImage m_playingOverlay; // kind 2: the pause face shown while the player plays
    std::unique_ptr<pixkey::CLocalizableTextRenderer> m_titleText;
    std::unique_ptr<pixkey::CLocalizableTextRenderer> m_timeText;
    int m_tickerX = 96;
};

} // namespace players
