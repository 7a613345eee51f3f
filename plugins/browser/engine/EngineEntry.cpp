// The engine part's one export: prepares the web engine for the process and makes pages.
#include "WebPageRenderer.h"

#include <QApplication>
#include <QQuickWindow>
#include <QThread>
#include <QWebEngineDownloadRequest>
#include <QWebEngineProfile>

#include <unistd.h>

namespace browser {

namespace {

// One private profile for every page of the process: off the record (nothing written to disk),
// no HTTP cache, no persistent cookies, downloads cancelled. It lives until the process ends,
// because pages may outlive any owner we could give it.
QWebEngineProfile *sharedProfile()
{
    static QWebEngineProfile *profile = [] {
        auto *created = new QWebEngineProfile;
        created->setHttpCacheType(QWebEngineProfile::NoCache);
        created->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
        created->setSpellCheckEnabled(false);
        QObject::connect(created, &QWebEngineProfile::downloadRequested, created,
                         [](QWebEngineDownloadRequest *download) { download->cancel(); });
        return created;
    }();
    return profile;
}

std::string start()
{
    auto *application = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!application)
        return "the web engine needs the program's widget application";
    if (QThread::currentThread() != application->thread())
        return "the web engine must be started on the program's main thread";
    // Loading the web engine into an application created without shared OpenGL contexts crashes.
    if (!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts))
        return "the program was started without shared OpenGL contexts, which the web engine needs";
    // The page's renderer refuses to start as root inside its sandbox.
    if (geteuid() == 0 && qEnvironmentVariableIsEmpty("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // Software drawing: no GPU needed, and grabbing a frame takes a millisecond or two.
    QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
    return {};
}

PageRenderer *createRenderer(std::shared_ptr<PageStatus> status, int width, int height)
{
    if (!qobject_cast<QApplication *>(QCoreApplication::instance()))
        return nullptr;
    return new WebPageRenderer(std::move(status), sharedProfile(), width, height);
}

int liveRenderers()
{
    return WebPageRenderer::liveCount();
}

const EngineApi kApi = {start, createRenderer, liveRenderers};

} // namespace

} // namespace browser

extern "C" __attribute__((visibility("default"))) const browser::EngineApi *pixkey_browser_engine()
{
    return &browser::kApi;
}
