// bench_browser: what a Browser key costs, with the real web engine on the off-screen platform.
//
//   bench_browser [google-benchmark options]
//
// Before the benchmarks, printed once (each needs a fresh process, so they come first):
//   first frame   from the first activation (the web engine not loaded yet) to the first face
//                 showing the page;
//   memory        resident memory of this process and of the engine's helper processes, before
//                 the engine was loaded and with one active key showing a page;
//   animated CPU  processor time of this process and the helpers over 10 s of an animated key
//                 (a capture every 300 ms), as a share of one core.
// Then Google Benchmark: one capture at 1024x1024 (grab on the main thread, crop and scale), and
// the crop and scale alone.
#include "CaptureCycle.h"
#include "EngineLoader.h"
#include "FaceDrawing.h"
#include "MainThreadPage.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>

#include <benchmark/benchmark.h>

#include <pixkey_plugin.h>

#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

bool pumpUntil(const std::function<bool()> &done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

void pumpFor(int ms)
{
    QElapsedTimer timer;
    timer.start();
    pumpUntil([&] { return timer.elapsed() >= ms; }, ms + 1000);
}

// This process and every process below it (the engine's helpers).
std::vector<int> family()
{
    std::vector<int> result{getpid()};
    for (std::size_t i = 0; i < result.size(); ++i) {
        std::ifstream children("/proc/" + std::to_string(result[i]) + "/task/" + std::to_string(result[i]) + "/children");
        int child;
        while (children >> child)
            result.push_back(child);
    }
    return result;
}

long residentKb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return 0;
}

double cpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    const std::size_t close = text.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)
        fields >> skip;
    long user = 0, system = 0;
    fields >> user >> system;
    return double(user + system) / sysconf(_SC_CLK_TCK);
}

double familyCpu()
{
    double total = 0;
    for (int pid : family())
        total += cpuSeconds(pid);
    return total;
}

long familyResidentKb(long *own = nullptr)
{
    long total = 0;
    for (int pid : family()) {
        const long kb = residentKb(pid);
        total += kb;
        if (own && pid == getpid())
            *own = kb;
    }
    return total;
}

QString g_pageUrl;

QString writeBlocksPage(const QTemporaryDir &dir)
{
    QString html = QStringLiteral("<html><body style='margin:0'><div style='position:relative;width:1024px;height:2000px'>");
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 4; ++column)
            html += QStringLiteral("<div style='position:absolute;left:%1px;top:%2px;width:256px;height:250px;"
                                   "background:rgb(%3,%4,%5)'></div>")
                        .arg(256 * column).arg(250 * row).arg(40 + 60 * column).arg(20 + 30 * row).arg(230 - 25 * row);
    html += QStringLiteral("</div></body></html>");
    QFile file(dir.filePath(QStringLiteral("blocks.html")));
    file.open(QIODevice::WriteOnly);
    file.write(html.toUtf8());
    return QUrl::fromLocalFile(file.fileName()).toString();
}

// One key on a paint thread of its own, painting every 300 ms like the host's.
struct Key {
    browser::MainThreadPage page;
    browser::CaptureCycle cycle{page};
    QImage face{96, 96, QImage::Format_BGR888};
    std::atomic<bool> stop{false};
    std::atomic<int> pagesShown{0};
    std::thread thread;

    explicit Key(bool animated)
    {
        browser::BrowserSettings settings;
        settings.url = g_pageUrl.toStdString();
        settings.animation = animated ? 1 : 0;
        thread = std::thread([this, settings] {
            cycle.activate(settings);
            while (!stop) {
                if (cycle.paint(face) && cycle.lastFace() == browser::CaptureCycle::Face::Page)
                    ++pagesShown;
                std::this_thread::sleep_for(std::chrono::milliseconds(300));
            }
            cycle.deactivate();
        });
    }
    ~Key()
    {
        stop = true;
        pumpUntil([this] { return false; }, 400);
        thread.join();
    }
};

bool webEngineMapped()
{
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line))
        if (line.find("WebEngine") != std::string::npos)
            return true;
    return false;
}

