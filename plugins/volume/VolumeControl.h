// VolumeControl: the master level and mute switch of the computer's default sound output, as the
// Volume keys see them. One object per key instance, owned by it.
//
// Threads: Open, Close, GetMute, SetMute, GetVolume and SetVolume are called on the owning
// instance's paint thread; the constructor and destructor on the host's main thread. None of them
// waits on a sound server: each back end keeps the state current on a thread of its own, reads
// return the last known values and writes are handed to that thread.
//
// Without an attached output (before Open, after Close, or while the sound system is gone) every
// read returns 0 and every write does nothing.
#pragma once

#include <memory>

namespace volume {

class VolumeControl {
public:
    // The whole range of a level: 0 is silence, 65535 the output's full volume.
    static constexpr unsigned kFullLevel = 65535;

    VolumeControl() = default;
    VolumeControl(const VolumeControl &) = delete;
    VolumeControl &operator=(const VolumeControl &) = delete;
    virtual ~VolumeControl() = default;

    // Attaches to the default output and starts following it. Nonzero when an output is attached
    // on return; when none is, the back end keeps trying in the background. Calling it while open
    // does nothing more.
    virtual int Open() = 0;
    // Detaches; the object may be opened again. Does nothing when not open.
    virtual void Close() = 0;
    // Nonzero when the output is muted.
    virtual int GetMute() = 0;
    virtual void SetMute(int muted) = 0;
    // The master level scaled to 0..kFullLevel.
    virtual unsigned GetVolume() = 0;
    // Sets the master level; values above kFullLevel count as kFullLevel.
    virtual void SetVolume(unsigned level) = 0;
};

// The back end for this machine: the PulseAudio-protocol server (PulseAudio itself or PipeWire's
// pipewire-pulse) when one answers, else the ALSA mixer of the default card. Asks the server with
// a short time limit; never starts one. [main-thread]
std::unique_ptr<VolumeControl> CreateVolumeControl();

} // namespace volume
