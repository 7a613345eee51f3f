// The forecast weather source: requests, answers, failures and the library-wide setting.
#include "CityTable.hpp"
#include "ClockLibrary.hpp"
#include "ClockPlugin.hpp"
#include "WeatherCache.hpp"

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <vector>

using namespace pixkey::clock;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using namespace std::chrono_literals;

namespace {

constexpr auto kBound = 20s;
constexpr const char *kPath = "/v1/forecast";

const char *kTable = "@Europe\n"
                     "27612\tMoscow\tEurope/Moscow\t55.76\t37.62\n"
                     "03772\tLondon\tEurope/London\t51.51\t-0.13\n"
                     "26063\tSaint Petersburg\tEurope/Moscow\n";

std::string forecast(const std::string &high, const std::string &low)
{
    return R"({"latitude":55.75,"longitude":37.625,"daily_units":{"temperature_2m_max":"°C"},)"
           R"("daily":{"time":["2026-12-08"],"temperature_2m_max":[)" + high +
           R"(],"temperature_2m_min":[)" + low + "]}}";
}

struct Forecast {
    LocalHttpServer server;
    std::atomic<int64_t> nowMs{1'765'000'000'000};
    CityTable table = CityTable::parse(kTable);
    City &moscow = *table.find(27612);
    City &london = *table.find(3772);

    WeatherCache::Options options()
    {
        WeatherCache::Options options;
        options.forecastBase = server.url("");
        options.totalTimeout = 5s;
        options.failureBackoff = 120s;
        options.nowMs = [this] { return nowMs.load(); };
        return options;
    }
    void answer(HttpAnswer answer) { server.answer(kPath, std::move(answer)); }
};

TEST(ForecastWeather, SendsOnlyTheCoordinatesAndShowsTheMeanOfTheDay)
{
    Forecast f;
    f.answer(HttpAnswer::text(200, forecast("10.4", "-3.2"), "application/json"));
    WeatherCache cache(f.options());

    EXPECT_EQ(cache.temperatureFor(f.moscow), kUnknownTemperature);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), 3); // (10 + -3) / 2, as the informer's mean
    ASSERT_EQ(f.server.requestCount(), 1);
    EXPECT_EQ(f.server.requestTargets()[0],
              "/v1/forecast?latitude=55.7600&longitude=37.6200&daily=temperature_2m_max,temperature_2m_min"
              "&forecast_days=1&timezone=auto");

    // Kept fifteen minutes, then asked again.
    f.nowMs += 899'000;
    EXPECT_EQ(cache.temperatureFor(f.moscow), 3);
    EXPECT_EQ(f.server.requestCount(), 1);
    f.nowMs += 2'000;
    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(cache.waitForFetches(2, kBound));
    EXPECT_EQ(f.server.requestCount(), 2);
}

TEST(ForecastWeather, CityWithoutCoordinatesAsksNothing)
{
    Forecast f;
    f.answer(HttpAnswer::text(200, forecast("1", "1"), "application/json"));
    WeatherCache cache(f.options());
    City &noPlace = *f.table.find(26063);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(cache.temperatureFor(noPlace), kUnknownTemperature);
    EXPECT_FALSE(cache.waitForFetches(1, 200ms));
    EXPECT_EQ(f.server.requestCount(), 0);
}

TEST(ForecastWeather, TooManyRequestsIsHonouredForTheTimeAskedAndNoLonger)
{
    Forecast f;
    f.answer(HttpAnswer::text(429, "slow down").header("Retry-After", "300"));
    WeatherCache cache(f.options());

    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    // Every key asks on every paint; the service hears nothing for five minutes, for any city.
    f.answer(HttpAnswer::text(200, forecast("20", "10"), "application/json"));
    for (int second = 0; second < 299; second += 7) {
        f.nowMs += 7'000;
        EXPECT_EQ(cache.temperatureFor(f.moscow), kUnknownTemperature);
        EXPECT_EQ(cache.temperatureFor(f.london), kUnknownTemperature);
    }
    EXPECT_EQ(f.server.requestCount(), 1);

    f.nowMs += 10'000;
    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(cache.waitForFetches(2, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), 15);
    EXPECT_EQ(f.server.requestCount(), 2);
}

