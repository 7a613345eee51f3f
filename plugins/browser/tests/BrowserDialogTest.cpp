// The "Browser" settings dialog with its own live page: the preview and page view fill in, the
// square follows the mouse and the key preview follows the square, the reload slider's scale, the
// hidden page-size slider, and OK through the plug-in's ShowProperties.
#include "EngineSupport.h"

#include "BrowserDialog.h"
#include "CaptureCycle.h"
#include "PageView.h"

#include <pixkey/dialogs/CustomSlider.h>

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

using namespace browsertest;

namespace {

browser::BrowserSettings blocksSettings()
{
    browser::BrowserSettings settings;
    settings.url = pages().url("/blocks.html");
    settings.targetLeft = 256;
    settings.targetTop = 250;
    settings.targetSize = 256;
    return settings;
}

bool previewShows(const browser::BrowserDialog &dialog, QColor colour)
{
    return near(dialog.keyFace().pixelColor(48, 48), colour);
}

} // namespace

TEST(BrowserDialog, LivePageSquareDragAndPreview)
{
    SKIP_WITHOUT_ENGINE();
    browser::BrowserDialog dialog(blocksSettings());
    dialog.show();
    ASSERT_TRUE(waitUntil([&] { return previewShows(dialog, blockColour(1, 1)); }))
        << dialog.keyFace().pixelColor(48, 48).name().toStdString();
    ASSERT_TRUE(waitUntil([&] { return !dialog.cycle().lastPage().isNull(); }));
    spin(300ms);
    QDir().mkpath(QStringLiteral(BROWSER_SCREENSHOT_DIR));
    dialog.grab().save(QStringLiteral(BROWSER_SCREENSHOT_DIR "/browser-dialog.png"));

    // The hidden controls are there, and hidden.
    EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("8019"))->isVisible());
    EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("8777"))->isVisible());
    EXPECT_FALSE(dialog.findChild<QWidget *>(QStringLiteral("8021"))->isVisible());

    // Drag the inside one block to the right (256 page pixels are 256 x 314 / 1024 view pixels).
    browser::PageView *view = dialog.pageView();
    const browser::ViewSquare square = view->square();
    const QPoint inside(square.left + square.side / 2, square.top + square.side / 2);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, inside);
    QTest::mouseMove(view, inside + QPoint(40, 0));
    QTest::mouseMove(view, inside + QPoint(79, 0));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, inside + QPoint(79, 0));
    EXPECT_EQ(view->square().left, square.left + 79);
    EXPECT_EQ(dialog.chosenSettings().targetLeft, browser::targetOf(view->square(), 320, 1024).left);
    EXPECT_TRUE(previewShows(dialog, blockColour(2, 1))) << "the key preview follows the square at once";

    // Shrink it from the bottom-right handle: the page square follows the arithmetic.
    const browser::FrameGeometry frame = browser::frameOf(view->square());
    const QPoint handle(frame.right, frame.bottom);
    QTest::mousePress(view, Qt::LeftButton, Qt::NoModifier, handle);
    QTest::mouseMove(view, handle + QPoint(-30, -20));
    QTest::mouseRelease(view, Qt::LeftButton, Qt::NoModifier, handle + QPoint(-30, -20));
    EXPECT_EQ(view->square().side, square.side - 20);
    EXPECT_EQ(dialog.chosenSettings().targetSize, (square.side - 20 - 6) * 1024 / 314);

    // The hidden page-size slider sets both sides without navigating; the square stays put.
    const int loads = pages().requestCount("/blocks.html");
    dialog.findChild<QSlider *>(QStringLiteral("8019"))->setValue(512);
    EXPECT_EQ(dialog.chosenSettings().width, 512);
    EXPECT_EQ(dialog.chosenSettings().height, 512);
    EXPECT_EQ(view->square().side, square.side - 20);
    spin(400ms);
    EXPECT_EQ(pages().requestCount("/blocks.html"), loads);

    // A new address navigates the dialog's page.
    pages().answer("/gone.html", pixkey::test::HttpAnswer::text(404, "<html>gone</html>", "text/html"));
    auto *url = dialog.findChild<QLineEdit *>(QStringLiteral("8009"));
    url->setText(QString::fromStdString(pages().url("/gone.html")));
    Q_EMIT url->editingFinished();
    EXPECT_TRUE(waitUntil([&] { return showsError(dialog.keyFace()); }));
}

