#include "CityTable.hpp"
#include "WeatherCache.hpp"

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using namespace pixkey::clock;
using namespace std::chrono_literals;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;

namespace {

// Every wait in these tests is bounded by this; a healthy run needs a fraction of it.
constexpr auto kBound = 20s;

const char *kGoodAnswer = "<?xml version=\"1.0\"?>\n<MMWEATHER><REPORT><TOWN index=\"27612\">\n"
                          "<FORECAST day=\"8\">\n<PHENOMENA cloudiness=\"3\"/>\n"
                          "<TEMPERATURE max=\"10\" min=\"-3\"/>\n</FORECAST></TOWN></REPORT></MMWEATHER>\n";

// A clock the test moves by hand.
struct FakeClock {
    std::atomic<int64_t> ms{1'765'000'000'000};
    std::function<int64_t()> function()
    {
        return [this] { return ms.load(); };
    }
};

WeatherCache::Options optionsFor(const LocalHttpServer &server, FakeClock &clock)
{
    WeatherCache::Options options;
    options.host = server.host();
    options.connectTimeout = 5s;
    options.totalTimeout = 2s;
    options.nowMs = clock.function();
    return options;
}

// 64 KiB that begin like a good answer, repeated to make an oversized one.
std::string floodBlock()
{
    std::string block(64 * 1024, 'x');
    block.replace(0, 30, "<TEMPERATURE max=\"1\" min=\"1\"/>");
    return block;
}

long peakResidentKiB()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stol(line.substr(6));
    }
    return -1;
}

} // namespace

TEST(WeatherCache, GoodAnswerIsCachedForFifteenMinutes)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::text(200, kGoodAnswer, "text/xml"));
    FakeClock clock;
    CityTable table = CityTable::parse("27612\tMoscow\tEurope/Moscow\n");
    City &city = *table.find(27612);
    WeatherCache cache(optionsFor(server, clock));

    EXPECT_EQ(cache.temperatureFor(city), kUnknownTemperature); // first ask only queues
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(cache.temperatureFor(city), 3);
    EXPECT_EQ(city.fetchedAtMs.load(), clock.ms.load());
    ASSERT_EQ(server.requestTargets().size(), 1u);
    EXPECT_EQ(server.requestTargets()[0], "/xml/27612_1.xml");

    // Within 900 s the cached value answers without a request.
    server.fallback(HttpAnswer::text(200, "<TEMPERATURE min=\"-20\" max=\"-10\"/>", "text/xml"));
    clock.ms += 899'999;
    EXPECT_EQ(cache.temperatureFor(city), 3);
    EXPECT_FALSE(cache.waitForFetches(2, 50ms));
    EXPECT_EQ(server.requestTargets().size(), 1u);

    // At 900 s it is old: unknown until the new answer arrives (min first this time).
    clock.ms += 1;
    EXPECT_EQ(cache.temperatureFor(city), kUnknownTemperature);
    ASSERT_TRUE(cache.waitForFetches(2, kBound));
    EXPECT_EQ(cache.temperatureFor(city), -15);
}

TEST(WeatherCache, RequestUrlCarriesFiveDigits)
{
    FakeClock clock;
    WeatherCache::Options options;
    options.host = "weather.example:8080";
    WeatherCache cache(options);
    EXPECT_EQ(cache.requestUrl(3772), "http://weather.example:8080/xml/03772_1.xml");
    EXPECT_EQ(cache.requestUrl(27612), "http://weather.example:8080/xml/27612_1.xml");
}

TEST(WeatherCache, ServerErrorLeavesTheCityStaleAndRetries)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::text(500, "<TEMPERATURE max=\"30\" min=\"30\"/>", "text/xml"));
    FakeClock clock;
    CityTable table = CityTable::parse("27612\tMoscow\tEurope/Moscow\n");
    City &city = *table.find(27612);
    WeatherCache cache(optionsFor(server, clock));

    cache.temperatureFor(city);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(city.fetchedAtMs.load(), 0);
    EXPECT_EQ(cache.temperatureFor(city), kUnknownTemperature); // asks again at once
    ASSERT_TRUE(cache.waitForFetches(2, kBound));
    EXPECT_EQ(server.requestTargets().size(), 2u);

    server.fallback(HttpAnswer::text(200, kGoodAnswer, "text/xml"));
    cache.temperatureFor(city);
    ASSERT_TRUE(cache.waitForFetches(3, kBound));
    EXPECT_EQ(cache.temperatureFor(city), 3);
}

TEST(WeatherCache, AnswerWithoutTemperatureIsKeptAsUnknownForFifteenMinutes)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::text(200, "<TEMPERATURE max=\"warm\" min=\"cold\"/><TEMPERATURE max=\"1\"/>", "text/xml"));
    FakeClock clock;
    CityTable table = CityTable::parse("1\tOne\tUTC\n");
    City &city = *table.find(1);
    WeatherCache cache(optionsFor(server, clock));

    cache.temperatureFor(city);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_NE(city.fetchedAtMs.load(), 0);
    EXPECT_EQ(cache.temperatureFor(city), kUnknownTemperature);
    EXPECT_FALSE(cache.waitForFetches(2, 50ms)); // no new request before 900 s
    EXPECT_EQ(server.requestTargets().size(), 1u);
}

