#include "PulseVolumeControl.h"

#include "VolumeScale.h"

#include <pulse/mainloop.h>
#include <pulse/operation.h>
#include <pulse/rtclock.h>
#include <pulse/timeval.h>

#include <algorithm>
#include <cstring>

namespace volume {

static_assert(kPulseNorm == PA_VOLUME_NORM);

namespace {

constexpr char kClientName[] = "Pixkey mini Volume";

const char *serverOrNull(const std::string &server)
{
    return server.empty() ? nullptr : server.c_str();
}

// Drops our reference to an operation whose answer nobody waits for.
void forget(pa_operation *operation)
{
    if (operation)
        pa_operation_unref(operation);
}

} // namespace

PulseVolumeControl::PulseVolumeControl(std::string server) : m_server(std::move(server)) {}

PulseVolumeControl::~PulseVolumeControl()
{
    // The owner is meant to Close first; an instance deleted while open must still not leave a
    // thread running code of a library that is about to be unloaded.
    Close();
}

bool PulseVolumeControl::ServerAnswers(const std::string &server, std::chrono::milliseconds limit)
{
    pa_mainloop *loop = pa_mainloop_new();
    if (!loop)
        return false;
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), kClientName);
    bool ready = false;
    if (context && pa_context_connect(context, serverOrNull(server), PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            if (state == PA_CONTEXT_READY) {
                ready = true;
                break;
            }
            if (!PA_CONTEXT_IS_GOOD(state))
                break;
            const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            if (pa_mainloop_prepare(loop, int(left.count())) < 0 || pa_mainloop_poll(loop) < 0
                || pa_mainloop_dispatch(loop) < 0)
                break;
        }
        pa_context_disconnect(context);
    }
    if (context)
        pa_context_unref(context);
    pa_mainloop_free(loop);
    return ready;
}

int PulseVolumeControl::Open()
{
    if (m_loop)
        return attached() ? 1 : 0;
    m_loop = pa_threaded_mainloop_new();
    if (!m_loop)
        return 0;
    {
        std::lock_guard guard(m_lock);
        m_firstAnswer = false;
    }
    pa_threaded_mainloop_lock(m_loop);
    m_retryDelay = kRetryFirst;
    connect();
    pa_threaded_mainloop_unlock(m_loop);
    if (pa_threaded_mainloop_start(m_loop) < 0) {
        pa_threaded_mainloop_lock(m_loop);
        dropContext();
        pa_threaded_mainloop_unlock(m_loop);
        pa_threaded_mainloop_free(m_loop);
        m_loop = nullptr;
        return 0;
    }
    std::unique_lock lock(m_lock);
    m_answered.wait_for(lock, kOpenWait, [this] { return m_firstAnswer; });
    return m_attached ? 1 : 0;
}

void PulseVolumeControl::Close()
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    if (m_retry) {
        pa_threaded_mainloop_get_api(m_loop)->time_free(m_retry);
        m_retry = nullptr;
    }
    dropContext();
    pa_threaded_mainloop_unlock(m_loop);
    pa_threaded_mainloop_stop(m_loop);
    pa_threaded_mainloop_free(m_loop);
    m_loop = nullptr;
    detach();
}

bool PulseVolumeControl::attached()
{
    std::lock_guard guard(m_lock);
    return m_attached;
}

int PulseVolumeControl::GetMute()
{
    std::lock_guard guard(m_lock);
    return m_attached && m_muted ? 1 : 0;
}

unsigned PulseVolumeControl::GetVolume()
{
    std::lock_guard guard(m_lock);
    return m_attached ? m_level : 0;
}

void PulseVolumeControl::SetMute(int muted)
{
    if (!m_loop)
        return;
    pa_threaded_mainloop_lock(m_loop);
    std::uint32_t sink = PA_INVALID_INDEX;
    {
        std::lock_guard guard(m_lock);
        if (m_attached) {
            sink = m_sinkIndex;
            m_muted = muted != 0;
        }
    }
    if (sink != PA_INVALID_INDEX && m_context)
        forget(pa_context_set_sink_mute_by_index(m_context, sink, muted != 0, nullptr, nullptr));
    pa_threaded_mainloop_unlock(m_loop);
}

void PulseVolumeControl::SetVolume(unsigned level)
{
    if (!m_loop)
        return;
    level = std::min(level, kFullLevel);
    pa_threaded_mainloop_lock(m_loop);
    std::uint32_t sink = PA_INVALID_INDEX;
    pa_cvolume volume{};
    {
        std::lock_guard guard(m_lock);
        // Setting the level the output already shows changes nothing. This also keeps a sink that
        // another program amplified beyond 100 % (which reads as full) from being pulled back to
        // 100 % by a press of Up.
        if (m_attached && level != m_level && pa_cvolume_valid(&m_volume)) {
            sink = m_sinkIndex;
            // Scaling keeps the ratio between the channels; a silent sink gets all channels equal.
            volume = m_volume;
            pa_cvolume_scale(&volume, pulseFromLevel(level));
            m_volume = volume;
            m_level = level;
        }
    }
    if (sink != PA_INVALID_INDEX && m_context)
        forget(pa_context_set_sink_volume_by_index(m_context, sink, &volume, nullptr, nullptr));
    pa_threaded_mainloop_unlock(m_loop);
}

// --- main loop thread ---------------------------------------------------------------------------

