// WeatherCache: the temperature of each city, fetched in the background from the weather service
// and kept for 15 minutes.
//
// One object serves every clock instance of the process (see ClockLibrary); tests make their own.
// Paint threads ask `temperatureFor`, which answers from the city record at once and, when the
// value is missing or old, leaves the city in the single request slot for the worker thread. The
// worker fetches one city at a time, so at most one download is in flight per cache, and a paint
// never waits for the network. A request that finds the slot taken is dropped; the next paint asks
// again. A city whose download is under way is not queued a second time.
//
// The weather host comes from the environment variable PIXKEY_CLOCK_WEATHER_HOST ("host" or
// "host:port"); without it no request is made and the face shows no temperature. The request is
// "http://HOST/xml/NNNNN_1.xml" with the city's code in five digits, and the answer's
//   <TEMPERATURE max="10" min="-3"/>
// element (attributes in either order) gives the mean of the two values.
//
// Locks: m_lock guards m_slot, m_current, m_stop, m_worker start and m_finished. The cache fields of a City
// are atomics written only by the worker.
#pragma once

#include "CityTable.hpp"

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
    struct Options {
        std::string host;                                   // empty: never fetch
        std::chrono::milliseconds maxAge{900'000};          // how long a fetched value holds
        // A weather answer is small: these bound how long a hung server can hold the worker,
        // and so how long unloading the library (which waits for the worker) can take.
        std::chrono::milliseconds connectTimeout{5'000};
        std::chrono::milliseconds totalTimeout{10'000};
        std::size_t maxSize = 1024 * 1024;                  // a weather answer is a few kB
        std::function<int64_t()> nowMs;                     // UTC ms since 1970; null: system clock
    };

    // Options from the environment (the host) and the defaults above.
    static Options defaultOptions();

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

    // The request URL for a city code.
    std::string requestUrl(int cityId) const;

    // The temperature an answer document gives, kUnknownTemperature when it has none.
    static int temperatureFromDocument(const char *data, std::size_t size);

private:
    int64_t now() const;
    void run();
    void fetch(City &city);

    const Options m_options;

    std::mutex m_lock;
    std::condition_variable m_wake;     // the slot was filled or a stop was asked
    std::condition_variable m_progress; // a fetch finished
    City *m_slot = nullptr;             // guarded by m_lock
    City *m_current = nullptr;          // guarded by m_lock: the city being fetched
    bool m_stop = false;                // guarded by m_lock
    uint64_t m_finished = 0;            // guarded by m_lock
    std::thread m_worker;               // started under m_lock on the first request
};

} // namespace pixkey::clock