TEST(WeatherCache, SilentServerTimesOutWithoutBlockingTheAsker)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::hanging());
    FakeClock clock;
    CityTable table = CityTable::parse("1\tOne\tUTC\n2\tTwo\tUTC\n");
    WeatherCache::Options options = optionsFor(server, clock);
    options.totalTimeout = 300ms;
    WeatherCache cache(options);

    cache.temperatureFor(*table.find(1));
    // While the first download hangs, asking never waits: whether the second city finds the slot
    // free (and is queued) or still taken (and is dropped), the answer comes at once.
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(cache.temperatureFor(*table.find(2)), kUnknownTemperature);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(table.find(1)->fetchedAtMs.load(), 0);
}

TEST(WeatherCache, DestroyingTheCacheDuringADownloadWaitsForTheWorker)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::hanging());
    FakeClock clock;
    CityTable table = CityTable::parse("1\tOne\tUTC\n");
    WeatherCache::Options options = optionsFor(server, clock);
    options.totalTimeout = 300ms;
    auto cache = std::make_unique<WeatherCache>(options);
    cache->temperatureFor(*table.find(1));
    // Wait until the request reached the server, so the download is in flight.
    const auto deadline = std::chrono::steady_clock::now() + kBound;
    while (server.requestTargets().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(server.requestTargets().size(), 1u);
    cache.reset(); // joins the worker once its download gives up
    EXPECT_EQ(table.find(1)->fetchedAtMs.load(), 0);
}

TEST(WeatherCache, HugeAnswerIsRefusedWithBoundedMemory)
{
    // 50 MB, once announced in the header and once streamed until the connection closes.
    for (bool announced : {true, false}) {
        LocalHttpServer server;
        server.fallback(HttpAnswer::oversized(50u * 1024 * 1024, announced, "text/xml", floodBlock()));
        FakeClock clock;
        CityTable table = CityTable::parse("1\tOne\tUTC\n");
        City &city = *table.find(1);
        WeatherCache::Options options = optionsFor(server, clock);
        options.totalTimeout = 15s;
        WeatherCache cache(options);

        const long before = peakResidentKiB();
        cache.temperatureFor(city);
        ASSERT_TRUE(cache.waitForFetches(1, kBound)) << "announced " << announced;
        const long after = peakResidentKiB();
        EXPECT_EQ(city.fetchedAtMs.load(), 0) << "announced " << announced;
        EXPECT_EQ(cache.temperatureFor(city), kUnknownTemperature);
        if (before > 0 && after > 0) {
            EXPECT_LT(after - before, 24 * 1024) << "peak memory grew by " << (after - before) << " KiB";
        }
    }
}

TEST(WeatherCache, OneDownloadAtATimeForManyCitiesAndThreads)
{
    LocalHttpServer server;
    server.fallback(HttpAnswer::text(200, kGoodAnswer, "text/xml"));
    FakeClock clock;
    std::string text;
    for (int id = 1; id <= 8; ++id)
        text += std::to_string(id) + "\tCity\tUTC\n";
    CityTable table = CityTable::parse(text);
    WeatherCache cache(optionsFor(server, clock));

    // Paint threads of several keys ask over and over until every city has its value.
    std::atomic<bool> done{false};
    std::vector<std::thread> painters;
    for (int t = 0; t < 3; ++t) {
        painters.emplace_back([&] {
            const auto deadline = std::chrono::steady_clock::now() + kBound;
            while (!done && std::chrono::steady_clock::now() < deadline) {
                bool all = true;
                for (const City &c : table.cities())
                    all &= cache.temperatureFor(const_cast<City &>(c)) == 3;
                if (all)
                    done = true;
                std::this_thread::sleep_for(1ms);
            }
        });
    }
    for (auto &t : painters)
        t.join();
    EXPECT_TRUE(done);
    // Each city was fetched once: a request that found the slot taken was dropped, not doubled.
    EXPECT_EQ(server.requestTargets().size(), 8u);
}

TEST(WeatherCache, NoHostMeansNoRequests)
{
    CityTable table = CityTable::parse("1\tOne\tUTC\n");
    WeatherCache cache(WeatherCache::Options{});
    EXPECT_EQ(cache.temperatureFor(*table.find(1)), kUnknownTemperature);
    EXPECT_FALSE(cache.waitForFetches(1, 20ms));
}

TEST(WeatherCache, DocumentMatching)
{
    auto parse = [](const std::string &s) { return WeatherCache::temperatureFromDocument(s.data(), s.size()); };
    EXPECT_EQ(parse("<TEMPERATURE max=\"10\" min=\"-3\"/>"), 3);
    EXPECT_EQ(parse("<TEMPERATURE min=\"-3\" max=\"10\"/>"), 3);
    EXPECT_EQ(parse("<TEMPERATURE max=\"-3\" min=\"-4\"/>"), -3);
    EXPECT_EQ(parse("<temperature max=\"10\" min=\"-3\"/>"), kUnknownTemperature); // case matters
    EXPECT_EQ(parse("<TEMPERATURE max='10' min='-3'/>"), kUnknownTemperature);
    EXPECT_EQ(parse(""), kUnknownTemperature);
    EXPECT_EQ(WeatherCache::temperatureFromDocument(nullptr, 0), kUnknownTemperature);
    // A NUL inside the document does not end it.
    const std::string withNul = std::string("head\0", 5) + "<TEMPERATURE max=\"4\" min=\"2\"/>";
    EXPECT_EQ(parse(withNul), 3);
}
