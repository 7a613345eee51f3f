#include "MainThreadPage.h"

#include "BrowserSettings.h"
#include "EngineLoader.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace browser {

// State shared by the owner and the hand-offs it queued. `renderer`, `width`, `height` and
// `disposed` belong to the main thread.
struct MainThreadPage::Core {
    std::shared_ptr<PageStatus> status = std::make_shared<PageStatus>();
    std::unique_ptr<PageRenderer> renderer;
    bool failed = false;
    bool disposed = false;
    int width = 1024;
    int height = 1024;
    std::atomic<int> abandoned{0};

    ~Core()
    {
        // Web engine objects are deleted only on the main thread, and not while the application
        // object is going away; otherwise they are left to the end of the process.
        const QCoreApplication *application = QCoreApplication::instance();
        if (renderer && (!application || QThread::currentThread() != application->thread() ||
                         QCoreApplication::closingDown()))
            (void)renderer.release();
    }

    // [main-thread] The renderer, made on first use; null when the engine cannot run.
    PageRenderer *page()
    {
        if (renderer || failed || disposed)
            return renderer.get();
        std::string error;
        const EngineApi *api = EngineLoader::engine(&error);
        if (api)
            renderer.reset(api->createRenderer(status, width, height));
        if (!renderer) {
            failed = true;
            status->setEngineError(error.empty() ? "the web engine cannot run here" : error);
        }
        return renderer.get();
    }
};

namespace {

bool onMainThread()
{
    const QCoreApplication *application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

// Runs `work` on the main thread: at once when called there, else queued. False when there is no
// application object to queue it on.
bool onMain(std::function<void()> work)
{
    QCoreApplication *application = QCoreApplication::instance();
    if (!application)
        return false;
    if (QThread::currentThread() == application->thread()) {
        work();
        return true;
    }
    return QMetaObject::invokeMethod(application, std::move(work), Qt::QueuedConnection);
}

struct CaptureRequest {
    std::mutex lock;
    std::condition_variable answered;
    bool done = false;      // guarded by lock
    bool abandoned = false; // guarded by lock
    QImage image;           // guarded by lock
};

} // namespace

MainThreadPage::MainThreadPage(std::chrono::milliseconds captureWait)
    : m_core(std::make_shared<Core>()), m_captureWait(captureWait)
{
    EngineLoader::pinPluginLibrary();
    if (!QCoreApplication::instance())
        m_core->status->setEngineError("the web engine needs the program's application object");
}

MainThreadPage::~MainThreadPage()
{
    // The renderer goes on the main thread. Without an event loop to run this (the program is
    // ending) it is left alone: the web engine is not to be torn down from elsewhere.
    onMain([core = m_core] {
        core->disposed = true;
        core->renderer.reset();
    });
}

void MainThreadPage::navigate(const std::string &url)
{
    const std::uint64_t serial = m_core->status->beginNavigation();
    onMain([core = m_core, url, serial] {
        if (PageRenderer *page = core->page())
            page->navigate(url, serial);
    });
}

void MainThreadPage::resize(int width, int height)
{
    width = pageSide(width);
    height = pageSide(height);
    onMain([core = m_core, width, height] {
        core->width = width;
        core->height = height;
        if (core->renderer)
            core->renderer->resize(width, height);
    });
}

std::optional<QImage> MainThreadPage::capture(int width, int height)
{
    width = pageSide(width);
    height = pageSide(height);
    auto grab = [core = m_core, width, height]() -> QImage {
        core->width = width;
        core->height = height;
        PageRenderer *page = core->page();
        if (!page)
            return {};
        page->resize(width, height);
        return page->grab();
    };
    if (onMainThread()) {
        QImage image = grab();
        if (image.isNull())
            return std::nullopt;
        return image;
    }

    auto request = std::make_shared<CaptureRequest>();
    const bool queued = onMain([request, grab] {
        {
            std::lock_guard lock(request->lock);
            if (request->abandoned)
                return;
        }
        QImage image = grab();
        std::lock_guard lock(request->lock);
        request->image = std::move(image);
        request->done = true;
        request->answered.notify_all();
    });
    if (!queued)
        return std::nullopt;
    std::unique_lock lock(request->lock);
    if (!request->answered.wait_for(lock, m_captureWait, [&] { return request->done; })) {
        request->abandoned = true;
        ++m_core->abandoned;
        return std::nullopt;
    }
    if (request->image.isNull())
        return std::nullopt;
    return std::move(request->image);
}

void MainThreadPage::setScrollTop(int top)
{
    m_core->status->setScrollTop(top);
    onMain([core = m_core, top] {
        if (core->renderer)
            core->renderer->setScrollTop(top);
    });
}

PageSnapshot MainThreadPage::status() const
{
    return m_core->status->snapshot();
}

int MainThreadPage::abandonedCaptures() const
{
    return m_core->abandoned.load();
}

} // namespace browser