void PulseVolumeControl::connect()
{
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(m_loop);
    m_context = pa_context_new(api, kClientName);
    if (!m_context) {
        scheduleRetry();
        return;
    }
    pa_context_set_state_callback(m_context, &PulseVolumeControl::onContextState, this);
    pa_context_set_subscribe_callback(m_context, &PulseVolumeControl::onSubscription, this);
    // A key never starts a sound server: it follows the one the desktop runs.
    if (pa_context_connect(m_context, serverOrNull(m_server), PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        dropContext();
        scheduleRetry();
    }
}

void PulseVolumeControl::dropContext()
{
    if (!m_context)
        return;
    pa_context_set_state_callback(m_context, nullptr, nullptr);
    pa_context_set_subscribe_callback(m_context, nullptr, nullptr);
    pa_context_disconnect(m_context);
    pa_context_unref(m_context);
    m_context = nullptr;
    m_defaultSink.clear();
}

void PulseVolumeControl::detach()
{
    std::lock_guard guard(m_lock);
    m_attached = false;
    m_sinkIndex = PA_INVALID_INDEX;
    m_volume = pa_cvolume{};
    m_level = 0;
    m_muted = false;
}

void PulseVolumeControl::scheduleRetry()
{
    {
        // The attempt has settled without an output: Open need not wait any longer.
        std::lock_guard guard(m_lock);
        m_firstAnswer = true;
    }
    m_answered.notify_all();
    pa_mainloop_api *api = pa_threaded_mainloop_get_api(m_loop);
    struct timeval when;
    pa_gettimeofday(&when);
    pa_timeval_add(&when, pa_usec_t(m_retryDelay.count()) * PA_USEC_PER_MSEC);
    if (m_retry)
        api->time_restart(m_retry, &when);
    else
        m_retry = api->time_new(api, &when, &PulseVolumeControl::onRetry, this);
    m_retryDelay = std::min(m_retryDelay * 2, kRetryMost);
}

void PulseVolumeControl::onRetry(pa_mainloop_api *api, pa_time_event *event, const struct timeval *,
                                 void *userdata)
{
    auto *self = static_cast<PulseVolumeControl *>(userdata);
    api->time_free(event);
    self->m_retry = nullptr;
    self->dropContext();
    self->connect();
}

void PulseVolumeControl::onContextState(pa_context *context, void *userdata)
{
    auto *self = static_cast<PulseVolumeControl *>(userdata);
    switch (pa_context_get_state(context)) {
    case PA_CONTEXT_READY: {
        self->m_retryDelay = kRetryFirst;
        const auto mask = pa_subscription_mask_t(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);
        forget(pa_context_subscribe(context, mask, nullptr, nullptr));
        self->requestServerInfo();
        break;
    }
    case PA_CONTEXT_FAILED:
    case PA_CONTEXT_TERMINATED:
        // The server went away (or never answered): show nothing and try again later. The context
        // is released by the retry, outside its own callback.
        self->detach();
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        self->scheduleRetry();
        break;
    default:
        break;
    }
}

void PulseVolumeControl::requestServerInfo()
{
    if (m_context)
        forget(pa_context_get_server_info(m_context, &PulseVolumeControl::onServerInfo, this));
}

void PulseVolumeControl::onSubscription(pa_context *, pa_subscription_event_type_t type,
                                        std::uint32_t index, void *userdata)
{
    auto *self = static_cast<PulseVolumeControl *>(userdata);
    const unsigned facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const unsigned kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        // The default sink may have changed.
        self->requestServerInfo();
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK)
        return;
    std::uint32_t current;
    {
        std::lock_guard guard(self->m_lock);
        current = self->m_sinkIndex;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE && index == current) {
        // The server names the new default in a server event; until then there is no output.
        self->detach();
        self->m_defaultSink.clear();
        self->requestServerInfo();
    } else if (kind == PA_SUBSCRIPTION_EVENT_CHANGE && index == current) {
        forget(pa_context_get_sink_info_by_index(self->m_context, index, &PulseVolumeControl::onSinkInfo, self));
    } else if (kind == PA_SUBSCRIPTION_EVENT_NEW && current == PA_INVALID_INDEX) {
        self->requestServerInfo();
    }
}

void PulseVolumeControl::onServerInfo(pa_context *context, const pa_server_info *info, void *userdata)
{
    auto *self = static_cast<PulseVolumeControl *>(userdata);
    if (context != self->m_context)
        return;
    const char *name = info ? info->default_sink_name : nullptr;
    if (!name || !*name) {
        // A server without any output: nothing to show until a sink appears.
        self->detach();
        self->m_defaultSink.clear();
        {
            std::lock_guard guard(self->m_lock);
            self->m_firstAnswer = true;
        }
        self->m_answered.notify_all();
        return;
    }
    if (self->m_defaultSink == name && self->attached())
        return;
    self->m_defaultSink = name;
    forget(pa_context_get_sink_info_by_name(context, name, &PulseVolumeControl::onSinkInfo, self));
}

void PulseVolumeControl::onSinkInfo(pa_context *context, const pa_sink_info *info, int eol, void *userdata)
{
    auto *self = static_cast<PulseVolumeControl *>(userdata);
    if (context != self->m_context)
        return;
    if (eol < 0) {
        // The sink vanished between the events and the question; the next server event names
        // another one.
        {
            std::lock_guard guard(self->m_lock);
            self->m_firstAnswer = true;
        }
        self->m_answered.notify_all();
        return;
    }
    if (eol > 0 || !info)
        return;
    // Answers for a sink that is no longer the default (the default changed meanwhile) are
    // dropped; the answer for the new one follows.
    if (!info->name || self->m_defaultSink != info->name)
        return;
    {
        std::lock_guard guard(self->m_lock);
        self->m_attached = true;
        self->m_firstAnswer = true;
        self->m_sinkIndex = info->index;
        self->m_volume = info->volume;
        self->m_level = levelFromPulse(pa_cvolume_max(&info->volume));
        self->m_muted = info->mute != 0;
    }
    self->m_answered.notify_all();
}

} // namespace volume
