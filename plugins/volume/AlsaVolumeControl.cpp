#include "AlsaVolumeControl.h"

#include "VolumeScale.h"

#include <alsa/asoundlib.h>

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

namespace volume {

namespace {

// An open mixer with its simple elements registered and loaded, or null.
snd_mixer_t *openMixer(const std::string &device)
{
    snd_mixer_t *mixer = nullptr;
    if (snd_mixer_open(&mixer, 0) < 0)
        return nullptr;
    if (snd_mixer_attach(mixer, device.c_str()) < 0 || snd_mixer_selem_register(mixer, nullptr, nullptr) < 0
        || snd_mixer_load(mixer) < 0) {
        snd_mixer_close(mixer);
        return nullptr;
    }
    return mixer;
}

// The simple element `name`, index 0, when it has a playback volume.
snd_mixer_elem_t *findElement(snd_mixer_t *mixer, const std::string &name)
{
    snd_mixer_selem_id_t *id = nullptr;
    snd_mixer_selem_id_alloca(&id);
    snd_mixer_selem_id_set_index(id, 0);
    snd_mixer_selem_id_set_name(id, name.c_str());
    snd_mixer_elem_t *elem = snd_mixer_find_selem(mixer, id);
    if (!elem || !snd_mixer_selem_has_playback_volume(elem))
        return nullptr;
    return elem;
}

template <class Fn>
void forEachChannel(snd_mixer_elem_t *elem, Fn fn)
{
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        const auto channel = snd_mixer_selem_channel_id_t(c);
        if (snd_mixer_selem_has_playback_channel(elem, channel))
            fn(channel);
    }
}

} // namespace

AlsaVolumeControl::AlsaVolumeControl(std::string device, std::string element)
    : m_device(std::move(device)), m_element(std::move(element))
{
}

AlsaVolumeControl::~AlsaVolumeControl()
{
    // As in the sound-server back end: never leave the thread running past the object.
    Close();
}

bool AlsaVolumeControl::Available(const std::string &device, const std::string &element)
{
    snd_mixer_t *mixer = openMixer(device);
    if (!mixer)
        return false;
    const bool found = findElement(mixer, element) != nullptr;
    snd_mixer_close(mixer);
    return found;
}

int AlsaVolumeControl::Open()
{
    if (m_thread.joinable())
        return attached() ? 1 : 0;
    m_wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (m_wakeFd < 0)
        return 0;
    {
        std::lock_guard guard(m_lock);
        m_stop = false;
        m_firstAnswer = false;
    }
    try {
        m_thread = std::thread(&AlsaVolumeControl::run, this);
    } catch (...) {
        ::close(m_wakeFd);
        m_wakeFd = -1;
        return 0;
    }
    std::unique_lock lock(m_lock);
    m_changed.wait_for(lock, kOpenWait, [this] { return m_firstAnswer; });
    return m_attached ? 1 : 0;
}

void AlsaVolumeControl::Close()
{
    if (!m_thread.joinable())
        return;
    {
        std::lock_guard guard(m_lock);
        m_stop = true;
    }
    wake();
    m_thread.join();
    ::close(m_wakeFd);
    m_wakeFd = -1;
    std::lock_guard guard(m_lock);
    m_attached = false;
    m_level = 0;
    m_muted = false;
    m_pendingLevel.reset();
    m_pendingMute.reset();
}

bool AlsaVolumeControl::attached()
{
    std::lock_guard guard(m_lock);
    return m_attached;
}

int AlsaVolumeControl::GetMute()
{
    std::lock_guard guard(m_lock);
    return m_attached && m_muted ? 1 : 0;
}

unsigned AlsaVolumeControl::GetVolume()
{
    std::lock_guard guard(m_lock);
    return m_attached ? m_level : 0;
}

void AlsaVolumeControl::SetMute(int muted)
{
    {
        std::lock_guard guard(m_lock);
        if (!m_attached)
            return;
        m_muted = muted != 0;
        m_pendingMute = m_muted;
    }
    wake();
}

void AlsaVolumeControl::SetVolume(unsigned level)
{
    level = std::min(level, kFullLevel);
    {
        std::lock_guard guard(m_lock);
        if (!m_attached || level == m_level)
            return;
        m_level = level;
        m_pendingLevel = level;
    }
    wake();
}

void AlsaVolumeControl::wake()
{
    if (m_wakeFd >= 0) {
        const std::uint64_t one = 1;
        [[maybe_unused]] ssize_t written = ::write(m_wakeFd, &one, sizeof one);
    }
}

// --- mixer thread -------------------------------------------------------------------------------

bool AlsaVolumeControl::attach()
{
    m_mixer = openMixer(m_device);
    if (!m_mixer)
        return false;
    m_elem = findElement(m_mixer, m_element);
    if (!m_elem || snd_mixer_selem_get_playback_volume_range(m_elem, &m_min, &m_max) < 0) {
        release();
        return false;
    }
    return true;
}

