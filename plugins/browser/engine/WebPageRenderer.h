// WebPageRenderer: the off-screen page of the engine part: a web view that is never mapped on the
// screen (it must be shown to produce frames), holding a SilentPage of the process's private
// profile, and reporting its load state into a PageStatus.
//
// [main-thread] for everything. Created and deleted through the EngineApi.
#pragma once

#include "PageRenderer.h"

#include <QObject>
#include <QWebEngineHttpRequest>

#include <memory>

class QWebEngineLoadingInfo;
class QWebEngineProfile;
class QWebEngineView;

namespace browser {

class SilentPage;

class WebPageRenderer final : public QObject, public PageRenderer {
public:
    WebPageRenderer(std::shared_ptr<PageStatus> status, QWebEngineProfile *profile, int width, int height);
    ~WebPageRenderer() override;

    void navigate(const std::string &url, std::uint64_t serial) override;
    void resize(int width, int height) override;
    QImage grab() override;
    void setScrollTop(int top) override;

    static int liveCount();

private:
    void loadingChanged(const QWebEngineLoadingInfo &info);
    template <class Change>
    void report(Change &&change);

    std::shared_ptr<PageStatus> m_status;
    QWebEngineView *m_view = nullptr;
    SilentPage *m_page = nullptr;
    std::uint64_t m_serial = 0;
    bool m_loadingAddress = false; // the newest navigation is to an address, not the empty page
    QWebEngineHttpRequest m_request; // the newest address asked for
    std::uint64_t m_retrySerial = 0; // the navigation already asked for a second time
};

} // namespace browser
