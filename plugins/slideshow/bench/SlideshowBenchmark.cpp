// Time of one Slideshow Paint: the call that finds nothing changed (what every key does twice a
// second during a talk), and the drawing of a thumbnail face with its labels and counter.
#include "ImpressMonitor.h"
#include "SlideshowPainter.h"
#include "SlideshowPlugin.h"

#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <array>

namespace {

std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> g_bits{};
PkxSurface g_surface{g_bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};

void BM_PaintUnchanged(benchmark::State &state)
{
    slideshow::MonitorOptions options;
    options.findProgram = [] { return pid_t(0); };
    auto monitor = std::make_shared<slideshow::ImpressMonitor>(options);
    slideshow::SlideshowPlugin plugin(2, [monitor] { return monitor; });
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    monitor->waitForPublication(0, std::chrono::seconds(5));
    while (plugin.Paint(g_surface)) {
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.Paint(g_surface));
    plugin.OnEvent(PKX_EVENT_DEACTIVATE);
}

void BM_DrawThumbnailFace(benchmark::State &state)
{
    slideshow::SlideshowPainter painter;
    painter.load(2);
    QImage slide(96, 54, QImage::Format_ARGB32);
    slide.fill(QColor(67, 99, 216));
    slideshow::ShowState shown;
    shown.stage = slideshow::StageCurrentSlide;
    shown.targetNumber = 2;
    shown.count = 10;
    shown.current = 1;
    for (auto _ : state) {
        painter.drawThumbnail(g_surface, slide, {96, 54});
        painter.drawLabels(g_surface, 2, shown, "");
    }
}

BENCHMARK(BM_PaintUnchanged);
BENCHMARK(BM_DrawThumbnailFace);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
