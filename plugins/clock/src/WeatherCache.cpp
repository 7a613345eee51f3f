#include "WeatherCache.hpp"

#include "ClockText.hpp"

#include <pixkey/utility/CWebFile.h>
#include <pixkey/utility/Regex.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace pixkey::clock {

namespace {

constexpr const char *kTemperaturePattern =
    R"re(TEMPERATURE (max|min)="(-?\d+)" (min|max)="(-?\d+)")re";

// The compiled pattern, made once and only read afterwards (matching is thread-safe).
const pixkey::pcre *temperaturePattern()
{
    static pixkey::pcre *const pattern = [] {
        const char *error = nullptr;
        int offset = 0;
        return pixkey::pcre_compile(kTemperaturePattern, pixkey::PCRE_DOTALL | pixkey::PCRE_EXTRA,
                                    &error, &offset, nullptr);
    }();
    return pattern;
}

} // namespace

WeatherCache::Options WeatherCache::defaultOptions()
{
    Options options;
    if (const char *host = std::getenv("PIXKEY_CLOCK_WEATHER_HOST"))
        options.host = host;
    return options;
}

WeatherCache::WeatherCache(Options options) : m_options(std::move(options)) {}

WeatherCache::~WeatherCache()
{
    {
        std::lock_guard lock(m_lock);
        m_stop = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable())
        m_worker.join();
}

int64_t WeatherCache::now() const
{
    if (m_options.nowMs)
        return m_options.nowMs();
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

int WeatherCache::temperatureFor(City &city)
{
    const int64_t fetchedAt = city.fetchedAtMs.load(std::memory_order_acquire);
    if (fetchedAt != 0) {
        const int64_t age = now() - fetchedAt;
        // A clock set back leaves a fetch "in the future": treat it as old rather than fresh.
        if (age >= 0 && age < m_options.maxAge.count())
            return city.temperature.load(std::memory_order_relaxed);
    }
    if (m_options.host.empty())
        return kUnknownTemperature;

    std::lock_guard lock(m_lock);
    if (m_stop)
        return kUnknownTemperature;
    if (!m_worker.joinable())
        m_worker = std::thread([this] { run(); });
    if (m_slot == nullptr && m_current != &city) {
        m_slot = &city;
        m_wake.notify_one();
    }
    return kUnknownTemperature;
}

bool WeatherCache::waitForFetches(uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock lock(m_lock);
    return m_progress.wait_for(lock, timeout, [&] { return m_finished >= count; });
}

std::string WeatherCache::requestUrl(int cityId) const
{
    char path[32];
    std::snprintf(path, sizeof path, "/xml/%05d_1.xml", cityId);
    return "http://" + m_options.host + path;
}

int WeatherCache::temperatureFromDocument(const char *data, std::size_t size)
{
    const pixkey::pcre *pattern = temperaturePattern();
    if (pattern == nullptr || data == nullptr || size > static_cast<std::size_t>(INT_MAX))
        return kUnknownTemperature;
    int offsets[30];
    std::fill(std::begin(offsets), std::end(offsets), -1);
    const int pairs = pixkey::pcre_exec(pattern, nullptr, data, static_cast<int>(size), 0, 0,
                                        offsets, 30);
    if (pairs < 5)
        return kUnknownTemperature;
    auto group = [&](int i) {
        return std::string_view(data + offsets[2 * i], offsets[2 * i + 1] - offsets[2 * i]);
    };
    return averageTemperature(group(2), group(4));
}

void WeatherCache::run()
{
    for (;;) {
        City *city = nullptr;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stop || m_slot != nullptr; });
            if (m_stop)
                return;
            city = m_slot;
            m_slot = nullptr;
            m_current = city;
        }
        try {
            fetch(*city);
        } catch (...) {
            // A failed fetch leaves the city stale; the next paint asks again.
        }
        {
            std::lock_guard lock(m_lock);
            m_current = nullptr;
            ++m_finished;
        }
        m_progress.notify_all();
    }
}

void WeatherCache::fetch(City &city)
{
    pixkey::CWebFile file;
    file.setTimeouts(m_options.connectTimeout, m_options.totalTimeout);
    file.setMaxSize(m_options.maxSize);
    const std::string url = requestUrl(city.id);
    if (!file.Retrieve(url.c_str(), nullptr, nullptr) || file.data == nullptr)
        return;
    // The value first, then the time that makes it current, so a reader that sees the new time
    // also sees the new value.
    city.temperature.store(temperatureFromDocument(file.data, file.size), std::memory_order_relaxed);
    city.fetchedAtMs.store(now(), std::memory_order_release);
}

} // namespace pixkey::clock
