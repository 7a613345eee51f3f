// MprisPlayer: a MediaPlayer that is one MPRIS service on the session bus. State is read from the
// PlayerDirectory's last snapshot (no bus traffic); commands go to the player and wait for its
// answer for a bounded time.
//
// Owned by one plug-in instance; used only on its paint thread.
#pragma once

#include "MediaPlayer.h"
#include "PlayerDirectory.h"

#include <memory>

namespace players {

class MprisPlayer final : public MediaPlayer {
public:
    MprisPlayer(std::shared_ptr<PlayerDirectory> directory, QString service);

    const QString &service() const { return m_service; }

    bool Find() override;
    bool RunsInProcess(int pid) const override;
    std::string GetTitle() const override;
    bool Previous() override;
    bool Next() override;
    bool Play() override;
    bool Pause() override;
    bool Stop() override;
    bool IsPlaying() const override;
    int GetPosition() const override;
    int GetLength() const override;

private:
    bool command(const char *method);

    std::shared_ptr<PlayerDirectory> m_directory;
    QString m_service;
    SnapshotPtr m_snapshot;                // the snapshot of the last Find
    const PlayerState *m_state = nullptr;  // this player inside it, null when absent
};

} // namespace players
