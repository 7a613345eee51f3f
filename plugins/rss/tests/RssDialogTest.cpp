// The "RSS" settings dialog offscreen: controls started from the settings, the interval box while
// the mouse is down, the result of OK, the live preview fed by the local HTTP server, closing
// while the preview's download hangs, and a screenshot.
#include "RssDialog.hpp"
#include "RssTestSupport.hpp"
#include "UpdateInterval.hpp"

#include <pixkey/dialogs/CustomSlider.h>
#include <pixkey/test/LocalHttpServer.h>

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMouseEvent>
#include <QRadioButton>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace pixkey::rss;
using pixkey::CustomSlider;
using pixkey::test::HttpAnswer;
using pixkey::test::LocalHttpServer;
using namespace std::chrono_literals;

namespace {

FeedLimits quickLimits()
{
    FeedLimits limits;
    limits.connectTimeout = 2000ms;
    limits.totalTimeout = 3000ms;
    return limits;
}

RssSettings settingsFor(const std::string &url)
{
    RssSettings s;
    s.url = url;
    s.refreshPeriod = 3600;
    s.item = 1;
    s.showType = 2;
    s.slideShow = 0;
    s.rssUrl = "http://kept.example/rss.xml";
    return s;
}

// Runs the event loop until `done` or the deadline.
template <class Done>
bool processUntil(Done done, std::chrono::milliseconds deadline = 15s)
{
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

void mouse(QWidget *widget, QEvent::Type type, QPoint at)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

bool previewHasRed(const QImage &face)
{
    for (int y = 0; y < face.height(); ++y)
        for (int x = 0; x < face.width(); ++x) {
            const QColor c = face.pixelColor(x, y);
            if (c.red() > 200 && c.green() < 60 && c.blue() < 60)
                return true;
        }
    return false;
}

} // namespace

TEST(RssDialogTest, ControlsStartFromTheSettingsAndOkReadsThem)
{
    const RssSettings start = settingsFor("http://127.0.0.1:1/feed.xml");
    RssDialog dialog(nullptr, start, quickLimits());
    EXPECT_EQ(dialog.windowTitle(), QStringLiteral("RSS"));
    EXPECT_EQ(dialog.urlEdit()->text(), QStringLiteral("http://127.0.0.1:1/feed.xml"));
    EXPECT_TRUE(dialog.itemButton(1)->isChecked());
    EXPECT_EQ(dialog.showSlider()->value(), 2);
    EXPECT_EQ(dialog.updateSlider()->value(), 61);
    EXPECT_EQ(dialog.updateSlider()->tickCount(), 6);
    EXPECT_EQ(dialog.showSlider()->tickCount(), 5);
    EXPECT_EQ(dialog.chosenSettings(), start); // untouched: nothing changes, "RssURL" carried through

    dialog.itemButton(2)->click();
    dialog.showSlider()->setValue(4);
    dialog.updateSlider()->setValue(21);
    dialog.urlEdit()->setText(QStringLiteral("http://other.example/"));
    RssSettings chosen = dialog.chosenSettings();
    EXPECT_EQ(chosen.item, 2);
    EXPECT_EQ(chosen.slideShow, 0);
    EXPECT_EQ(chosen.showType, 4);
    EXPECT_EQ(chosen.refreshPeriod, 600);
    EXPECT_EQ(chosen.url, "http://other.example/");
    EXPECT_EQ(chosen.rssUrl, start.rssUrl);

    // The slide show leaves the stored item as it was.
    dialog.itemButton(3)->click();
    chosen = dialog.chosenSettings();
    EXPECT_EQ(chosen.slideShow, 1);
    EXPECT_EQ(chosen.item, start.item);

    RssSettings slides = start;
    slides.slideShow = 1;
    slides.refreshPeriod = 100; // between two positions: kept as it is unless the slider moves
    RssDialog second(nullptr, slides, quickLimits());
    EXPECT_TRUE(second.itemButton(3)->isChecked());
    EXPECT_EQ(second.updateSlider()->value(), positionForSeconds(100));
    EXPECT_EQ(second.chosenSettings().refreshPeriod, 100);
}

TEST(RssDialogTest, IntervalBoxShowsWhileTheMouseIsDown)
{
    RssDialog dialog(nullptr, settingsFor("http://127.0.0.1:1/feed.xml"), quickLimits());
    dialog.show();
    CustomSlider *slider = dialog.updateSlider();
    QLineEdit *box = dialog.intervalBox();
    EXPECT_FALSE(box->isVisible());

    const QPoint thumb(slider->positionOf(slider->value()), 10);
    mouse(slider, QEvent::MouseButtonPress, thumb);
    EXPECT_TRUE(box->isVisible());
    EXPECT_EQ(box->text(), QStringLiteral("1:00"));
    mouse(slider, QEvent::MouseMove, QPoint(slider->positionOf(20), 10));
    EXPECT_EQ(slider->value(), 20);
    EXPECT_EQ(box->text(), QStringLiteral("9 min"));
    mouse(slider, QEvent::MouseButtonRelease, QPoint(slider->positionOf(20), 10));
    EXPECT_FALSE(box->isVisible());
    EXPECT_EQ(dialog.chosenSettings().refreshPeriod, 540);

    slider->setValue(100);
    EXPECT_EQ(box->text(), QStringLiteral("1 day"));
}

TEST(RssDialogTest, PreviewShowsTheFeedAndFollowsTheControls)
{
    LocalHttpServer server;
    server.answer("/a.png", 200, rsstest::png(96, 48, Qt::red), "image/png");
    server.answer("/feed.xml", 200,
                  rsstest::rss2({{"Words first", "", ""}, {"Picture second", "", server.url("/a.png")}}),
                  "application/rss+xml");
    RssSettings start = settingsFor(server.url("/feed.xml"));
    start.item = 0;
    start.rssUrl.clear();
    RssDialog dialog(nullptr, start, quickLimits());
    dialog.show();
    ASSERT_TRUE(processUntil([&] { return dialog.previewRunner()->frames() > 0 && !dialog.previewFace().isNull(); }));
    EXPECT_FALSE(previewHasRed(dialog.previewFace()));

    dialog.itemButton(1)->click(); // the second item, with its picture
    ASSERT_TRUE(processUntil([&] { return previewHasRed(dialog.previewFace()); }));
    dialog.showSlider()->setValue(0); // text only
    ASSERT_TRUE(processUntil([&] { return !previewHasRed(dialog.previewFace()); }));
    EXPECT_EQ(server.requestCount("/feed.xml"), 1);
}

TEST(RssDialogTest, ClosingDoesNotWaitForAHangingPreview)
{
    LocalHttpServer server;
    server.answer("/hang.xml", HttpAnswer::hanging());
    RssSettings start = settingsFor(server.url("/hang.xml"));
    start.rssUrl.clear();
    auto dialog = std::make_unique<RssDialog>(nullptr, start, quickLimits());
    dialog->show();
    ASSERT_TRUE(server.waitForRequests("/hang.xml", 1));
    const auto started = std::chrono::steady_clock::now();
    dialog->reject();
    dialog.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    server.stop(); // the preview's download ends now; nothing may reach the closed dialog
    processUntil([] { return false; }, 300ms);
}

TEST(RssDialogScreenshots, Dialog)
{
    LocalHttpServer server;
    QImage picture(160, 90, QImage::Format_RGB32);
    for (int y = 0; y < 90; ++y)
        for (int x = 0; x < 160; ++x)
            picture.setPixelColor(x, y, y < 60 ? QColor(90 + y, 140 + y, 230) : QColor(40, 110 + x / 4, 50));
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    picture.save(&buffer, "PNG");
    server.answer("/view.png", 200, bytes.toStdString(), "image/png");
    server.answer("/feed.xml", 200,
                  rsstest::rss2({{"Spring comes early to the valley", "http://site.example/", server.url("/view.png")}}),
                  "application/rss+xml");
    RssSettings start = settingsFor(server.url("/feed.xml"));
    start.item = 0;
    start.rssUrl.clear();
    RssDialog dialog(nullptr, start, quickLimits());
    dialog.show();
    ASSERT_TRUE(processUntil([&] { return dialog.previewRunner()->frames() > 0 && dialog.previewFace().pixelColor(48, 90) != QColor(0, 0, 0); }));
    QApplication::processEvents();
    const QImage shot = dialog.grab().toImage();
    EXPECT_GT(shot.width(), 300);
#ifdef PIXKEY_SCREENSHOT_DIR
    QDir().mkpath(QStringLiteral(PIXKEY_SCREENSHOT_DIR));
    EXPECT_TRUE(shot.save(QStringLiteral(PIXKEY_SCREENSHOT_DIR "/rss-dialog.png")));
#endif
}
