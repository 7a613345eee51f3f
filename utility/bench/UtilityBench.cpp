// Costs of what plug-ins do on every paint: drawing a line of text, measuring one, drawing a
// fitted picture onto a face, and a regex over a weather-sized document.
#include <pixkey/utility/CFileImage.h>
#include <pixkey/utility/CLocalizableTextRenderer.h>
#include <pixkey/utility/Regex.h>

#include "pixkey_plugin.h"

#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

void printShadowedClock(benchmark::State &state)
{
    pixkey::CLocalizableTextRenderer renderer;
    if (!renderer.LoadFont("VELMORA_16PX")) {
        state.SkipWithError("no font");
        return;
    }
    renderer.alignment = 1;
    std::vector<std::uint8_t> pixels(96 * 288, 0);
    PkxSurface surface{pixels.data(), 96, 96, 288};
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.PrintShadowedText(&surface, "12:59:59 PM", 48, 40));
}
BENCHMARK(printShadowedClock);

void measureText(benchmark::State &state)
{
    pixkey::CLocalizableTextRenderer renderer;
    if (!renderer.LoadFont("VELMORA_12PX")) {
        state.SkipWithError("no font");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(renderer.PrintText(nullptr, "Win+Ctrl+Alt+Shift+F12", 0, 0));
}
BENCHMARK(measureText);

void stretchPicture(benchmark::State &state)
{
    const QString path = QDir::tempPath() + QStringLiteral("/utility_bench.png");
    QImage source(640, 480, QImage::Format_RGB32);
    source.fill(Qt::darkCyan);
    source.save(path);
    pixkey::CFileImage image;
    if (!image.Load(path.toUtf8().constData()) || !image.Fit(96, 96)) {
        state.SkipWithError("no picture");
        return;
    }
    std::vector<std::uint8_t> pixels(96 * 288, 0);
    PkxSurface surface{pixels.data(), 96, 96, 288};
    for (auto _ : state)
        benchmark::DoNotOptimize(image.StretchDIBits(&surface, 0, 0, 96, 68));
}
BENCHMARK(stretchPicture);

void temperatureRegex(benchmark::State &state)
{
    const char *error = nullptr;
    int offset = 0;
    pixkey::pcre *code = pixkey::pcre_compile("TEMPERATURE (max|min)=\"(-?\\d+)\" (min|max)=\"(-?\\d+)\"",
                                              pixkey::PCRE_DOTALL | pixkey::PCRE_EXTRA, &error, &offset, nullptr);
    std::string document(20000, ' ');
    document += "<TEMPERATURE max=\"10\" min=\"-3\"/>";
    int ovector[30];
    for (auto _ : state)
        benchmark::DoNotOptimize(
            pixkey::pcre_exec(code, nullptr, document.data(), int(document.size()), 0, 0, ovector, 30));
    pixkey::pcre_free(code);
}
BENCHMARK(temperatureRegex);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