// What the catalogue does with the file when no key uses it: load, describe, keep it loaded.
void measureDescribing()
{
    long own0 = 0;
    familyResidentKb(&own0);
    QElapsedTimer timer;
    timer.start();
    void *library = dlopen(BROWSER_PLUGIN_FILE, RTLD_NOW | RTLD_LOCAL);
    auto create = library ? reinterpret_cast<PkxCreateFn>(dlsym(library, "Create")) : nullptr;
    auto destroy = library ? reinterpret_cast<PkxDeleteFn>(dlsym(library, "Delete")) : nullptr;
    if (!create || !destroy) {
        std::printf("describing: %s cannot be loaded\n", BROWSER_PLUGIN_FILE);
        return;
    }
    const PkxModule module{BROWSER_PLUGIN_FILE, library};
    PkxPlugin *describing = create(&module, 0);
    for (int code : {0, 1, 2, 3, 4, 5, 10, 12, 511})
        describing->ops->GetInfo(describing, code);
    for (int code : {20, 21, 22})
        pkx_image_free(reinterpret_cast<PkxImage *>(describing->ops->GetInfo(describing, code)));
    destroy(describing);
    const double ms = timer.nsecsElapsed() / 1e6;
    long own1 = 0;
    familyResidentKb(&own1);
    std::printf("describing Browser.pkx (load, Create(0), GetInfo, Delete): %.2f ms, +%.1f MB resident, "
                "web engine %s\n",
                ms, (own1 - own0) / 1024.0, webEngineMapped() ? "LOADED" : "not loaded");
}

void measureOnce()
{
    measureDescribing();
    long ownBefore = 0;
    const long before = familyResidentKb(&ownBefore);

    QElapsedTimer timer;
    timer.start();
    auto key = std::make_unique<Key>(false);
    if (!pumpUntil([&] { return key->pagesShown > 0; }, 60000)) {
        std::printf("first frame: the page did not show within 60 s (%s)\n", key->page.status().engineError.c_str());
        return;
    }
    std::printf("first frame: %lld ms from activation (engine loaded and started on the way)\n",
                static_cast<long long>(timer.elapsed()));
    pumpFor(3000);
    long ownAfter = 0;
    const long after = familyResidentKb(&ownAfter);
    std::printf("memory: one active key: +%.1f MB resident in this process, +%.1f MB with the engine's helpers "
                "(%.1f MB before the engine, %.1f MB after)\n",
                (ownAfter - ownBefore) / 1024.0, (after - before) / 1024.0, before / 1024.0, after / 1024.0);
    key.reset();

    auto animated = std::make_unique<Key>(true);
    pumpUntil([&] { return animated->pagesShown > 0; }, 60000);
    pumpFor(1000);
    const double cpu0 = familyCpu();
    const int shown0 = animated->pagesShown;
    QElapsedTimer wall;
    wall.start();
    pumpFor(10000);
    const double cpu = familyCpu() - cpu0;
    const double seconds = wall.elapsed() / 1000.0;
    std::printf("animated key: %.1f %% of one core (this process and the engine's helpers), %.1f captures a second\n",
                100.0 * cpu / seconds, (animated->pagesShown - shown0) / seconds);
    animated.reset();
}

browser::MainThreadPage *g_page = nullptr;

void BM_CaptureGrabCropScale(benchmark::State &state)
{
    QImage face(96, 96, QImage::Format_BGR888);
    for (auto _ : state) {
        std::optional<QImage> page = g_page->capture(1024, 1024);
        if (!page) {
            state.SkipWithError("no capture");
            break;
        }
        browser::drawPageSquare(face, *page, 256, 250, 256);
        benchmark::DoNotOptimize(face.bits());
    }
}
BENCHMARK(BM_CaptureGrabCropScale)->Unit(benchmark::kMillisecond);

void BM_CropScaleOnly(benchmark::State &state)
{
    const QImage page = *g_page->capture(1024, 1024);
    QImage face(96, 96, QImage::Format_BGR888);
    const int size = static_cast<int>(state.range(0));
    for (auto _ : state) {
        browser::drawPageSquare(face, page, 0, 0, size);
        benchmark::DoNotOptimize(face.bits());
    }
}
BENCHMARK(BM_CropScaleOnly)->Arg(96)->Arg(256)->Arg(1024)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.webenginecontext.info=false");
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    browser::EngineLoader::setEnginePath(BROWSER_ENGINE_FILE);
    QTemporaryDir dir;
    g_pageUrl = writeBlocksPage(dir);

    measureOnce();

    browser::MainThreadPage page;
    page.navigate(g_pageUrl.toStdString());
    if (!pumpUntil([&] { return page.status().documentComplete; }, 60000))
        return 1;
    pumpFor(1000);
    g_page = &page;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    g_page = nullptr;
    return 0;
}
