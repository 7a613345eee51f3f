// The plug-in object as the host drives it: properties and pictures, a key whose worker fetches
// from the local HTTP server, presses that open only web links, and deactivation while a download
// hangs.
#include "FeedRunner.hpp"
#include "RssPlugin.hpp"
#include "RssTestSupport.hpp"

#include <pixkey/test/LocalHttpServer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

using namespace pixkey::rss;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using rsstest::Face;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

namespace {

template <class Done>
bool waitFor(Done done, std::chrono::milliseconds deadline = 15s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

struct Opened {
    std::mutex lock;
    std::vector<std::string> links;
    std::vector<std::string> take()
    {
        std::lock_guard guard(lock);
        return links;
    }
};

RssPlugin::Environment quickEnvironment(std::shared_ptr<Opened> opened = nullptr)
{
    RssPlugin::Environment env;
    env.cycle = 20ms;
    env.limits.connectTimeout = 2000ms;
    env.limits.totalTimeout = 3000ms;
    if (opened)
        env.openLink = [opened](const std::string &link) {
            std::lock_guard guard(opened->lock);
            opened->links.push_back(link);
            return true;
        };
    return env;
}

std::string property(RssPlugin &plugin, int index, std::string *name = nullptr)
{
    char n[PKX_PROPERTY_TEXT_SIZE] = {};
    char v[PKX_PROPERTY_TEXT_SIZE] = {};
    if (!plugin.GetProperty(index, n, v))
        return "(none)";
    if (name)
        *name = n;
    return v;
}

// Paints until the plug-in hands over a face.
bool paintUntilFace(RssPlugin &plugin, Face &face)
{
    return waitFor([&] { return plugin.Paint(face.surface) == 1; });
}

} // namespace

TEST(RssPluginTest, InformationPropertiesAndPictures)
{
    RssPlugin plugin(quickEnvironment());
    EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(0)), "prt.rss.mfc5");
    EXPECT_STREQ(reinterpret_cast<const char *>(plugin.GetInfo(1)), "RSS");
    EXPECT_EQ(plugin.GetInfo(2), 0);
    EXPECT_EQ(plugin.GetInfo(11), 500);
    EXPECT_EQ(plugin.GetInfo(255), 1);
    EXPECT_EQ(plugin.GetInfo(10), 0);
    for (const auto &[code, size] : {std::pair{20, 16}, {21, 32}, {22, 96}}) {
        auto *image = reinterpret_cast<PkxImage *>(plugin.GetInfo(code));
        ASSERT_NE(image, nullptr) << code;
        EXPECT_EQ(image->width, size);
        EXPECT_EQ(image->height, size);
        pkx_image_free(image);
    }

    const char *expected[][2] = {{"URL", "https://www.engadget.com/rss.xml"}, {"RefreshPeriod", "3600"},
                                 {"Item", "0"}, {"ShowType", "4"}, {"SlideShow", "1"}, {"RssURL", ""}};
    for (int i = 0; i < 6; ++i) {
        std::string name;
        EXPECT_EQ(property(plugin, 256 + i, &name), expected[i][1]);
        EXPECT_EQ(name, expected[i][0]);
    }
    EXPECT_EQ(property(plugin, 262), "(none)");
    EXPECT_EQ(property(plugin, 255), "(none)");

    EXPECT_EQ(plugin.SetProperty("RefreshPeriod", "600"), 1);
    EXPECT_EQ(plugin.SetProperty("Unknown", "1"), 0);
    const std::string longUrl(400, 'u');
    EXPECT_EQ(plugin.SetProperty("URL", longUrl.c_str()), 1);
    EXPECT_EQ(property(plugin, 257), "600");
    EXPECT_EQ(property(plugin, 256).size(), 255u); // cut to the host's buffer, terminated
    EXPECT_EQ(plugin.settings().url, longUrl);     // but kept whole
}

TEST(RssPluginTest, NewAddressFromTheDialogForgetsTheFoundFeed)
{
    RssPlugin plugin(quickEnvironment());
    plugin.SetProperty("URL", "http://a.example/");
    plugin.SetProperty("RssURL", "http://a.example/rss.xml");
    RssSettings chosen = plugin.settings();
    chosen.showType = 1;
    plugin.applySettings(chosen);
    EXPECT_EQ(plugin.settings().rssUrl, "http://a.example/rss.xml");
    EXPECT_EQ(plugin.settings().showType, 1);
    chosen.url = "http://b.example/";
    plugin.applySettings(chosen);
    EXPECT_EQ(plugin.settings().rssUrl, "");
}

TEST(RssPluginTest, KeyShowsTheFeedAndAPressOpensTheShownItem)
{
    LocalHttpServer server;
    server.answer("/a.png", 200, rsstest::png(96, 48, Qt::red), "image/png");
    server.answer("/page.html", 200,
                  "<html><head><link type=\"application/rss+xml\" href=\"/feed.xml\"></head><body><br></body></html>",
                  "text/html");
    server.answer("/feed.xml", 200,
                  rsstest::rss2({{"First", "http://site.example/first", server.url("/a.png")},
                                 {"Second", "https://site.example/second", ""}}),
                  "application/rss+xml");
    auto opened = std::make_shared<Opened>();
    RssPlugin plugin(quickEnvironment(opened));
    plugin.SetProperty("URL", server.url("/page.html").c_str());
    plugin.SetProperty("SlideShow", "0");

    Face face;
    EXPECT_EQ(plugin.Paint(face.surface), 0); // not active yet
    plugin.OnKeyDown();                       // nothing shown, nothing opened
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    ASSERT_TRUE(paintUntilFace(plugin, face));
    EXPECT_TRUE(face.isRed(48, 60));
    EXPECT_EQ(plugin.Paint(face.surface), 0); // nothing new
    EXPECT_TRUE(waitFor([&] { return property(plugin, 261) == server.url("/feed.xml"); }));

    plugin.OnKeyDown();
    EXPECT_EQ(opened->take(), std::vector<std::string>{"http://site.example/first"});

    // The second item, chosen while the key runs.
    plugin.SetProperty("Item", "1");
    ASSERT_TRUE(paintUntilFace(plugin, face));
    plugin.OnKeyDown();
    EXPECT_EQ(opened->take().back(), "https://site.example/second");
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);

    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
    EXPECT_EQ(plugin.runner(), nullptr);
    EXPECT_EQ(plugin.Paint(face.surface), 0);
}

