// main() of the tests that run the real web engine: a private X display (the off-screen platform
// when Xvfb is missing), the widget application made as the host makes it, the page server, and
// one start of the engine for the whole program. When the engine cannot start, every test skips
// and says why.
#include "EngineSupport.h"

#include "EngineLoader.h"
#include "MainThreadPage.h"

#include <pixkey/test/XServer.h>

#include <QApplication>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace browsertest {

namespace {
std::string g_skipReason;
pixkey::test::LocalHttpServer *g_pages = nullptr;
} // namespace

const std::string &engineSkipReason()
{
    return g_skipReason;
}

pixkey::test::LocalHttpServer &pages()
{
    return *g_pages;
}

// The blocks page: 1024x2000 pixels of 256x250 blocks in blockColour.
std::string blocksPage(int height = 2000)
{
    std::string html = "<html><head><style>body{margin:0}div.b{position:absolute;width:256px;height:250px}"
                       "</style></head><body><div style='position:relative;width:1024px;height:" +
                       std::to_string(height) + "px'>";
    for (int row = 0; row < 8; ++row)
        for (int column = 0; column < 4; ++column) {
            const QColor c = blockColour(column, row);
            html += "<div class='b' style='left:" + std::to_string(256 * column) + "px;top:" + std::to_string(250 * row) +
                    "px;background:rgb(" + std::to_string(c.red()) + "," + std::to_string(c.green()) + "," +
                    std::to_string(c.blue()) + ")'></div>";
        }
    return html + "</div></body></html>";
}

} // namespace browsertest

int main(int argc, char **argv)
{
    using namespace browsertest;
    ::testing::InitGoogleTest(&argc, argv);
    setenv("QT_LOGGING_RULES", "qt.webenginecontext.info=false;qt.webenginecontext.debug=false", 0);

    std::unique_ptr<pixkey::test::XServer> display;
    if (!std::getenv("BROWSER_TEST_OFFSCREEN"))
        display = std::make_unique<pixkey::test::XServer>(pixkey::test::XServer::Options{.screen = "1280x1024x24"});
    if (display && display->running()) {
        display->exportDisplay();
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    } else {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }

    // As the host programs do: contexts shared from the start.
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication application(argc, argv);
    browser::EngineLoader::setEnginePath(BROWSER_ENGINE_FILE);

    pixkey::test::LocalHttpServer server;
    g_pages = &server;
    server.answer("/blocks.html", pixkey::test::HttpAnswer::text(200, blocksPage(), "text/html"));
    server.answer("/tall.html", pixkey::test::HttpAnswer::text(200, blocksPage(50000), "text/html"));
    server.answer("/probe.html", pixkey::test::HttpAnswer::text(200, "<html><body>ready</body></html>", "text/html"));

    // One start of the engine: a page that loads within the deadline.
    {
        browser::MainThreadPage probe;
        probe.navigate(server.url("/probe.html"));
        const bool loaded = waitUntil(
            [&] {
                const browser::PageSnapshot s = probe.status();
                return s.documentComplete || !s.engineError.empty();
            },
            60s);
        const browser::PageSnapshot s = probe.status();
        if (!s.engineError.empty())
            g_skipReason = s.engineError;
        else if (!loaded)
            g_skipReason = "a local page did not load within 60 s";
        else if (s.errorStatus != 0)
            g_skipReason = "a local page failed with status " + std::to_string(s.errorStatus);
    }
    if (!g_skipReason.empty())
        std::fprintf(stderr, "browser_engine_test: web engine unavailable: %s\n", g_skipReason.c_str());
    spin(100ms);
    const int result = RUN_ALL_TESTS();
    g_pages = nullptr;
    return result;
}
