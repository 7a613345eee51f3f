#include "pixkey/utility/CTrueTime.h"

#include <QByteArray>
#include <QDateTime>
#include <QTimeZone>

#include <algorithm>
#include <cstring>
#include <mutex>

namespace pixkey {

struct CTrueTime::Zone {
    mutable std::mutex lock;
    QTimeZone zone = QTimeZone::systemTimeZone(); // guarded by lock
};

CTrueTime::CTrueTime() : m_zone(new Zone) {}

CTrueTime::~CTrueTime()
{
    delete m_zone;
}

bool CTrueTime::SetTimezone(const char *zone)
{
    QTimeZone chosen = QTimeZone::systemTimeZone();
    bool known = true;
    if (zone && *zone) {
        const QByteArray id(zone);
        QTimeZone named = QTimeZone::isTimeZoneIdAvailable(id) ? QTimeZone(id) : QTimeZone();
        if (!named.isValid())
            named = QTimeZone(id); // UTC offsets such as "UTC+05:30" are valid without being listed
        if (named.isValid())
            chosen = named;
        else
            known = false;
    }
    std::lock_guard<std::mutex> guard(m_zone->lock);
    m_zone->zone = chosen;
    return known;
}

void CTrueTime::GetLocalTime(SYSTEMTIME *time) const
{
    GetLocalTimeAt(QDateTime::currentMSecsSinceEpoch(), time);
}

void CTrueTime::GetLocalTimeAt(std::int64_t msecsSinceEpoch, SYSTEMTIME *time) const
{
    if (!time)
        return;
    QTimeZone zone;
    {
        std::lock_guard<std::mutex> guard(m_zone->lock);
        zone = m_zone->zone;
    }
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(msecsSinceEpoch, zone);
    const QDate date = local.date();
    const QTime clock = local.time();
    time->wYear = std::uint16_t(date.year());
    time->wMonth = std::uint16_t(date.month());
    time->wDayOfWeek = std::uint16_t(date.dayOfWeek() % 7); // Qt: Monday 1 .. Sunday 7
    time->wDay = std::uint16_t(date.day());
    time->wHour = std::uint16_t(clock.hour());
    time->wMinute = std::uint16_t(clock.minute());
    time->wSecond = std::uint16_t(clock.second());
    time->wMilliseconds = std::uint16_t(clock.msec());
}

void CTrueTime::GetTimezone(char *buffer, int size) const
{
    if (!buffer || size <= 0)
        return;
    QByteArray id;
    {
        std::lock_guard<std::mutex> guard(m_zone->lock);
        id = m_zone->zone.id();
    }
    const std::size_t count = std::min<std::size_t>(std::size_t(id.size()), std::size_t(size - 1));
    std::memcpy(buffer, id.constData(), count);
    buffer[count] = '\0';
}

} // namespace pixkey