TEST(ForecastWeather, FailuresBackOffInsteadOfAskingEveryPaint)
{
    struct Case {
        const char *name;
        HttpAnswer answer;
    };
    const Case cases[] = {
        {"server error", HttpAnswer::text(500, "oops")},
        {"truncated JSON", HttpAnswer::text(200, forecast("10", "2").substr(0, 60), "application/json")},
        {"cold beyond reason", HttpAnswer::text(200, forecast("-300", "-280"), "application/json")},
        {"hot beyond reason", HttpAnswer::text(200, forecast("1e9", "5"), "application/json")},
        {"not a number", HttpAnswer::text(200, forecast("NaN", "5"), "application/json")},
        {"nulls", HttpAnswer::text(200, forecast("null", "null"), "application/json")},
        {"no arrays", HttpAnswer::text(200, R"({"daily":{}})", "application/json")},
        {"an HTML page", HttpAnswer::text(200, "<html>busy</html>", "text/html")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Forecast f;
        f.answer(c.answer);
        WeatherCache cache(f.options());
        cache.temperatureFor(f.moscow);
        ASSERT_TRUE(cache.waitForFetches(1, kBound));
        for (int i = 0; i < 10; ++i) {
            f.nowMs += 10'000;
            EXPECT_EQ(cache.temperatureFor(f.moscow), kUnknownTemperature);
        }
        EXPECT_EQ(f.server.requestCount(), 1);
        f.nowMs += 30'000; // past the two-minute back-off
        cache.temperatureFor(f.moscow);
        ASSERT_TRUE(cache.waitForFetches(2, kBound));
        EXPECT_EQ(f.server.requestCount(), 2);
    }
}

TEST(ForecastWeather, OneRequestInFlightForTheWholeProcess)
{
    Forecast f;
    HttpAnswer held = HttpAnswer::text(200, forecast("4", "2"), "application/json");
    held.held = true;
    f.answer(held);
    WeatherCache cache(f.options());
    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(f.server.waitForHeld(kPath, kBound));
    for (int i = 0; i < 20; ++i) {
        cache.temperatureFor(f.moscow);
        cache.temperatureFor(f.london);
    }
    EXPECT_EQ(f.server.requestCount(), 1);
    f.server.release();
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), 3);
}

TEST(ForecastWeather, TheSourceSettingChoosesBetweenForecastAndInformer)
{
    Forecast f;
    f.answer(HttpAnswer::text(200, forecast("8", "6"), "application/json"));
    f.server.answer("/xml/27612_1.xml", 200, "<TEMPERATURE max=\"-10\" min=\"-20\"/>", "text/xml");
    WeatherCache cache(f.options());
    EXPECT_EQ(cache.source(), "Open-Meteo");

    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), 7);

    // An informer host forgets what the forecast said and asks the informer by the city's code.
    ASSERT_TRUE(cache.setSource(f.server.host()));
    EXPECT_EQ(cache.source(), f.server.host());
    EXPECT_EQ(cache.temperatureFor(f.moscow), kUnknownTemperature);
    ASSERT_TRUE(cache.waitForFetches(2, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), -15);
    EXPECT_EQ(f.server.requestCount("/xml/27612_1.xml"), 1);

    // Texts that are not a host would change the request's path: refused, nothing changes.
    for (const char *bad : {"http://evil/x", "host/path", "a b", "host?x=1"})
        EXPECT_FALSE(cache.setSource(bad)) << bad;
    EXPECT_EQ(cache.source(), f.server.host());
    EXPECT_TRUE(cache.setSource("open-meteo"));
    EXPECT_EQ(cache.source(), "Open-Meteo");
    EXPECT_TRUE(cache.setSource(""));
    EXPECT_EQ(cache.source(), "Open-Meteo");
}

TEST(ForecastWeather, InformerHostFromTheEnvironmentStaysInForce)
{
    Forecast f;
    f.server.answer("/xml/27612_1.xml", 200, "<TEMPERATURE max=\"12\" min=\"10\"/>", "text/xml");
    WeatherCache::Options options = f.options();
    options.host = f.server.host();
    WeatherCache cache(options);
    EXPECT_TRUE(cache.setSource("Open-Meteo")); // stored, but the environment's host still answers
    cache.temperatureFor(f.moscow);
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    EXPECT_EQ(cache.temperatureFor(f.moscow), 11);
    EXPECT_EQ(f.server.requestCount(kPath), 0);
}

