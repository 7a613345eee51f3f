// The capture cycle against a scripted page: reloads on the period (also across the tick count's
// wrap), the error screen once per navigation, the progress bar while loading, captures only when
// due, a capture the main thread could not serve is retried, autoscroll steps and wraps, and the
// press actions.
#include "CaptureCycle.h"

#include <gtest/gtest.h>

#include <QColor>

#include <deque>
#include <string>
#include <vector>

using namespace browser;

namespace {

// A page whose state the test sets; it records what the cycle asked of it.
class ScriptedPage : public PageAccess {
public:
    void navigate(const std::string &url) override
    {
        navigations.push_back(url);
        PageSnapshot cleared;
        cleared.location = state.location;
        cleared.engineError = state.engineError;
        state = cleared;
    }
    void resize(int width, int height) override { sizes.emplace_back(width, height); }
    std::optional<QImage> capture(int width, int height) override
    {
        ++captures;
        if (!serveCaptures)
            return std::nullopt;
        QImage page(width, height, QImage::Format_RGB32);
        page.fill(pageColour);
        return page;
    }
    void setScrollTop(int top) override
    {
        state.scrollTop = top;
        scrolls.push_back(top);
    }
    PageSnapshot status() const override { return state; }

    void complete()
    {
        state.progress = 100;
        state.progressMax = 100;
        state.documentComplete = true;
    }

    PageSnapshot state;
    std::vector<std::string> navigations;
    std::vector<std::pair<int, int>> sizes;
    std::vector<int> scrolls;
    int captures = 0;
    bool serveCaptures = true;
    QColor pageColour = QColor(0, 128, 255);
};

struct CycleTest : ::testing::Test {
    ScriptedPage page;
    std::uint32_t clock = 1000;
    std::vector<std::string> opened;
    CaptureCycle cycle{page, [this] { return clock; }, [this](const std::string &a) {
                           opened.push_back(a);
                           return true;
                       }};
    QImage face{96, 96, QImage::Format_BGR888};
    BrowserSettings settings;

    CycleTest()
    {
        settings.url = "http://127.0.0.1:1/page.html";
        settings.target = "http://127.0.0.1:1/target.html";
    }
    QColor centre() const { return face.pixelColor(48, 48); }
};

} // namespace

TEST_F(CycleTest, ActivationNavigatesAndShowsProgressThenOneCapture)
{
    cycle.activate(settings);
    ASSERT_EQ(page.navigations, std::vector<std::string>{settings.url});
    ASSERT_EQ(page.sizes.size(), 1u);
    EXPECT_EQ(page.sizes[0], std::make_pair(1024, 1024));

    page.state.progress = 30;
    page.state.progressMax = 100;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.lastFace(), CaptureCycle::Face::Progress);
    EXPECT_EQ(face.pixelColor(17 + 6 * 2, 82), QColor(255, 255, 255));
    EXPECT_EQ(face.pixelColor(17 + 6 * 3, 82), QColor(0x5A, 0x5A, 0x5A));
    EXPECT_EQ(page.captures, 0);

    page.complete();
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.lastFace(), CaptureCycle::Face::Page);
    EXPECT_EQ(centre(), QColor(0, 128, 255));
    // Late painting after the load is watched for: a capture that changes nothing draws nothing,
    // one that does is shown.
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(page.captures, 2);
    page.pageColour = QColor(0, 200, 0);
    clock += CaptureCycle::kSettleMs - 1;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(centre(), QColor(0, 200, 0));
    // After that, nothing is due: no capture, no face.
    clock += 1;
    page.pageColour = Qt::red;
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(page.captures, 3);
}

TEST_F(CycleTest, AnimationCapturesAtEveryPaint)
{
    settings.animation = 1;
    cycle.activate(settings);
    page.complete();
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(page.captures, 4);
    EXPECT_TRUE(page.scrolls.empty());
}

TEST_F(CycleTest, ReloadsAfterThePeriodAlsoAcrossTheTickWrap)
{
    clock = 0xFFFFFFFFu - 1000; // the tick count wraps during the period
    cycle.activate(settings);
    page.complete();
    EXPECT_EQ(cycle.paint(face), 1);

    clock += 420 * 1000; // exactly the period: not yet
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(page.navigations.size(), 1u);

    clock += 1;
    page.pageColour = Qt::red;
    EXPECT_EQ(cycle.paint(face), 1);
    ASSERT_EQ(page.navigations.size(), 2u);
    EXPECT_EQ(page.navigations[1], settings.url);
    EXPECT_EQ(cycle.lastFace(), CaptureCycle::Face::Progress);
    EXPECT_EQ(face.pixelColor(17, 82), QColor(0x5A, 0x5A, 0x5A));

    page.complete();
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(centre(), QColor(Qt::red));
}

TEST_F(CycleTest, ErrorScreenOncePerNavigation)
{
    cycle.activate(settings);
    page.state.errorStatus = 404;
    page.state.documentComplete = true;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.lastFace(), CaptureCycle::Face::Error);
    EXPECT_EQ(face.pixelColor(95, 95), QColor(77, 0, 0));
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(page.captures, 0);

    // A press after the failed load reloads it; the next failure shows again.
    cycle.keyDown();
    EXPECT_EQ(page.navigations.size(), 2u);
    page.state.errorStatus = 500;
    page.state.documentComplete = true;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.paint(face), 0);
}