TEST(BrowserDialog, ReloadSliderAndItsIntervalBox)
{
    SKIP_WITHOUT_ENGINE();
    browser::BrowserDialog dialog(blocksSettings());
    dialog.show();
    auto *slider = dialog.findChild<pixkey::CustomSlider *>(QStringLiteral("8017"));
    auto *box = dialog.findChild<QLineEdit *>(QStringLiteral("8021"));
    ASSERT_TRUE(slider && box);
    EXPECT_EQ(slider->value(), 15);
    EXPECT_EQ(dialog.chosenSettings().reloadPeriod, 420) << "an untouched slider keeps the stored period";
    const struct {
        int position, seconds;
        const char *text;
    } cases[] = {{1, 60, "1 min"}, {20, 600, "10 min"}, {40, 1800, "30 min"}, {60, 3600, "1:00"},
                 {80, 28800, "8:00"}, {100, 86400, "1 day"}};
    for (const auto &c : cases) {
        slider->setValue(c.position);
        EXPECT_EQ(dialog.chosenSettings().reloadPeriod, c.seconds) << c.position;
        EXPECT_EQ(box->text(), QString::fromLatin1(c.text)) << c.position;
    }
    slider->setValue(0); // below the range: the slider keeps its minimum
    EXPECT_EQ(dialog.chosenSettings().reloadPeriod, 60);

    QTest::mousePress(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, 8));
    EXPECT_TRUE(box->isVisible()) << "shown while the button is down";
    QTest::mouseRelease(slider, Qt::LeftButton, Qt::NoModifier, QPoint(slider->width() / 2, 8));
    EXPECT_FALSE(box->isVisible());
}

TEST(BrowserDialog, OkHandsTheDialogsSettingsToTheKey)
{
    SKIP_WITHOUT_ENGINE();
    PluginObject key;
    key.set("URL", pages().url("/blocks.html"));
    bool answered = false;
    QTimer::singleShot(100, [&] {
        // The dialog is modal: wait for it, then change it and press OK.
        QTimer *poll = new QTimer;
        QObject::connect(poll, &QTimer::timeout, [&, poll] {
            // (Browser.pkx has its own copy of the dialog class: found as a plain dialog.)
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            poll->deleteLater();
            dialog->findChild<QLineEdit *>(QStringLiteral("8010"))->setText(QStringLiteral("http://example.test/t"));
            dialog->findChild<QRadioButton *>(QStringLiteral("8781"))->setChecked(true);
            dialog->findChild<QCheckBox *>(QStringLiteral("8778"))->setChecked(true);
            answered = true;
            dialog->accept();
        });
        poll->start(50);
    });
    EXPECT_EQ(key.object()->ops->ShowProperties(key.object(), nullptr), 1);
    EXPECT_TRUE(answered);
    char name[256] = {}, value[256] = {};
    ASSERT_TRUE(key.object()->ops->GetProperty(key.object(), 259, name, value));
    EXPECT_STREQ(value, "http://example.test/t");
    ASSERT_TRUE(key.object()->ops->GetProperty(key.object(), 262, name, value));
    EXPECT_STREQ(value, "1");
    ASSERT_TRUE(key.object()->ops->GetProperty(key.object(), 266, name, value));
    EXPECT_STREQ(value, "2");
    ASSERT_TRUE(key.object()->ops->GetProperty(key.object(), 260, name, value));
    EXPECT_STREQ(value, "420");
}
