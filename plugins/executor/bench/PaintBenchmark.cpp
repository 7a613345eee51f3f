// Time of one Hotkey Paint: the face laid out and drawn again (as after activation or a change of
// settings), for a text on one line, a text on two lines, a picture under a text, and the call
// that finds nothing to do.
#include "HotkeyPlugin.h"

#include <QGuiApplication>
#include <QImage>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <array>
#include <string>

namespace {

std::string g_picturePath;

void paintDirty(benchmark::State &state, const char *text, const std::string &imagePath)
{
    executor::HotkeyPlugin plugin;
    plugin.SetProperty("Text", text);
    plugin.SetProperty("ImagePath", imagePath.c_str());
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface surface{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    plugin.Paint(surface); // loads fonts and picture once
    for (auto _ : state) {
        plugin.OnEvent(PKX_EVENT_ACTIVATE);
        benchmark::DoNotOptimize(plugin.Paint(surface));
    }
}

void BM_PaintOneLine(benchmark::State &state)
{
    paintDirty(state, "Ctrl+C", "");
}

void BM_PaintTwoLines(benchmark::State &state)
{
    paintDirty(state, "Win+Ctrl+Alt+Shift+PgDown", "");
}

void BM_PaintPictureAndText(benchmark::State &state)
{
    paintDirty(state, "Ctrl+C", g_picturePath);
}

void BM_PaintDefaultImage(benchmark::State &state)
{
    paintDirty(state, "", "");
}

void BM_PaintUnchanged(benchmark::State &state)
{
    executor::HotkeyPlugin plugin;
    std::array<std::uint8_t, PKX_FACE_SIZE * PKX_FACE_STRIDE> bits{};
    PkxSurface surface{bits.data(), PKX_FACE_SIZE, PKX_FACE_SIZE, PKX_FACE_STRIDE};
    plugin.OnEvent(PKX_EVENT_ACTIVATE);
    plugin.Paint(surface);
    for (auto _ : state)
        benchmark::DoNotOptimize(plugin.Paint(surface));
}

BENCHMARK(BM_PaintOneLine);
BENCHMARK(BM_PaintTwoLines);
BENCHMARK(BM_PaintPictureAndText);
BENCHMARK(BM_PaintDefaultImage);
BENCHMARK(BM_PaintUnchanged);

} // namespace

int main(int argc, char **argv)
{
    // The host provides a QGuiApplication; fonts need one.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QTemporaryDir dir;
    QImage picture(640, 480, QImage::Format_RGB32);
    picture.fill(QColor(40, 120, 200));
    g_picturePath = dir.filePath(QStringLiteral("picture.png")).toStdString();
    picture.save(QString::fromStdString(g_picturePath));

    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
