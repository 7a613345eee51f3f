// The Browser key against real pages from the local server, rendered by the real web engine: the
// chosen square arrives on the key, the progress bar while a page loads, the error screen once per
// failed navigation, autoscroll, reloads on an injected clock, the press actions with xdg-open
// replaced by a recorder, and pages that try to reach the desktop.
#include "EngineSupport.h"

#include "CaptureCycle.h"
#include "EngineLoader.h"
#include "MainThreadPage.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>

using namespace browsertest;
using pixkey::test::HttpAnswer;

namespace {

bool showsColour(const QImage &face, QColor colour)
{
    return near(face.pixelColor(48, 48), colour) && near(face.pixelColor(5, 5), colour) &&
           near(face.pixelColor(90, 90), colour);
}

// xdg-open replaced by a script that writes its argument to a file.
class OpenRecorder {
public:
    OpenRecorder()
    {
        const QString script = m_dir.filePath(QStringLiteral("xdg-open"));
        QFile file(script);
        file.open(QIODevice::WriteOnly);
        file.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened\"\n");
        file.close();
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        m_oldPath = std::getenv("PATH") ? std::getenv("PATH") : "";
        setenv("PATH", (m_dir.path().toStdString() + ":" + m_oldPath).c_str(), 1);
    }
    ~OpenRecorder() { setenv("PATH", m_oldPath.c_str(), 1); }
    QStringList opened() const
    {
        QFile file(m_dir.filePath(QStringLiteral("opened")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    std::string m_oldPath;
};

} // namespace

TEST(BrowserKey, ChosenSquareOfThePageArrivesOnTheKey)
{
    SKIP_WITHOUT_ENGINE();
    PluginObject key;
    ASSERT_NE(key.object(), nullptr);
    key.set("URL", pages().url("/blocks.html"));
    key.set("TargetLeft", "256");
    key.set("TargetTop", "250");
    key.set("TargetSize", "256");
    key.event(PKX_EVENT_ACTIVATE);
    EXPECT_TRUE(key.paintUntil([](const QImage &f) { return showsColour(f, blockColour(1, 1)); }))
        << "centre " << key.face().pixelColor(48, 48).name().toStdString();
    // Nothing changes: nothing is drawn.
    EXPECT_EQ(key.paint(), 0);

    // A square across four blocks, taken from the dialog's way of applying settings.
    key.set("TargetLeft", "640");
    key.set("TargetTop", "625");
    key.keyDown(); // reloads, and captures the new square
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));
    const QImage face = key.face();
    EXPECT_TRUE(near(face.pixelColor(10, 10), blockColour(2, 2)));
    EXPECT_TRUE(near(face.pixelColor(85, 10), blockColour(3, 2)));
    EXPECT_TRUE(near(face.pixelColor(10, 85), blockColour(2, 3)));
    EXPECT_TRUE(near(face.pixelColor(85, 85), blockColour(3, 3)));
}

TEST(BrowserKey, ProgressBarWhileThePageLoadsAndAgainAfterAPress)
{
    SKIP_WITHOUT_ENGINE();
    HttpAnswer held = HttpAnswer::text(200, "<html><body style='margin:0;background:rgb(0,200,0)'></body></html>", "text/html");
    held.held = true;
    pages().answer("/slow.html", held);
    PluginObject key;
    key.set("URL", pages().url("/slow.html"));
    key.event(PKX_EVENT_ACTIVATE);
    ASSERT_TRUE(waitUntil([] { return pages().requestCount("/slow.html") == 1; }));
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(key.paint(), 1);
        EXPECT_TRUE(showsProgress(key.face()));
    }
    pages().release();
    EXPECT_TRUE(key.paintUntil([](const QImage &f) { return showsColour(f, QColor(0, 200, 0)); }));

    key.keyDown();
    EXPECT_EQ(key.paint(), 1);
    EXPECT_TRUE(showsProgress(key.face())) << "a press reloads the page";
    EXPECT_TRUE(key.paintUntil([](const QImage &f) { return showsColour(f, QColor(0, 200, 0)); }));
    EXPECT_GE(pages().requestCount("/slow.html"), 2);
}

