// The refresh cycle against a local HTTP server, with an injected clock: downloads, slides,
// pictures and their bands, failures and their messages, and answers written to hurt.
#include "FeedState.hpp"
#include "RssTestSupport.hpp"

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <chrono>
#include <zlib.h>

using namespace pixkey::rss;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using rsstest::Face;
using rsstest::TestItem;

namespace {

FeedLimits quickLimits()
{
    FeedLimits limits;
    limits.connectTimeout = std::chrono::milliseconds(2000);
    limits.totalTimeout = std::chrono::milliseconds(3000);
    return limits;
}

RssSettings settingsFor(const std::string &url, int showType = 4, int slideShow = 1, int item = 0)
{
    RssSettings s;
    s.url = url;
    s.showType = showType;
    s.slideShow = slideShow;
    s.item = item;
    return s;
}

// A PNG whose header claims width x height (and whose pixels are missing).
std::string claimedPng(std::uint32_t width, std::uint32_t height)
{
    auto be32 = [](std::uint32_t v) {
        return std::string{char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    };
    std::string ihdr = "IHDR" + be32(width) + be32(height) + std::string("\x08\x02\x00\x00\x00", 5);
    const auto crc = std::uint32_t(crc32(0, reinterpret_cast<const Bytef *>(ihdr.data()), uInt(ihdr.size())));
    return std::string("\x89PNG\r\n\x1a\n", 8) + be32(13) + ihdr + be32(crc);
}

class FeedStateTest : public ::testing::Test {
protected:
    void serveFeed(const std::vector<TestItem> &items, const std::string &path = "/feed.xml")
    {
        server.answer(path, 200, rsstest::rss2(items), "application/rss+xml");
    }
    void servePicture(const std::string &path, int width = 96, int height = 48)
    {
        server.answer(path, 200, rsstest::png(width, height, Qt::red), "image/png");
    }

    LocalHttpServer server;
    Face face;
};

} // namespace

TEST_F(FeedStateTest, ShowsTheFirstPictureThenStepsThroughTheItems)
{
    servePicture("/a.png");
    serveFeed({{"Alpha", "http://site.example/a", server.url("/a.png")},
               {"Beta words", "http://site.example/b", ""},
               {"Gamma", "http://site.example/c", ""}});
    FeedState state(settingsFor(server.url("/feed.xml")), quickLimits());
    state.activate();

    ASSERT_EQ(state.cycle(1000, face.surface), 1);
    EXPECT_EQ(state.current().title, "Alpha");
    EXPECT_EQ(state.settings().rssUrl, server.url("/feed.xml"));
    // A 96 x 48 picture alone: the lower half, the upper half black.
    EXPECT_TRUE(face.isRed(0, 48));
    EXPECT_TRUE(face.isRed(95, 95));
    EXPECT_EQ(face.litIn(0, 48), 0);

    // Period 3600 s: a slide every 30 s, nothing in between.
    EXPECT_EQ(state.slideMs(), 30000u);
    EXPECT_EQ(state.cycle(31000, face.surface), 0);
    ASSERT_EQ(state.cycle(31001, face.surface), 1);
    EXPECT_EQ(state.current().title, "Beta words");
    EXPECT_GT(face.litWhite(0, 30), 0);
    EXPECT_FALSE(face.isRed(48, 90));

    EXPECT_EQ(state.cycle(61002, face.surface), 1);
    EXPECT_EQ(state.cycle(91003, face.surface), 1);
    EXPECT_EQ(state.current().title, "Alpha"); // round again, picture from the cache
    EXPECT_TRUE(face.isRed(48, 60));
    EXPECT_EQ(server.requestCount("/a.png"), 1);
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);

    // The next download comes a full period after the first.
    EXPECT_EQ(state.cycle(1000 + 3600000, face.surface), 1);
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
    EXPECT_EQ(state.cycle(1001 + 3600000, face.surface), 1);
    EXPECT_EQ(server.requestCount("/feed.xml"), 2);
}

TEST_F(FeedStateTest, SlideTimesFollowThePeriod)
{
    FeedState state(settingsFor("http://127.0.0.1:1/"));
    const std::pair<int, std::uint32_t> table[] = {{3600, 30000}, {86400, 30000}, {60, 8571}, {140, 20000},
                                                   {0, 8571},     {-5, 8571}};
    for (const auto &[period, slide] : table) {
        RssSettings s = state.settings();
        s.refreshPeriod = period;
        state.apply(s);
        EXPECT_EQ(state.slideMs(), slide) << period;
    }
}