TEST(RssPluginTest, PressOpensOnlyWebLinks)
{
    LocalHttpServer server;
    const std::vector<std::string> hostile = {"file:///etc/passwd", "javascript:alert(1)", "$(touch /tmp/pwned)",
                                              "-e /bin/sh", ""};
    std::vector<rsstest::TestItem> items;
    for (const std::string &link : hostile)
        items.push_back({"Item", link, ""});
    server.answer("/feed.xml", 200, rsstest::rss2(items), "application/rss+xml");
    auto opened = std::make_shared<Opened>();
    RssPlugin plugin(quickEnvironment(opened));
    plugin.SetProperty("URL", server.url("/feed.xml").c_str());
    plugin.SetProperty("SlideShow", "0");
    plugin.SetProperty("ShowType", "0");
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    Face face;
    for (std::size_t i = 0; i < hostile.size(); ++i) {
        plugin.SetProperty("Item", std::to_string(i).c_str());
        ASSERT_TRUE(waitFor([&] { return plugin.Paint(face.surface) == 1 && plugin.runner()->shownLink() == hostile[i]; }));
        plugin.OnKeyDown();
    }
    EXPECT_TRUE(opened->take().empty());
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

TEST(RssPluginTest, PressHandsTheLinkToTheDesktopOpener)
{
    char pattern[] = "/tmp/pixkey-rss-opener-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    const fs::path record = folder / "record.txt";
    {
        std::ofstream script(folder / "xdg-open");
        script << "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" << record.string() << ".part'\nmv '" << record.string()
               << ".part' '" << record.string() << "'\n";
    }
    fs::permissions(folder / "xdg-open", fs::perms::owner_all);
    const std::string oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
    setenv("PATH", (folder.string() + ":" + oldPath).c_str(), 1);

    LocalHttpServer server;
    server.answer("/feed.xml", 200, rsstest::rss2({{"Story", "https://news.example/story?id=1&x=$(id)", ""}}),
                  "application/rss+xml");
    {
        RssPlugin plugin(quickEnvironment()); // the real opener
        plugin.SetProperty("URL", server.url("/feed.xml").c_str());
        plugin.OnEvent(PKX_EVENT_ACTIVATE);
        Face face;
        ASSERT_TRUE(paintUntilFace(plugin, face));
        plugin.OnKeyDown();
        EXPECT_TRUE(waitFor([&] { return fs::exists(record); }));
        plugin.OnEvent(PKX_EVENT_DEACTIVATE);
    }
    std::ifstream in(record);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_EQ(text.str(), "https://news.example/story?id=1&x=$(id)\n");
    setenv("PATH", oldPath.c_str(), 1);
    fs::remove_all(folder);
}

TEST(RssPluginTest, DeactivationDoesNotWaitForAHangingDownload)
{
    LocalHttpServer server;
    server.answer("/hang.xml", HttpAnswer::hanging());
    auto plugin = std::make_unique<RssPlugin>(quickEnvironment());
    plugin->SetProperty("URL", server.url("/hang.xml").c_str());
    plugin->OnEvent(PKX_EVENT_ACTIVATE);
    ASSERT_TRUE(server.waitForRequests("/hang.xml", 1));

    const auto started = std::chrono::steady_clock::now();
    plugin->OnEvent(PKX_EVENT_DEACTIVATE);
    plugin.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    server.stop(); // the download left behind ends now, with nobody to tell
    // ...and its worker winds down without parsing or drawing what arrived.
    EXPECT_TRUE(waitFor([] { return FeedRunner::liveWorkers() == 0; }));
}

TEST(RssPluginTest, RunnerLeftInADownloadCallsNobodyAfterStop)
{
    LocalHttpServer server;
    server.answer("/held.xml", [] {
        HttpAnswer answer = HttpAnswer::text(200, rsstest::rss2({{"Late", "", ""}}), "application/rss+xml");
        answer.held = true;
        return answer;
    }());
    RssSettings settings;
    settings.url = server.url("/held.xml");
    auto frames = std::make_shared<std::atomic<int>>(0);
    FeedRunner::Options options;
    options.cycle = 20ms;
    options.onFrame = [frames] { ++*frames; };
    options.onSettings = [frames](const RssSettings &) { ++*frames; };
    FeedRunner runner(settings, options);
    ASSERT_TRUE(server.waitForHeld("/held.xml"));

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(runner.stop(FeedRunner::kStopWait));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1500ms);
    EXPECT_FALSE(runner.finished());
    server.release(); // the feed arrives after all, and is drawn for nobody
    EXPECT_TRUE(waitFor([&] { return runner.finished(); }));
    EXPECT_EQ(*frames, 0);
    EXPECT_EQ(runner.frames(), 0);
}