TEST(ForecastWeather, DescribingObjectCarriesTheSourceAsALibraryProperty)
{
    WeatherCache cache(WeatherCache::Options{});
    ClockPlugin::Environment environment;
    environment.weather = &cache;
    environment.describing = true;
    ClockPlugin describing(environment);
    EXPECT_EQ(describing.GetInfo(PKX_INFO_HAS_LIBRARY_PROPERTIES), 1);

    char name[PKX_PROPERTY_TEXT_SIZE] = {};
    char value[PKX_PROPERTY_TEXT_SIZE] = {};
    ASSERT_EQ(describing.GetProperty(PKX_PROPERTY_LIBRARY_BASE, name, value), 1);
    EXPECT_STREQ(name, "WeatherSource");
    EXPECT_STREQ(value, "Open-Meteo");
    EXPECT_EQ(describing.GetProperty(PKX_PROPERTY_LIBRARY_BASE + 1, name, value), 0);

    EXPECT_EQ(describing.SetProperty("WeatherSource", "informer.example:8080"), 1);
    EXPECT_EQ(cache.source(), "informer.example:8080");
    EXPECT_EQ(describing.SetProperty("WeatherSource", "file:///etc/passwd"), 0);
    EXPECT_EQ(cache.source(), "informer.example:8080");
    EXPECT_EQ(describing.SetProperty("CityId", "27612"), 0); // not a library-wide property

    // Key objects have no library-wide properties.
    environment.describing = false;
    ClockPlugin key(environment);
    EXPECT_EQ(key.GetInfo(PKX_INFO_HAS_LIBRARY_PROPERTIES), 0);
    EXPECT_EQ(key.GetProperty(PKX_PROPERTY_LIBRARY_BASE, name, value), 0);
}

TEST(ForecastWeather, LocalTimeFacesAskForNoWeather)
{
    Forecast f;
    f.answer(HttpAnswer::text(200, forecast("8", "6"), "application/json"));
    WeatherCache cache(f.options());
    ClockPlugin::Environment environment;
    ClockArt art;
    art.analogFace = QImage(384, 384, QImage::Format_RGB32);
    art.digitalBack = QImage(96, 96, QImage::Format_RGB32);
    environment.art = &art;
    environment.cities = &f.table;
    environment.weather = &cache;
    environment.nowMs = [&f] { return f.nowMs.load(); };
    for (const char *view : {"0", "1"}) {
        ClockPlugin plugin(environment);
        plugin.SetProperty("CityId", "27612");
        plugin.SetProperty("UseLocalTime", "1");
        plugin.SetProperty("ClockView", view);
        plugin.OnEvent(PKX_EVENT_ACTIVATE);
        unsigned char bytes[96 * 288] = {};
        PkxSurface surface{bytes, 96, 96, 288};
        for (int i = 0; i < 3; ++i) {
            f.nowMs += 1000;
            plugin.Paint(surface);
        }
        plugin.OnEvent(PKX_EVENT_DEACTIVATE);
    }
    EXPECT_FALSE(cache.waitForFetches(1, 200ms));
    EXPECT_EQ(f.server.requestCount(), 0);
}

TEST(ForecastWeather, TheKeyShowsTheTemperatureOnThePaintAfterTheAnswer)
{
    Forecast f;
    f.answer(HttpAnswer::text(200, forecast("21", "13"), "application/json"));
    WeatherCache cache(f.options());
    const ClockArt art = ClockLibrary::loadArt();
    ClockPlugin::Environment environment;
    environment.art = &art;
    environment.cities = &f.table;
    environment.weather = &cache;
    environment.nowMs = [&f] { return f.nowMs.load(); };
    ClockPlugin plugin(environment);
    plugin.SetProperty("CityId", "27612");
    plugin.SetProperty("ClockView", "1");
    plugin.OnEvent(PKX_EVENT_ACTIVATE);

    auto paint = [&] {
        std::vector<unsigned char> bytes(96 * 288);
        PkxSurface surface{bytes.data(), 96, 96, 288};
        f.nowMs += 1000;
        EXPECT_EQ(plugin.Paint(surface), 1);
        return bytes;
    };
    auto corner = [](const std::vector<unsigned char> &bytes) {
        std::vector<unsigned char> part;
        for (int y = 78; y < 96; ++y)
            part.insert(part.end(), bytes.begin() + y * 288 + 60 * 3, bytes.begin() + y * 288 + 96 * 3);
        return part;
    };
    const auto before = paint(); // asks, shows no temperature
    ASSERT_TRUE(cache.waitForFetches(1, kBound));
    const auto after = paint();  // the next paint has it
    EXPECT_NE(corner(before), corner(after));
    const auto later = paint();
    EXPECT_EQ(corner(after), corner(later));
    EXPECT_EQ(f.server.requestCount(), 1);
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

} // namespace