TEST_F(FeedStateTest, ClockWrapDoesNotStopTheSlides)
{
    serveFeed({{"One", "", ""}, {"Two", "", ""}});
    FeedState state(settingsFor(server.url("/feed.xml"), 0), quickLimits());
    state.activate();
    const std::uint32_t start = 0xFFFFFFFFu - 10000;
    ASSERT_EQ(state.cycle(start, face.surface), 1);
    EXPECT_EQ(state.cycle(start + 30001, face.surface), 1); // past the wrap
    EXPECT_EQ(state.current().title, "Two");
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
}

TEST_F(FeedStateTest, ThirdOfTwoItemsIsTheFirst)
{
    serveFeed({{"First", "", ""}, {"Second", "", ""}});
    FeedState state(settingsFor(server.url("/feed.xml"), 0, 0, 2), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);
    EXPECT_EQ(state.current().title, "First");
    // Without the slide show nothing is due until the next download.
    EXPECT_EQ(state.cycle(5 + 600000, face.surface), 0);
}

TEST_F(FeedStateTest, FeedWithoutItemsDrawsBlack)
{
    serveFeed({});
    FeedState state(settingsFor(server.url("/feed.xml")), quickLimits());
    state.activate();
    face.fill(0xFF);
    ASSERT_EQ(state.cycle(5, face.surface), 1);
    EXPECT_TRUE(face.allBlack());
    face.fill(0xFF);
    ASSERT_EQ(state.cycle(5 + 30001, face.surface), 1);
    EXPECT_TRUE(face.allBlack());
}

TEST_F(FeedStateTest, FailedDownloadsShowTheirMessageOnce)
{
    server.answer("/401", 401, "no", "text/plain");
    server.answer("/500", 500, "oops", "text/plain");
    server.answer("/404", 404, "gone", "text/plain");
    const std::pair<std::string, std::string> cases[] = {
        {server.url("/401"), "Autorization failed"},
        {server.url("/500"), "Internal server error"},
        {"http://127.0.0.1:" + std::to_string(LocalHttpServer::unusedPort()) + "/feed.xml", "No connection"},
        {server.url("/404"), ""},
    };
    for (const auto &[url, message] : cases) {
        FeedState state(settingsFor(url), quickLimits());
        state.activate();
        face.fill(0x40);
        ASSERT_EQ(state.cycle(5, face.surface), 1) << url;
        EXPECT_EQ(state.statusText(), message) << url;
        EXPECT_EQ(state.current().title, message);
        EXPECT_EQ(face.litWhite(0, 96) > 0, !message.empty()) << url;
        EXPECT_EQ(face.litIn(0, 96) == 0, message.empty()) << url;
        EXPECT_EQ(state.settings().rssUrl, "");
    }
}

TEST_F(FeedStateTest, FailedDownloadKeepsTheItemsForTheNextSlide)
{
    serveFeed({{"Kept one", "", ""}, {"Kept two", "", ""}});
    FeedState state(settingsFor(server.url("/feed.xml"), 0), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);

    server.answer("/feed.xml", 500, "down", "text/plain");
    ASSERT_EQ(state.cycle(5 + 3600001, face.surface), 1);
    EXPECT_EQ(state.statusText(), "Internal server error");
    EXPECT_EQ(state.items().size(), 2u);
    EXPECT_EQ(state.current().link, "");

    ASSERT_EQ(state.cycle(5 + 3600001 + 30001, face.surface), 1);
    EXPECT_EQ(state.current().title.rfind("Kept", 0), 0u);
    EXPECT_EQ(server.requestCount("/feed.xml"), 2);
}

