#include "MutterIdleMonitor.h"

#include <limits>

namespace pixkey {

MutterIdleMonitor::MutterIdleMonitor(Options options) : m_options(std::move(options)) {}

MutterIdleMonitor::~MutterIdleMonitor()
{
    m_call.reset();
    m_bus.reset();
}

std::chrono::steady_clock::time_point MutterIdleMonitor::now() const
{
    return m_options.clock ? m_options.clock() : std::chrono::steady_clock::now();
}

bool MutterIdleMonitor::open(std::string &error)
{
    m_bus = sdbus::openSessionBus(error, m_options.busAddress);
    if (!m_bus)
        return false;
    ask(); // the first answer also tells whether the monitor is there at all
    if (!m_failure.empty()) {
        error = m_failure;
        m_bus.reset();
        return false;
    }
    return true;
}

void MutterIdleMonitor::ask()
{
    sd_bus_message *raw = nullptr;
    int r = sd_bus_message_new_method_call(m_bus.get(), &raw, "org.gnome.Mutter.IdleMonitor",
                                           "/org/gnome/Mutter/IdleMonitor/Core", "org.gnome.Mutter.IdleMonitor",
                                           "GetIdletime");
    sdbus::MessagePtr call(raw);
    sd_bus_slot *slot = nullptr;
    if (r >= 0) // a compositor that does not answer within 2 s is asked again on the next request
        r = sd_bus_call_async(m_bus.get(), &slot, call.get(), &MutterIdleMonitor::onReply, this, 2'000'000);
    if (r < 0) {
        m_failure = "cannot ask GNOME's idle monitor: " + sdbus::errorText(r);
        return;
    }
    m_call.reset(slot);
}

int MutterIdleMonitor::onReply(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *me = static_cast<MutterIdleMonitor *>(self);
    me->m_call.reset();
    if (sd_bus_message_is_method_error(reply, nullptr)) {
        const sd_bus_error *error = sd_bus_message_get_error(reply);
        // A slow compositor is not a missing one: keep the last value and ask again later.
        if (!sd_bus_error_has_name(error, SD_BUS_ERROR_NO_REPLY) && !sd_bus_error_has_name(error, SD_BUS_ERROR_TIMEOUT))
            me->m_failure = "GNOME's idle monitor is not available (" + sdbus::errorText(error) + ")";
        return 0;
    }
    uint64_t idle = 0;
    if (sd_bus_message_read(reply, "t", &idle) < 0) {
        me->m_failure = "GNOME's idle monitor answered something other than a time";
        return 0;
    }
    me->m_idle = std::uint32_t(std::min<uint64_t>(idle, std::numeric_limits<std::uint32_t>::max()));
    me->m_answeredAt = me->now();
    ++me->m_answers;
    return 0;
}

std::optional<std::uint32_t> MutterIdleMonitor::idleTime()
{
    if (usable() && !m_call && (!m_idle || now() - m_answeredAt >= m_options.refresh))
        ask();
    return m_idle;
}

void MutterIdleMonitor::pollFds(std::vector<pollfd> &fds) const
{
    sdbus::fillPoll(m_bus.get(), fds);
}

int MutterIdleMonitor::timeoutMs() const
{
    return sdbus::busTimeoutMs(m_bus.get());
}

void MutterIdleMonitor::dispatch(DesktopEvents &)
{
    if (m_bus && !sdbus::processBus(m_bus.get()) && m_failure.empty())
        m_failure = "the session bus connection closed";
}

CapabilityReports MutterIdleMonitor::capabilities() const
{
    CapabilityReport report;
    report.capability = DesktopCapability::IdleTime;
    if (m_failure.empty()) {
        report.state = CapabilityState::Working;
        report.how = "GNOME's idle monitor (org.gnome.Mutter.IdleMonitor)";
    } else {
        report.state = CapabilityState::Unavailable;
        report.how = m_failure;
    }
    return {report};
}

} // namespace pixkey
