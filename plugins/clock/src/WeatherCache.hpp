// WeatherCache: the temperature of each city, fetched in the background from a weather source and
// kept for 15 minutes.
//
// One object serves every clock instance of the process (see ClockLibrary); tests make their own.
// Paint threads ask `temperatureFor`, which answers from the city record at once and, when the
// value is missing or old, leaves the city in the single request slot for the worker thread. The
// worker fetches one city at a time, so at most one download is in flight per cache, and a paint
// never waits for the network. A request that finds the slot taken is dropped; the next paint asks
// again. A city whose download is under way is not queued a second time.
//
// Two sources, chosen by `setSource`:
// - the forecast service (kForecastSource, the default): "BASE/v1/forecast?latitude=..&longitude=.."
//   with the city's coordinates and nothing else; the answer's JSON
//   daily.temperature_2m_max[0] and daily.temperature_2m_min[0] give the mean. A city without
//   coordinates gets no temperature. After a failed request the source is left alone for the
//   time its Retry-After asked (a 429), or for `failureBackoff`, so a failing service is not asked
//   once a second.
// - an informer host ("host" or "host:port", also from the environment variable
//   PIXKEY_CLOCK_WEATHER_HOST, which then wins over the setting): "http://HOST/xml/NNNNN_1.xml" with
//   the city's code in five digits, and the answer's <TEMPERATURE max="10" min="-3"/> element
//   (attributes in either order) gives the mean of the two values.
// Values outside -100..+70 degrees are not temperatures and are ignored.
//
// Locks: m_lock guards m_slot, m_current, m_stop, m_worker start, m_finished, m_source and
// m_quietUntilMs. The cache fields of a City are atomics written only by the worker.
#pragma once

#include "CityTable.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace pixkey::clock {

class WeatherCache {
public:
    // The setting's value that names the forecast service.
    static constexpr const char *kForecastSource = "Open-Meteo";
    static constexpr const char *kForecastBase = "https://api.open-meteo.com";

    struct Options {
        std::string host;                                   // informer host; empty: the forecast source
        std::string forecastBase = kForecastBase;           // tests point it at a local server
        std::chrono::milliseconds failureBackoff{120'000};  // forecast source: quiet after a failure
        std::chrono::milliseconds longestRetryAfter{3'600'000};
        std::chrono::milliseconds maxAge{900'000};          // how long a fetched value holds
        // A weather answer is small: these bound how long a hung server can hold the worker,
        // and so how long unloading the library (which waits for the worker) can take.
        std::chrono::milliseconds connectTimeout{5'000};
        std::chrono::milliseconds totalTimeout{10'000};
        std::size_t maxSize = 1024 * 1024;                  // a weather answer is a few kB
        std::function<int64_t()> nowMs;                     // UTC ms since 1970; null: system clock
    };

    // Options from the environment (the informer host) and the defaults above.
    static Options defaultOptions();

    // [any-thread] The stored setting: kForecastSource (also for an empty text) or an informer
    // host. False, and nothing changes, for a text that is not a host name with an optional port.
    // An informer host from the environment stays in force whatever is set here. A change of
    // source forgets the temperatures fetched so far.
    bool setSource(const std::string &source);
    // [any-thread] The stored setting as set (kForecastSource until something else is).
    std::string source() const;
    // True for kForecastSource in any letter case, and for an empty text.
    static bool isForecastSource(const std::string &source);

    explicit WeatherCache(Options options);
    // Stops the worker and waits for it (at most one download's time-out). The worker must not
    // outlive the cache: the library that holds its code may be unloaded right after.
    ~WeatherCache();
    WeatherCache(const WeatherCache &) = delete;
    WeatherCache &operator=(const WeatherCache &) = delete;

    // [any-thread] The city's temperature in Celsius, or kUnknownTemperature while none is known
    // or the last one is older than maxAge; then the city is queued for fetching if the slot is
    // free. Never blocks on the network.
    int temperatureFor(City &city);

    // [any-thread] For tests: waits until `count` fetches (successful or not) have finished since
    // the cache was made, or `timeout` passed. True when they have.
    bool waitForFetches(uint64_t count, std::chrono::milliseconds timeout);

    // The informer's request URL for a city code.
    std::string requestUrl(int cityId) const;
    // The forecast request URL for a city's coordinates.
    std::string forecastUrl(const City &city) const;

    // The temperature an informer document gives, kUnknownTemperature when it has none.
    static int temperatureFromDocument(const char *data, std::size_t size);
    // The temperature a forecast answer gives, kUnknownTemperature when it has none (broken JSON,
    // missing arrays, values that are not temperatures).
    static int temperatureFromForecast(const char *data, std::size_t size);

private:
    int64_t now() const;
    void run();
    void fetch(City &city, const std::string &informerHost, uint64_t generation);
    // The informer host in force: the environment's, else the setting's; empty for the forecast.
    std::string informerHostLocked() const;

    const Options m_options;
    const bool m_hostFromEnvironment;

    mutable std::mutex m_lock;
    std::condition_variable m_wake;     // the slot was filled or a stop was asked
    std::condition_variable m_progress; // a fetch finished
    City *m_slot = nullptr;             // guarded by m_lock
    City *m_current = nullptr;          // guarded by m_lock: the city being fetched
    bool m_stop = false;                // guarded by m_lock
    uint64_t m_finished = 0;            // guarded by m_lock
    std::string m_source;               // guarded by m_lock: the setting, empty for the forecast
    std::atomic<uint64_t> m_generation{0}; // counts source changes (changed under m_lock)
    int64_t m_quietUntilMs = 0;         // guarded by m_lock: no forecast request before this
    std::thread m_worker;               // started under m_lock on the first request
};

} // namespace pixkey::clock