TEST_F(FeedStateTest, PageLinkingItsFeedIsFollowedOncePerDownload)
{
    serveFeed({{"From the feed", "", ""}});
    server.answer("/page.html", 200,
                  "<html><head><link rel=alternate type=\"application/rss+xml\" href='/feed.xml'></head>"
                  "<body><br></body></html>",
                  "text/html");
    server.answer("/chain.html", 200,
                  "<html><head><link type=\"application/rss+xml\" href=\"" + server.url("/page.html") +
                      "\"></head><body><br></body></html>",
                  "text/html");

    FeedState state(settingsFor(server.url("/page.html"), 0), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);
    EXPECT_EQ(state.current().title, "From the feed");
    EXPECT_EQ(state.settings().rssUrl, server.url("/feed.xml"));
    EXPECT_EQ(server.requestCount("/page.html"), 1);

    // Later downloads go to the feed found.
    ASSERT_EQ(state.cycle(5 + 3600001, face.surface), 1);
    EXPECT_EQ(server.requestCount("/page.html"), 1);
    EXPECT_EQ(server.requestCount("/feed.xml"), 2);

    // A page linking a page is followed one step only.
    FeedState chain(settingsFor(server.url("/chain.html"), 0), quickLimits());
    chain.activate();
    ASSERT_EQ(chain.cycle(5, face.surface), 1);
    EXPECT_EQ(server.requestCount("/page.html"), 2);
    EXPECT_EQ(server.requestCount("/feed.xml"), 2);
    EXPECT_FALSE(chain.statusText().empty()); // the parser's description of the page
    EXPECT_EQ(chain.settings().rssUrl, "");
}

TEST_F(FeedStateTest, ChangingOnlyShowTypeNeitherDownloadsNorForgetsTheFeed)
{
    servePicture("/a.png");
    serveFeed({{"Alpha", "", server.url("/a.png")}});
    FeedState state(settingsFor(server.url("/feed.xml"), 4, 0), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);

    RssSettings s = state.settings();
    s.showType = 0;
    state.apply(s);
    ASSERT_EQ(state.cycle(10, face.surface), 1); // redrawn as text
    EXPECT_FALSE(face.isRed(48, 90));
    EXPECT_GT(face.litWhite(0, 20), 0);
    EXPECT_EQ(state.settings().rssUrl, server.url("/feed.xml"));
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
    EXPECT_EQ(server.requestCount("/a.png"), 1);

    // A new address downloads again and forgets the old feed.
    serveFeed({{"Other", "", ""}}, "/other.xml");
    s.url = server.url("/other.xml");
    state.apply(s);
    ASSERT_EQ(state.cycle(15, face.surface), 1);
    EXPECT_EQ(state.current().title, "Other");
    EXPECT_EQ(state.settings().rssUrl, server.url("/other.xml"));
}

TEST_F(FeedStateTest, PictureBandsForEachShowType)
{
    servePicture("/wide.png", 96, 48);
    serveFeed({{"Headline words here", "", server.url("/wide.png")}});
    FeedState state(settingsFor(server.url("/feed.xml"), 4, 0), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);

    struct Band {
        int showType;
        int top;      // first picture row
        int left;     // first picture column
        int right;    // last picture column
        bool text;    // title drawn above
    };
    // 1: 20 rows, 40 wide; 2: 44 rows, 88 wide; 3: 68 rows cut to the picture's 48, full width;
    // 4: the picture alone.
    const Band bands[] = {{1, 76, 28, 67, true}, {2, 52, 4, 91, true}, {3, 48, 0, 95, true}, {4, 48, 0, 95, false}};
    for (const Band &band : bands) {
        RssSettings s = state.settings();
        s.showType = band.showType;
        state.apply(s);
        ASSERT_EQ(state.cycle(10, face.surface), 1);
        EXPECT_TRUE(face.isRed(band.left + 1, band.top)) << band.showType;
        EXPECT_TRUE(face.isRed(band.right - 1, 95)) << band.showType;
        EXPECT_FALSE(face.isRed(48, band.top - 1)) << band.showType;
        if (band.left > 1) {
            EXPECT_TRUE(face.isBlack(band.left - 2, band.top + 2)) << band.showType;
            EXPECT_TRUE(face.isBlack(band.right + 2, band.top + 2)) << band.showType;
        }
        EXPECT_EQ(face.litWhite(0, 16) > 0, band.text) << band.showType;
    }
    EXPECT_EQ(server.requestCount("/wide.png"), 1);

    // Text only: no picture at all, not even downloaded.
    FeedState textOnly(settingsFor(server.url("/feed.xml"), 0, 0), quickLimits());
    textOnly.activate();
    ASSERT_EQ(textOnly.cycle(5, face.surface), 1);
    EXPECT_EQ(server.requestCount("/wide.png"), 1);
    EXPECT_EQ(face.litIn(48, 96), 0);
    EXPECT_GT(face.litWhite(0, 16), 0);
}

