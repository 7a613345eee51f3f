#include "WebPageRenderer.h"

#include "SilentPage.h"

#include <QWebEngineHttpRequest>
#include <QWebEngineLoadingInfo>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineView>

#include <QLoggingCategory>

#include <atomic>

namespace browser {

namespace {

Q_LOGGING_CATEGORY(lcPage, "pixkey.browser", QtWarningMsg)

std::atomic<int> g_live{0};

// net error code of a navigation that was replaced by another or turned into a download.
constexpr int kAborted = -3;

const QString kScrollQuery = QStringLiteral(
    "(function(){var e=document.scrollingElement||document.body;"
    "return e?[e.scrollHeight,e.scrollTop]:[0,0];})()");

} // namespace

WebPageRenderer::WebPageRenderer(std::shared_ptr<PageStatus> status, QWebEngineProfile *profile, int width,
                                 int height)
    : m_status(std::move(status))
{
    ++g_live;
    m_view = new QWebEngineView;
    m_page = new SilentPage(profile);
    m_view->setPage(m_page);
    // Never mapped, but shown: a view that is not shown renders no frames at all.
    m_view->setAttribute(Qt::WA_DontShowOnScreen);
    m_view->setAttribute(Qt::WA_ShowWithoutActivating);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    m_view->setFocusPolicy(Qt::NoFocus);
    m_view->resize(width, height);
    m_view->show();

    connect(m_page, &QWebEnginePage::loadProgress, this, [this](int progress) {
        report([progress](PageSnapshot &s) {
            s.progress = progress;
            s.progressMax = 100;
        });
    });
    connect(m_page, &QWebEnginePage::loadingChanged, this, &WebPageRenderer::loadingChanged);
    connect(m_page, &QWebEnginePage::urlChanged, this,
            [this](const QUrl &url) { m_status->setLocation(url.toString().toStdString()); });
    connect(m_page, &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus why, int exitCode) {
                if (why == QWebEnginePage::NormalTerminationStatus)
                    return;
                // A crashed or killed page shows the error screen until the next navigation.
                report([exitCode](PageSnapshot &s) {
                    s.errorStatus = exitCode != 0 ? exitCode : -1;
                    s.documentComplete = true;
                });
            });
}

WebPageRenderer::~WebPageRenderer()
{
    // The page goes before its view (it detaches itself), and both before the profile they use.
    delete m_page;
    delete m_view;
    --g_live;
}

int WebPageRenderer::liveCount()
{
    return g_live.load();
}

template <class Change>
void WebPageRenderer::report(Change &&change)
{
    m_status->update(m_serial, std::forward<Change>(change));
}

void WebPageRenderer::loadingChanged(const QWebEngineLoadingInfo &info)
{
    qCDebug(lcPage) << "navigation" << m_serial << "status" << info.status()
                    << "code" << info.errorCode() << "domain" << info.errorDomain() << info.url();
    // The empty page loaded on deactivation may still be finishing when the next address is asked
    // for. Its end is not the new page's, and committing it can cancel the new navigation, which
    // is then asked for once more.
    if (info.status() != QWebEngineLoadingInfo::LoadStartedStatus && m_loadingAddress &&
        info.url() == QUrl(QStringLiteral("about:blank"))) {
        if (m_retrySerial != m_serial) {
            m_retrySerial = m_serial;
            m_page->load(m_request);
        }
        return;
    }
    switch (info.status()) {
    case QWebEngineLoadingInfo::LoadStartedStatus:
        // A navigation of the page's own (a script, a refresh) starts from scratch as well.
        report([](PageSnapshot &s) {
            s.progress = 0;
            s.progressMax = 100;
            s.errorStatus = 0;
            s.documentComplete = false;
        });
        break;
    case QWebEngineLoadingInfo::LoadSucceededStatus:
        report([](PageSnapshot &s) { s.documentComplete = true; });
        break;
    case QWebEngineLoadingInfo::LoadFailedStatus: {
        const int code = info.errorCode();
        if (code == kAborted)
            break;
        report([code](PageSnapshot &s) {
            s.errorStatus = code != 0 ? code : -2;
            s.documentComplete = true;
        });
        break;
    }
    case QWebEngineLoadingInfo::LoadStoppedStatus:
        break;
    }
}

void WebPageRenderer::navigate(const std::string &url, std::uint64_t serial)
{
    qCDebug(lcPage) << "navigate" << serial << QString::fromStdString(url);
    m_serial = serial;
    m_loadingAddress = !url.empty();
    if (url.empty()) {
        m_page->setUrl(QUrl(QStringLiteral("about:blank")));
        return;
    }
    const QUrl address = QUrl::fromUserInput(QString::fromStdString(url));
    if (!address.isValid() || address.isEmpty()) {
        // Nothing to load: the error screen, and no report of the empty page replaces it.
        m_status->update(serial, [](PageSnapshot &s) {
            s.errorStatus = kInvalidAddressStatus;
            s.documentComplete = true;
        });
        m_page->setUrl(QUrl(QStringLiteral("about:blank")));
        return;
    }
    m_request = QWebEngineHttpRequest(address);
    m_request.setHeader("Cache-Control", "no-cache");
    m_request.setHeader("Pragma", "no-cache");
    m_page->load(m_request);
}

void WebPageRenderer::resize(int width, int height)
{
    if (m_view->size() != QSize(width, height))
        m_view->resize(width, height);
}

QImage WebPageRenderer::grab()
{
    const QSize size = m_view->size();
    QImage image = m_view->grab().toImage();
    if (!image.isNull() && image.size() != size)
        image = image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);

    std::weak_ptr<PageStatus> status = m_status;
    const std::uint64_t serial = m_serial;
    const std::uint64_t generation = m_status->scrollGeneration();
    m_page->runJavaScript(kScrollQuery, QWebEngineScript::ApplicationWorld,
                          [status, serial, generation](const QVariant &answer) {
                              const QVariantList values = answer.toList();
                              if (auto target = status.lock(); target && values.size() == 2)
                                  target->reportScroll(serial, generation, values[0].toInt(), values[1].toInt());
                          });
    return image;
}

void WebPageRenderer::setScrollTop(int top)
{
    m_page->runJavaScript(
        QStringLiteral("(function(){var e=document.scrollingElement||document.body;if(e)e.scrollTop=%1;})()").arg(top),
        QWebEngineScript::ApplicationWorld);
}

} // namespace browser
