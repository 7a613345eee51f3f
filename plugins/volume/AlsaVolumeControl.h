// AlsaVolumeControl: the "Master" simple mixer element of an ALSA card (the default one unless told
// otherwise) as a VolumeControl; its playback volume scaled from the element's own range and its
// playback switch as the mute.
//
// Open starts a thread of the object's own that opens the mixer, waits on its descriptors for
// changes made by any program and keeps level and mute in a small cache; the reads return the
// cache under a lock. Writes update the cache at once and are carried out by that thread, so the
// caller never waits on the mixer (which may be a sound server behind ALSA's "pulse" device).
// When the mixer fails (card unplugged, server gone) the cache empties and the thread opens it
// again after a growing delay.
//
// Ownership and threads as in VolumeControl; the snd_mixer handle is the thread's alone.
#pragma once

#include "VolumeControl.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct _snd_mixer;
struct _snd_mixer_elem;

namespace volume {

class AlsaVolumeControl final : public VolumeControl {
public:
    // `device` is an ALSA control device name ("default", "hw:0", "pulse"), `element` the name of
    // the simple element (index 0) that carries the master level.
    explicit AlsaVolumeControl(std::string device = "default", std::string element = "Master");
    ~AlsaVolumeControl() override;

    // Whether `device` opens and has a usable `element`. [any-thread]
    static bool Available(const std::string &device = "default", const std::string &element = "Master");

    // Waits at most this long for the first attempt to attach, so the first face is right.
    static constexpr std::chrono::milliseconds kOpenWait{500};
    // Reopening delays after a failure: the first, and the most the doubling reaches.
    static constexpr std::chrono::milliseconds kRetryFirst{250};
    static constexpr std::chrono::milliseconds kRetryMost{8000};

    int Open() override;
    void Close() override;
    int GetMute() override;
    void SetMute(int muted) override;
    unsigned GetVolume() override;
    void SetVolume(unsigned level) override;

    // Whether the element is attached now. [paint-thread, tests]
    bool attached();

private:
    // The mixer thread.
    void run();
    bool attach();
    void release();
    void refresh();
    void applyPending();
    void wake();

    const std::string m_device;
    const std::string m_element;

    std::thread m_thread;          // paint thread (Open/Close)
    int m_wakeFd = -1;             // eventfd: a write or Close wants the mixer thread

    // The mixer thread's own.
    _snd_mixer *m_mixer = nullptr;
    _snd_mixer_elem *m_elem = nullptr;
    long m_min = 0;
    long m_max = 0;

    // Guarded by m_lock; m_changed wakes Open when the first attempt has settled.
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_stop = false;
    bool m_firstAnswer = false;
    bool m_attached = false;
    std::uint32_t m_level = 0;
    bool m_muted = false;
    std::optional<std::uint32_t> m_pendingLevel;
    std::optional<bool> m_pendingMute;
};

} // namespace volume
