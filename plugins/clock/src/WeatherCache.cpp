#include "WeatherCache.hpp"

#include "ClockText.hpp"

#include <pixkey/utility/CWebFile.h>
#include <pixkey/utility/Regex.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace pixkey::clock {

namespace {

constexpr const char *kTemperaturePattern =
    R"re(TEMPERATURE (max|min)="(-?\d+)" (min|max)="(-?\d+)")re";

// Below and above these no air temperature was ever measured: such values are noise.
constexpr double kColdest = -100;
constexpr double kHottest = 70;

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

// A host name or address with an optional port: letters, digits, '-', '.', ':' and the brackets
// of an IPv6 address. Anything else (a slash, a space, a scheme) would change the request's path.
bool isHostText(const std::string &text)
{
    if (text.empty() || text.size() > 255)
        return false;
    return std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == ':' ||
               c == '[' || c == ']';
    });
}

} // namespace

WeatherCache::Options WeatherCache::defaultOptions()
{
    Options options;
    if (const char *host = std::getenv("PIXKEY_CLOCK_WEATHER_HOST"))
        options.host = host;
    // The forecast service's address, for trying the key against a stand-in; only web addresses.
    if (const char *base = std::getenv("PIXKEY_CLOCK_FORECAST_URL")) {
        const std::string_view text(base);
        if (text.rfind("http://", 0) == 0 || text.rfind("https://", 0) == 0)
            options.forecastBase = base;
    }
    return options;
}

WeatherCache::WeatherCache(Options options)
    : m_options(std::move(options)), m_hostFromEnvironment(!m_options.host.empty())
{
}

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

bool WeatherCache::isForecastSource(const std::string &source)
{
    std::string_view name(kForecastSource);
    return source.empty() ||
           (source.size() == name.size() &&
            std::equal(source.begin(), source.end(), name.begin(), [](char a, char b) {
                return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
            }));
}

bool WeatherCache::setSource(const std::string &source)
{
    const bool forecast = isForecastSource(source);
    if (!forecast && !isHostText(source))
        return false;
    std::lock_guard lock(m_lock);
    const std::string stored = forecast ? std::string() : source;
    if (stored == m_source)
        return true;
    m_source = stored;
    m_quietUntilMs = 0;
    if (!m_hostFromEnvironment)
        m_generation.fetch_add(1);
    return true;
}

std::string WeatherCache::source() const
{
    std::lock_guard lock(m_lock);
    return m_source.empty() ? std::string(kForecastSource) : m_source;
}

std::string WeatherCache::informerHostLocked() const
{
    return m_hostFromEnvironment ? m_options.host : m_source;
}

int WeatherCache::temperatureFor(City &city)
{
    const int64_t fetchedAt = city.fetchedAtMs.load(std::memory_order_acquire);
    if (fetchedAt != 0 && city.fetchedFrom.load(std::memory_order_relaxed) == m_generation.load()) {
        const int64_t age = now() - fetchedAt;
        // A clock set back leaves a fetch "in the future": treat it as old rather than fresh.
        if (age >= 0 && age < m_options.maxAge.count())
            return city.temperature.load(std::memory_order_relaxed);
    }

    std::lock_guard lock(m_lock);
    if (m_stop)
        return kUnknownTemperature;
    if (informerHostLocked().empty()) {
        // The forecast needs the city's place, and is left alone while it asked for quiet.
        if (!city.hasCoordinates || now() < m_quietUntilMs)
            return kUnknownTemperature;
    }
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
    std::lock_guard lock(m_lock);
    return "http://" + informerHostLocked() + path;
}

std::string WeatherCache::forecastUrl(const City &city) const
{
    char query[160];
    std::snprintf(query, sizeof query,
                  "/v1/forecast?latitude=%.4f&longitude=%.4f&daily=temperature_2m_max,temperature_2m_min"
                  "&forecast_days=1&timezone=auto",
                  city.latitude, city.longitude);
    return m_options.forecastBase + query;
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

int WeatherCache::temperatureFromForecast(const char *data, std::size_t size)
{
    if (data == nullptr || size > static_cast<std::size_t>(INT_MAX))
        return kUnknownTemperature;
    QJsonParseError error{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(data, static_cast<int>(size)), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return kUnknownTemperature;
    const QJsonObject daily = document.object().value(QStringLiteral("daily")).toObject();
    const QJsonValue high = daily.value(QStringLiteral("temperature_2m_max")).toArray().at(0);
    const QJsonValue low = daily.value(QStringLiteral("temperature_2m_min")).toArray().at(0);
    if (!high.isDouble() || !low.isDouble())
        return kUnknownTemperature;
    const double a = high.toDouble();
    const double b = low.toDouble();
    if (!std::isfinite(a) || !std::isfinite(b) || a < kColdest || a > kHottest || b < kColdest ||
        b > kHottest)
        return kUnknownTemperature;
    // Whole degrees, as the informer gives them, then their mean the same way.
    char first[16];
    char second[16];
    std::snprintf(first, sizeof first, "%d", static_cast<int>(std::lround(a)));
    std::snprintf(second, sizeof second, "%d", static_cast<int>(std::lround(b)));
    return averageTemperature(first, second);
}

void WeatherCache::run()
{
    for (;;) {
        City *city = nullptr;
        std::string informerHost;
        uint64_t generation = 0;
        {
            std::unique_lock lock(m_lock);
            m_wake.wait(lock, [&] { return m_stop || m_slot != nullptr; });
            if (m_stop)
                return;
            city = m_slot;
            m_slot = nullptr;
            m_current = city;
            informerHost = informerHostLocked();
            generation = m_generation.load();
        }
        try {
            fetch(*city, informerHost, generation);
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

void WeatherCache::fetch(City &city, const std::string &informerHost, uint64_t generation)
{
    pixkey::CWebFile file;
    file.setTimeouts(m_options.connectTimeout, m_options.totalTimeout);
    file.setMaxSize(m_options.maxSize);
    int temperature = kUnknownTemperature;
    if (!informerHost.empty()) {
        char path[32];
        std::snprintf(path, sizeof path, "/xml/%05d_1.xml", city.id);
        const std::string url = "http://" + informerHost + path;
        if (!file.Retrieve(url.c_str(), nullptr, nullptr) || file.data == nullptr)
            return;
        temperature = temperatureFromDocument(file.data, file.size);
    } else {
        const std::string url = forecastUrl(city);
        const bool received = file.Retrieve(url.c_str(), nullptr, nullptr) && file.data != nullptr;
        if (received)
            temperature = temperatureFromForecast(file.data, file.size);
        if (!received || temperature == kUnknownTemperature) {
            // Quiet for as long as the service asked, else for the back-off: a broken answer is
            // as much a failure as an error status.
            int64_t quietMs = m_options.failureBackoff.count();
            if (file.retryAfter > 0)
                quietMs = std::min<int64_t>(int64_t(file.retryAfter) * 1000, m_options.longestRetryAfter.count());
            std::lock_guard lock(m_lock);
            m_quietUntilMs = std::max(m_quietUntilMs, now() + quietMs);
            return;
        }
    }
    // The value first, then the time that makes it current, so a reader that sees the new time
    // also sees the new value.
    city.temperature.store(temperature, std::memory_order_relaxed);
    city.fetchedFrom.store(generation, std::memory_order_relaxed);
    city.fetchedAtMs.store(now(), std::memory_order_release);
}

} // namespace pixkey::clock
