#include "MprisPlayer.h"

#include <algorithm>

namespace players {

MprisPlayer::MprisPlayer(std::shared_ptr<PlayerDirectory> directory, QString service)
    : m_directory(std::move(directory)), m_service(std::move(service))
{
}

bool MprisPlayer::Find()
{
    m_snapshot = m_directory->snapshot();
    m_state = m_snapshot->find(m_service);
    return m_state != nullptr;
}

bool MprisPlayer::RunsInProcess(int pid) const
{
    if (!m_state || pid <= 0)
        return false;
    const std::vector<int> &lineage = m_state->lineage;
    return std::find(lineage.begin(), lineage.end(), pid) != lineage.end();
}

std::string MprisPlayer::GetTitle() const
{
    return m_state ? m_state->title : std::string();
}

bool MprisPlayer::command(const char *method)
{
    return m_state && m_directory->command(m_service, method);
}

bool MprisPlayer::Previous() { return command("Previous"); }
bool MprisPlayer::Next() { return command("Next"); }
bool MprisPlayer::Play() { return command("Play"); }
bool MprisPlayer::Pause() { return command("Pause"); }
bool MprisPlayer::Stop() { return command("Stop"); }

bool MprisPlayer::IsPlaying() const
{
    return m_state && m_state->playing;
}

int MprisPlayer::GetPosition() const
{
    if (!m_state)
        return -1;
    const std::int64_t position = m_state->positionAtTime(m_directory->now());
    return position < 0 ? -1 : int(position / 1000);
}

int MprisPlayer::GetLength() const
{
    if (!m_state || m_state->lengthUs < 0)
        return -1;
    return int(m_state->lengthUs / 1000000);
}

} // namespace players