TEST(BrowserKey, FailedPageShowsItsStatusOncePerNavigation)
{
    SKIP_WITHOUT_ENGINE();
    pages().answer("/missing.html", HttpAnswer::text(404, "<html><body>gone</body></html>", "text/html"));
    PluginObject key;
    key.set("URL", pages().url("/missing.html"));
    key.event(PKX_EVENT_ACTIVATE);
    ASSERT_TRUE(key.paintUntil(showsError));
    const QImage first = key.face();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(key.paint(), 0) << "the error screen is drawn once";
        spin(50ms);
    }
    key.keyDown();
    ASSERT_TRUE(key.paintUntil(showsError)) << "a new navigation shows it again";
    EXPECT_EQ(key.face(), first);

    // The same screen carries another status for another failure.
    pages().answer("/broken.html", HttpAnswer::text(500, "<html><body>oops</body></html>", "text/html"));
    key.set("URL", pages().url("/broken.html"));
    key.keyDown();
    ASSERT_TRUE(key.paintUntil(showsError));
    EXPECT_NE(key.face(), first);
}

TEST(BrowserKey, AddressThatIsNotAUrlAndServerThatIsNotThere)
{
    SKIP_WITHOUT_ENGINE();
    PluginObject key;
    key.set("URL", "http://[::1");
    key.event(PKX_EVENT_ACTIVATE);
    EXPECT_TRUE(key.paintUntil(showsError));

    PluginObject refused;
    refused.set("URL", "http://127.0.0.1:" + std::to_string(pixkey::test::LocalHttpServer::unusedPort()) + "/");
    refused.event(PKX_EVENT_ACTIVATE);
    EXPECT_TRUE(refused.paintUntil(showsError));
}

TEST(BrowserKey, PressActionsOpenThePageShownOrTheTarget)
{
    SKIP_WITHOUT_ENGINE();
    OpenRecorder recorder;
    PluginObject key;
    const std::string page = pages().url("/blocks.html");
    key.set("URL", page);
    key.set("Target", pages().url("/target.html"));
    key.set("Action", "0");
    key.event(PKX_EVENT_ACTIVATE);
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));
    const int loads = pages().requestCount("/blocks.html");

    key.keyDown(); // 0: reload only
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));
    key.set("Action", "1");
    key.keyDown(); // 1: the page shown
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));
    key.set("Action", "2");
    key.keyDown(); // 2: the target
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));
    key.set("Target", "");
    key.keyDown(); // 2 with no target: reload only
    ASSERT_TRUE(key.paintUntil([](const QImage &f) { return !showsProgress(f); }));

    EXPECT_TRUE(waitUntil([&] { return recorder.opened().size() >= 2; }, 10s));
    spin(300ms);
    EXPECT_EQ(recorder.opened(), (QStringList{QString::fromStdString(page), QString::fromStdString(pages().url("/target.html"))}));
    EXPECT_EQ(pages().requestCount("/blocks.html"), loads + 4) << "every press reloads";
}

TEST(BrowserKey, PagesThatReachForTheDesktopGetNoWindow)
{
    SKIP_WITHOUT_ENGINE();
    pages().answer("/hostile.html",
                   HttpAnswer::text(200,
                                    "<html><body style='margin:0;background:rgb(200,0,200)'><input type=file id=f>"
                                    "<script>alert('a');confirm('c');prompt('p');window.open('/blocks.html');"
                                    "window.print();document.getElementById('f').click();"
                                    "if(navigator.mediaDevices)navigator.mediaDevices.getUserMedia({video:true}).catch(function(){});"
                                    "navigator.geolocation.getCurrentPosition(function(){},function(){});"
                                    "window.onbeforeunload=function(){return 'stay';};</script></body></html>",
                                    "text/html"));
    HttpAnswer password = HttpAnswer::text(401, "<html><body>locked</body></html>", "text/html");
    password.header("WWW-Authenticate", "Basic realm=\"keys\"");
    pages().answer("/secret.html", password);

    PluginObject key;
    key.set("URL", pages().url("/hostile.html"));
    key.event(PKX_EVENT_ACTIVATE);
    // (The file field sits in the top-left corner.)
    const auto showsPage = [](const QImage &f) {
        return near(f.pixelColor(48, 48), QColor(200, 0, 200)) && near(f.pixelColor(90, 90), QColor(200, 0, 200));
    };
    EXPECT_TRUE(key.paintUntil(showsPage));
    key.keyDown(); // leaving the page asks "stay?" of nobody
    EXPECT_TRUE(key.paintUntil(showsPage));

    PluginObject locked;
    locked.set("URL", pages().url("/secret.html"));
    locked.event(PKX_EVENT_ACTIVATE);
    EXPECT_TRUE(locked.paintUntil(showsError)) << "a password request is cancelled: 401";

    spin(500ms);
    for (QWidget *widget : QApplication::topLevelWidgets())
        EXPECT_FALSE(widget->isVisible() && !widget->testAttribute(Qt::WA_DontShowOnScreen))
            << "a window reached the desktop: " << widget->metaObject()->className();
}

