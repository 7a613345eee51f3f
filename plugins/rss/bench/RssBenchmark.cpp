// Measures the feed key's hot paths: Paint when nothing is due (what the paint thread pays twice a
// second), the worker's cycle when nothing is due, parsing a 7-item feed of 50 KB, and drawing an
// item whose picture is already loaded.
//
//   bench_rss [--benchmark_filter=...]
#include "FeedFace.hpp"
#include "FeedParser.hpp"
#include "FeedState.hpp"
#include "RssPlugin.hpp"

#include <pixkey/utility/CFileImage.h>

#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <thread>

using namespace pixkey::rss;

namespace {

std::string feedOf50K()
{
    std::string feed = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<rss version=\"2.0\"><channel><title>News</title>"
                       "<link>http://news.example/</link>\n";
    std::string paragraph;
    while (paragraph.size() < 6800)
        paragraph += "Lorem ipsum dolor sit amet, consectetur adipiscing elit &amp; more words here. ";
    for (int i = 0; i < 7; ++i) {
        feed += "<item><title>Headline number " + std::to_string(i) +
                " with a few words &laquo;quoted&raquo;</title><link>http://news.example/" + std::to_string(i) +
                "</link><description><![CDATA[<p>" + paragraph + "<img class=\"lead\" src=\"pics/" +
                std::to_string(i) + ".jpg\" alt=\"\"></p>]]></description><pubDate>Tue, 08 Dec 2026 10:00:00 GMT"
                "</pubDate></item>\n";
    }
    return feed + "</channel></rss>\n";
}

void BM_PaintNothingDue(benchmark::State &state)
{
    RssPlugin::Environment env;
    env.cycle = std::chrono::milliseconds(500);
    RssPlugin plugin(env);
    plugin.SetProperty("URL", "http://127.0.0.1:1/feed.xml"); // refused at once: one message face
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface face{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (plugin.Paint(face) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.Paint(face));
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}
BENCHMARK(BM_PaintNothingDue);

void BM_CycleNothingDue(benchmark::State &state)
{
    RssSettings settings;
    settings.url = "http://127.0.0.1:1/feed.xml";
    FeedState feed(settings);
    feed.activate();
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface face{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    feed.cycle(1000, face);
    for (auto _ : state)
        benchmark::DoNotOptimize(feed.cycle(2000, face));
}
BENCHMARK(BM_CycleNothingDue);

void BM_ParseFeed50K(benchmark::State &state)
{
    const std::string feed = feedOf50K();
    for (auto _ : state) {
        ParsedFeed parsed = parseFeed(feed.data(), feed.size());
        benchmark::DoNotOptimize(parsed.items.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(feed.size()));
    state.counters["feed_bytes"] = double(feed.size());
}
BENCHMARK(BM_ParseFeed50K)->Unit(benchmark::kMicrosecond);

void BM_DrawItemWithCachedPicture(benchmark::State &state)
{
    QTemporaryDir dir;
    QImage source(320, 180, QImage::Format_RGB32);
    for (int y = 0; y < 180; ++y)
        for (int x = 0; x < 320; ++x)
            source.setPixel(x, y, qRgb(x * 255 / 320, y * 255 / 180, 128));
    const QString path = dir.filePath(QStringLiteral("picture.png"));
    source.save(path);
    pixkey::CFileImage picture;
    if (!picture.Load(path.toLocal8Bit().constData()) || !picture.Fit(PKX_FACE_SIZE, PKX_FACE_SIZE)) {
        state.SkipWithError("picture not loaded");
        return;
    }
    FeedItem item;
    item.title = item.titleText = "Sunset over the hills draws a crowd of walkers";
    FeedFace drawer;
    drawer.createFont();
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface face{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    const int showType = int(state.range(0));
    for (auto _ : state) {
        drawer.drawItem(face, item, &picture, showType);
        benchmark::DoNotOptimize(bits.data());
    }
}
BENCHMARK(BM_DrawItemWithCachedPicture)->Arg(2)->Arg(4)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