TEST_F(CycleTest, CaptureTheMainThreadDidNotServeIsTriedAgain)
{
    cycle.activate(settings);
    page.complete();
    page.serveCaptures = false;
    EXPECT_EQ(cycle.paint(face), 0);
    EXPECT_EQ(cycle.paint(face), 0);
    page.serveCaptures = true;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(centre(), QColor(0, 128, 255));
    EXPECT_EQ(page.captures, 3);
}

TEST_F(CycleTest, AutoscrollStepsAWidthOverSevenAndWrapsToTheTop)
{
    settings.autoscroll = 1;
    cycle.activate(settings);
    page.complete();
    page.state.scrollHeight = 2000;
    std::vector<int> tops;
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(cycle.paint(face), 1);
        tops.push_back(page.state.scrollTop);
    }
    // 1024 + 876 + 146 passes 2000: back to the top.
    EXPECT_EQ(tops, (std::vector<int>{146, 292, 438, 584, 730, 876, 0, 146}));

    // A page no taller than the view stays at the top.
    page.state.scrollHeight = 1024;
    page.state.scrollTop = 0;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(page.state.scrollTop, 0);
}

TEST_F(CycleTest, PressActions)
{
    // Action 0: only reloads.
    settings.action = 0;
    cycle.activate(settings);
    page.complete();
    page.state.location = "http://127.0.0.1:1/shown.html";
    cycle.keyDown();
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(page.navigations.size(), 2u);

    // Action 1: opens the page shown, then reloads.
    settings.action = 1;
    cycle.update(settings);
    page.complete();
    cycle.keyDown();
    EXPECT_EQ(opened, std::vector<std::string>{"http://127.0.0.1:1/shown.html"});
    EXPECT_EQ(page.navigations.size(), 3u);

    // ... but not an address the page led to that is not a web address.
    page.complete();
    page.state.location = "file:///etc/passwd";
    cycle.keyDown();
    EXPECT_EQ(opened.size(), 1u);

    // Action 2: opens "Target"; an empty "Target" only reloads.
    settings.action = 2;
    cycle.update(settings);
    page.complete();
    cycle.keyDown();
    EXPECT_EQ(opened.back(), settings.target);
    settings.target.clear();
    cycle.update(settings);
    page.complete();
    const std::size_t before = page.navigations.size();
    cycle.keyDown();
    EXPECT_EQ(opened.size(), 2u);
    EXPECT_EQ(page.navigations.size(), before + 1);

    // A press while the page loads does not restart the navigation.
    cycle.keyDown();
    EXPECT_EQ(page.navigations.size(), before + 1);
}

TEST_F(CycleTest, SettingsAppliedWhileInactiveAreKeptWithoutNavigating)
{
    BrowserSettings changed = settings;
    changed.url = "http://127.0.0.1:1/other.html";
    cycle.apply(changed, true);
    EXPECT_TRUE(page.navigations.empty());
    EXPECT_EQ(cycle.settings().url, changed.url);

    cycle.activate(cycle.settings());
    EXPECT_EQ(page.navigations, std::vector<std::string>{changed.url});
    cycle.deactivate();
    EXPECT_EQ(page.navigations.back(), "");
    EXPECT_FALSE(cycle.active());
}

TEST_F(CycleTest, ResizesOnlyWhenTheSizeChangesAndWithinBounds)
{
    cycle.activate(settings);
    BrowserSettings bigger = settings;
    bigger.width = 100000;
    bigger.height = 50;
    cycle.apply(bigger, false);
    cycle.apply(bigger, false);
    ASSERT_EQ(page.sizes.size(), 2u);
    EXPECT_EQ(page.sizes[1], std::make_pair(kMaxPageSide, kMinPageSide));
    EXPECT_EQ(page.navigations.size(), 1u);
}

TEST_F(CycleTest, EngineThatCannotRunShowsItOnce)
{
    page.state.engineError = "no engine";
    cycle.activate(settings);
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(face.pixelColor(95, 95), QColor(77, 0, 0));
    EXPECT_EQ(cycle.paint(face), 0);
}

TEST_F(CycleTest, PeriodBelowOneSecondOrHugeNeitherSpinsNorOverflows)
{
    settings.reloadPeriod = 0; // would reload at every paint and never show the page
    cycle.activate(settings);
    page.complete();
    clock += 500;
    EXPECT_EQ(cycle.paint(face), 1);
    EXPECT_EQ(cycle.lastFace(), CaptureCycle::Face::Page);
    clock += 501;
    cycle.paint(face);
    EXPECT_EQ(page.navigations.size(), 2u) << "reloaded after one second";

    settings.reloadPeriod = 2147483647; // x 1000 does not fit 32 bits
    cycle.update(settings);
    page.complete();
    for (int i = 0; i < 4; ++i) {
        clock += 0x3FFFFFFF;
        cycle.paint(face);
    }
    EXPECT_EQ(page.navigations.size(), 2u);
}