void AlsaVolumeControl::release()
{
    if (m_mixer)
        snd_mixer_close(m_mixer);
    m_mixer = nullptr;
    m_elem = nullptr;
    std::lock_guard guard(m_lock);
    m_attached = false;
    m_level = 0;
    m_muted = false;
    m_pendingLevel.reset();
    m_pendingMute.reset();
}

void AlsaVolumeControl::refresh()
{
    long loudest = m_min;
    forEachChannel(m_elem, [&](snd_mixer_selem_channel_id_t channel) {
        long value = m_min;
        if (snd_mixer_selem_get_playback_volume(m_elem, channel, &value) >= 0)
            loudest = std::max(loudest, value);
    });
    // Muted when the switch of every channel is off; an element without a switch never is.
    bool muted = false;
    if (snd_mixer_selem_has_playback_switch(m_elem)) {
        muted = true;
        forEachChannel(m_elem, [&](snd_mixer_selem_channel_id_t channel) {
            int on = 1;
            if (snd_mixer_selem_get_playback_switch(m_elem, channel, &on) < 0 || on)
                muted = false;
        });
    }
    std::lock_guard guard(m_lock);
    m_attached = true;
    // A write not yet carried out stays what the keys show.
    m_level = m_pendingLevel.value_or(levelFromRange(loudest, m_min, m_max));
    m_muted = m_pendingMute.value_or(muted);
}

void AlsaVolumeControl::applyPending()
{
    std::optional<std::uint32_t> level;
    std::optional<bool> mute;
    {
        std::lock_guard guard(m_lock);
        level.swap(m_pendingLevel);
        mute.swap(m_pendingMute);
    }
    if (mute && snd_mixer_selem_has_playback_switch(m_elem))
        snd_mixer_selem_set_playback_switch_all(m_elem, *mute ? 0 : 1);
    if (level) {
        // Every channel moves by the same factor, so the balance between them stays.
        long loudest = m_min;
        forEachChannel(m_elem, [&](snd_mixer_selem_channel_id_t channel) {
            long value = m_min;
            if (snd_mixer_selem_get_playback_volume(m_elem, channel, &value) >= 0)
                loudest = std::max(loudest, value);
        });
        const long target = rangeFromLevel(*level, m_min, m_max);
        forEachChannel(m_elem, [&](snd_mixer_selem_channel_id_t channel) {
            long value = m_min;
            snd_mixer_selem_get_playback_volume(m_elem, channel, &value);
            long next = target;
            if (loudest > m_min)
                next = m_min + long((long double)(value - m_min) * (target - m_min) / (loudest - m_min) + 0.5L);
            snd_mixer_selem_set_playback_volume(m_elem, channel, std::clamp(next, m_min, m_max));
        });
    }
}

void AlsaVolumeControl::run()
{
    auto delay = kRetryFirst;
    std::vector<pollfd> fds;
    for (;;) {
        {
            std::lock_guard guard(m_lock);
            if (m_stop)
                break;
        }
        if (!m_mixer) {
            if (attach()) {
                delay = kRetryFirst;
                refresh();
            }
            {
                std::lock_guard guard(m_lock);
                m_firstAnswer = true;
            }
            m_changed.notify_all();
            if (!m_mixer) {
                // Sleep until the retry is due or Close wakes us.
                pollfd wakeOnly{m_wakeFd, POLLIN, 0};
                ::poll(&wakeOnly, 1, int(delay.count()));
                std::uint64_t drained;
                [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &drained, sizeof drained);
                delay = std::min(delay * 2, kRetryMost);
                continue;
            }
        }

        applyPending();

        const int count = snd_mixer_poll_descriptors_count(m_mixer);
        if (count < 0) {
            release();
            continue;
        }
        fds.assign(std::size_t(count) + 1, pollfd{});
        fds[0] = pollfd{m_wakeFd, POLLIN, 0};
        if (snd_mixer_poll_descriptors(m_mixer, fds.data() + 1, unsigned(count)) < 0) {
            release();
            continue;
        }
        if (::poll(fds.data(), fds.size(), -1) < 0)
            continue; // interrupted by a signal: look again
        if (fds[0].revents & POLLIN) {
            std::uint64_t drained;
            [[maybe_unused]] ssize_t got = ::read(m_wakeFd, &drained, sizeof drained);
        }
        unsigned short revents = 0;
        if (count > 0 && snd_mixer_poll_descriptors_revents(m_mixer, fds.data() + 1, unsigned(count), &revents) < 0) {
            release();
            continue;
        }
        if (revents & (POLLERR | POLLHUP | POLLNVAL)) {
            release();
            continue;
        }
        if (revents & POLLIN) {
            if (snd_mixer_handle_events(m_mixer) < 0) {
                release();
                continue;
            }
            refresh();
        }
    }
    if (m_mixer)
        release();
}

} // namespace volume
