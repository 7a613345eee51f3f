// PulseVolumeControl: the default sink of a PulseAudio-protocol sound server (PulseAudio, or
// PipeWire through pipewire-pulse) as a VolumeControl.
//
// Open starts a threaded libpulse main loop that connects, subscribes to sink and server events
// and keeps the default sink's volume and mute switch in a small cache; a change of the default
// sink (headphones plugged in) is followed. Reads return the cache under a lock of their own, so
// they never wait for the main loop or the server. Writes are sent without waiting for the answer
// and update the cache at once. When the server goes away the cache empties (reads give 0, writes
// do nothing) and the loop reconnects with a back-off until the server answers again.
//
// Ownership and threads as in VolumeControl; the libpulse objects live on the main loop's thread
// and are touched elsewhere only under its lock.
#pragma once

#include "VolumeControl.h"

#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/subscribe.h>
#include <pulse/thread-mainloop.h>
#include <pulse/volume.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace volume {

class PulseVolumeControl final : public VolumeControl {
public:
    // `server` is a libpulse server string ("unix:/path/native"); empty means libpulse's own
    // choice (PULSE_SERVER, client.conf, the user's runtime folder).
    explicit PulseVolumeControl(std::string server = {});
    ~PulseVolumeControl() override;

    // Whether a server at `server` (as above) accepts a connection within `limit`. Never starts a
    // server. [any-thread]
    static bool ServerAnswers(const std::string &server, std::chrono::milliseconds limit);

    // Waits at most this long for the first answer, so the first face shows the real level.
    static constexpr std::chrono::milliseconds kOpenWait{500};
    // Reconnection delays: the first, and the most the doubling reaches.
    static constexpr std::chrono::milliseconds kRetryFirst{250};
    static constexpr std::chrono::milliseconds kRetryMost{2000};

    int Open() override;
    void Close() override;
    int GetMute() override;
    void SetMute(int muted) override;
    unsigned GetVolume() override;
    void SetVolume(unsigned level) override;

    // Whether a default sink is attached now. [paint-thread, tests]
    bool attached();

private:
    // Main loop thread only (or under the loop's lock).
    void connect();
    void scheduleRetry();
    void dropContext();
    void requestServerInfo();
    void detach();
    static void onContextState(pa_context *context, void *self);
    static void onSubscription(pa_context *context, pa_subscription_event_type_t type,
                               std::uint32_t index, void *self);
    static void onServerInfo(pa_context *context, const pa_server_info *info, void *self);
    static void onSinkInfo(pa_context *context, const pa_sink_info *info, int eol, void *self);
    static void onRetry(pa_mainloop_api *api, pa_time_event *event, const struct timeval *tv,
                        void *self);

    const std::string m_server;

    // Owned by the paint thread (Open/Close); the loop's objects are its thread's.
    pa_threaded_mainloop *m_loop = nullptr;
    pa_context *m_context = nullptr;     // loop thread / loop lock
    pa_time_event *m_retry = nullptr;    // loop thread / loop lock
    std::chrono::milliseconds m_retryDelay = kRetryFirst; // loop thread / loop lock
    std::string m_defaultSink;           // loop thread / loop lock: name the server last gave

    // The cache the reads use. Guarded by m_lock; m_answered wakes Open.
    std::mutex m_lock;
    std::condition_variable m_answered;
    bool m_attached = false;             // a default sink is known and the context is ready
    bool m_firstAnswer = false;          // the first connection attempt has settled
    std::uint32_t m_sinkIndex = PA_INVALID_INDEX;
    pa_cvolume m_volume{};               // the sink's channel volumes, for balance-keeping sets
    std::uint32_t m_level = 0;
    bool m_muted = false;
};

} // namespace volume