TEST_F(FeedStateTest, BrokenPicturesShowTextAndAreTriedAgain)
{
    server.answer("/html.png", 200, "<html><body>not a picture</body></html>", "text/html");
    server.answer("/huge.png", 200, claimedPng(20000, 20000), "image/png");
    serveFeed({{"Html picture", "", server.url("/html.png")}, {"Huge picture", "", server.url("/huge.png")}});
    FeedState state(settingsFor(server.url("/feed.xml"), 4, 1), quickLimits());
    state.activate();

    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 2; ++i) {
            ASSERT_EQ(state.cycle(5 + std::uint32_t(round * 2 + i) * 30001, face.surface), 1);
            EXPECT_FALSE(state.hasPicture());
            EXPECT_GT(face.litWhite(0, 40), 0) << state.current().title;
        }
    }
    EXPECT_EQ(server.requestCount("/html.png"), 2);
    EXPECT_EQ(server.requestCount("/huge.png"), 2);
    EXPECT_EQ(state.cachedPictures(), 0u);
}

TEST_F(FeedStateTest, HostileServersEndInTimeAndKeepTheItems)
{
    serveFeed({{"Good", "", ""}});
    server.answer("/hang.xml", HttpAnswer::hanging());
    server.answer("/loop.xml", HttpAnswer::redirect("/loop.xml"));
    server.answer("/big.xml", HttpAnswer::oversized(100u * 1024 * 1024, true, "application/rss+xml"));
    server.answer("/endless.xml", HttpAnswer::endlessBody("application/rss+xml"));

    for (const char *path : {"/hang.xml", "/loop.xml", "/big.xml", "/endless.xml"}) {
        FeedState state(settingsFor(server.url("/feed.xml"), 0), quickLimits());
        state.activate();
        ASSERT_EQ(state.cycle(5, face.surface), 1);
        RssSettings s = state.settings();
        s.url = server.url(path);
        state.apply(s);
        const auto started = std::chrono::steady_clock::now();
        ASSERT_EQ(state.cycle(10, face.surface), 1) << path;
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20)) << path;
        EXPECT_EQ(state.items().size(), 1u) << path;
        ASSERT_EQ(state.cycle(10 + 30001, face.surface), 1);
        EXPECT_EQ(state.current().title, "Good") << path;
    }
}

TEST_F(FeedStateTest, PeriodBelowAMinuteDoesNotHammerTheServer)
{
    serveFeed({{"One", "", ""}});
    RssSettings s = settingsFor(server.url("/feed.xml"), 0, 0);
    s.refreshPeriod = 0;
    FeedState state(s, quickLimits());
    state.activate();
    for (std::uint32_t t = 5; t < 50000; t += 500)
        state.cycle(t, face.surface);
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
    state.cycle(5 + 60001, face.surface);
    EXPECT_EQ(server.requestCount("/feed.xml"), 2);
}

TEST_F(FeedStateTest, PictureCacheKeepsOnlyCurrentItemsAndEmptiesOnDeactivation)
{
    servePicture("/1.png");
    servePicture("/2.png");
    serveFeed({{"One", "", server.url("/1.png")}});
    FeedState state(settingsFor(server.url("/feed.xml"), 4, 0), quickLimits());
    state.activate();
    ASSERT_EQ(state.cycle(5, face.surface), 1);
    EXPECT_EQ(state.cachedPictures(), 1u);

    serveFeed({{"Two", "", server.url("/2.png")}});
    ASSERT_EQ(state.cycle(5 + 3600001, face.surface), 1);
    EXPECT_EQ(state.cachedPictures(), 1u);
    EXPECT_EQ(state.current().title, "Two");

    state.deactivate();
    EXPECT_EQ(state.cachedPictures(), 0u);
    EXPECT_TRUE(state.items().empty());
    state.activate();
    ASSERT_EQ(state.cycle(5 + 3600002, face.surface), 1);
    EXPECT_EQ(server.requestCount("/2.png"), 2);
}