TEST(BrowserPage, AutoscrollStepsAndWrapsToTheTopOnATallPage)
{
    SKIP_WITHOUT_ENGINE();
    // The dialog's arrangement: page and cycle on the main thread.
    browser::MainThreadPage page;
    browser::CaptureCycle cycle(page);
    browser::BrowserSettings settings;
    settings.url = pages().url("/blocks.html");
    settings.autoscroll = 1;
    QImage face(96, 96, QImage::Format_BGR888);
    cycle.activate(settings);
    ASSERT_TRUE(waitUntil([&] { return cycle.paint(face) && cycle.lastFace() == browser::CaptureCycle::Face::Page; }));
    ASSERT_TRUE(waitUntil([&] { return page.status().scrollHeight == 2000; })) << page.status().scrollHeight;

    std::vector<int> tops;
    for (int i = 0; i < 8; ++i) {
        spin(150ms);
        ASSERT_EQ(cycle.paint(face), 1);
        tops.push_back(page.status().scrollTop);
    }
    // The first capture scrolled to 0 while the height was unknown; the steps follow from there.
    EXPECT_EQ(tops, (std::vector<int>{146, 292, 438, 584, 730, 876, 0, 146}));

    // The page really scrolls: at 876 the key's top edge lies in the fourth row of blocks.
    settings.autoscroll = 0;
    cycle.update(settings);
    page.setScrollTop(876);
    EXPECT_TRUE(waitUntil([&] {
        cycle.requestRedraw();
        cycle.paint(face);
        return near(face.pixelColor(48, 48), blockColour(0, 3));
    }, 15s)) << face.pixelColor(48, 48).name().toStdString();
}

TEST(BrowserPage, TallPageScrollsWithoutAHugeCapture)
{
    SKIP_WITHOUT_ENGINE();
    browser::MainThreadPage page;
    browser::CaptureCycle cycle(page);
    browser::BrowserSettings settings;
    settings.url = pages().url("/tall.html");
    settings.autoscroll = 1;
    QImage face(96, 96, QImage::Format_BGR888);
    cycle.activate(settings);
    ASSERT_TRUE(waitUntil([&] { cycle.paint(face); return page.status().scrollHeight == 50000; }));
    EXPECT_EQ(cycle.lastPage().size(), QSize(1024, 1024));
}

TEST(BrowserPage, ReloadsWhenThePeriodIsOverOnAnInjectedClock)
{
    SKIP_WITHOUT_ENGINE();
    pages().answer("/clock.html", HttpAnswer::text(200, "<html><body>tick</body></html>", "text/html"));
    std::uint32_t now = 5000;
    browser::MainThreadPage page;
    browser::CaptureCycle cycle(page, [&] { return now; });
    browser::BrowserSettings settings;
    settings.url = pages().url("/clock.html");
    settings.reloadPeriod = 60;
    QImage face(96, 96, QImage::Format_BGR888);
    cycle.activate(settings);
    ASSERT_TRUE(waitUntil([&] { return cycle.paint(face) && cycle.lastFace() == browser::CaptureCycle::Face::Page; }));
    ASSERT_EQ(pages().requestCount("/clock.html"), 1);

    now += 60 * 1000;
    EXPECT_EQ(cycle.paint(face), 0);
    spin(200ms);
    EXPECT_EQ(pages().requestCount("/clock.html"), 1);

    now += 1;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.lastFace(), browser::CaptureCycle::Face::Progress);
    ASSERT_TRUE(waitUntil([] { return pages().requestCount("/clock.html") == 2; }));
    // Reloads bypass every cache.
    std::string cacheControl;
    for (const auto &request : pages().requests())
        if (request.path() == "/clock.html")
            cacheControl = request.header("Cache-Control");
    EXPECT_EQ(cacheControl, "no-cache");
    EXPECT_TRUE(waitUntil([&] { return cycle.paint(face) && cycle.lastFace() == browser::CaptureCycle::Face::Page; }));
}
