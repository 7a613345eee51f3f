// The custom track bar: its tick geometry, what it paints, and the mouse handling that drives the
// dialogs' value boxes.
#include "pixkey/dialogs/CustomSlider.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using pixkey::CustomSlider;

namespace {

void sendMouse(QWidget *widget, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::MouseButtons(Qt::LeftButton);
    QMouseEvent event(type, QPointF(at), widget->mapToGlobal(QPointF(at)), button, held, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// The update slider of the feed dialog: 1..100, a mark every 17, pages of 20.
void makeUpdateSlider(CustomSlider &slider, int width)
{
    slider.setRange(1, 100);
    slider.setTickInterval(17);
    slider.setPageStep(20);
    slider.resize(width, slider.sizeHint().height());
}

QRgb rgbOf(unsigned colorRef)
{
    return qRgb(int(colorRef & 0xFF), int((colorRef >> 8) & 0xFF), int((colorRef >> 16) & 0xFF));
}

} // namespace

TEST(CustomSliderTest, TickMarksSpreadTheRemainderFromTheLeft)
{
    // 174 pixels over 5 gaps: 34 each, the 4 left over go to the first four gaps.
    EXPECT_EQ(CustomSlider::tickPositions(6, 200), (std::vector<int>{13, 48, 83, 118, 153, 187}));
    // Any width: first at 13, last 13 before the edge, gaps differing by at most one, wider first.
    for (int count : {3, 5, 6, 7, 101}) {
        for (int width : {60, 97, 200, 333}) {
            const std::vector<int> x = CustomSlider::tickPositions(count, width);
            ASSERT_EQ(int(x.size()), count);
            EXPECT_EQ(x.front(), 13);
            EXPECT_EQ(x.back(), width - 13) << count << " marks, width " << width;
            for (std::size_t i = 2; i < x.size(); ++i)
                EXPECT_GE(x[i - 1] - x[i - 2], x[i] - x[i - 1]);
            EXPECT_LE((x[1] - x[0]) - (x.back() - x[x.size() - 2]), 1);
        }
    }
    EXPECT_EQ(CustomSlider::tickPositions(1, 200), std::vector<int>{13});
    EXPECT_TRUE(CustomSlider::tickPositions(0, 200).empty());
}

TEST(CustomSliderTest, TickCountFollowsRangeAndInterval)
{
    CustomSlider slider;
    makeUpdateSlider(slider, 200);
    EXPECT_EQ(slider.tickCount(), 6); // 99 / 17 + 1
    EXPECT_TRUE(slider.isCustomDrawn());
    slider.setRange(0, 4);
    slider.setTickInterval(0); // no interval counts as one
    EXPECT_EQ(slider.tickCount(), 5);
    slider.setRange(0, 1);
    EXPECT_EQ(slider.tickCount(), 2);
    EXPECT_FALSE(slider.isCustomDrawn());
}

TEST(CustomSliderTest, PositionsAndValuesMapBothWays)
{
    CustomSlider slider;
    makeUpdateSlider(slider, 250);
    EXPECT_EQ(slider.positionOf(1), 13);
    EXPECT_EQ(slider.positionOf(100), 237);
    EXPECT_EQ(slider.positionOf(500), 237);
    for (int value = 1; value <= 100; ++value)
        EXPECT_EQ(slider.valueAt(slider.positionOf(value)), value);
    EXPECT_EQ(slider.valueAt(-40), 1);
    EXPECT_EQ(slider.valueAt(4000), 100);
}

TEST(CustomSliderTest, PaintsChannelAlternatingMarksAndThumb)
{
    CustomSlider slider;
    makeUpdateSlider(slider, 200);
    slider.setTickLabels({QStringLiteral("1 min"), QStringLiteral("1 day")});
    slider.setValue(100); // thumb at the right end, away from the first marks
    const QImage face = slider.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRgb channel = rgbOf(0x959595);
    const std::vector<int> x = slider.tickPositions();

    EXPECT_EQ(face.pixel(30, 8), channel);
    EXPECT_EQ(face.pixel(100, 8), channel);
    EXPECT_NE(face.pixel(100, 7), channel);
    // Tall first mark (y 3..8), short second mark (y 5..8).
    EXPECT_EQ(face.pixel(x[0], 3), channel);
    EXPECT_NE(face.pixel(x[0], 2), channel);
    EXPECT_EQ(face.pixel(x[1], 5), channel);
    EXPECT_NE(face.pixel(x[1], 4), channel);
    EXPECT_EQ(face.pixel(x[2], 3), channel);

    // The thumb's four outline colours are all there around its centre.
    const int c = slider.positionOf(100);
    for (unsigned pen : {0xFFFFFFu, 0xD5D2CFu, 0x63605Au, 0xABA79Fu}) {
        bool found = false;
        for (int y = 0; y < 20 && !found; ++y)
            for (int dx = -6; dx <= 6 && !found; ++dx)
                found = face.pixel(c + dx, y) == rgbOf(pen);
        EXPECT_TRUE(found) << std::hex << pen;
    }
    // The texts go below the thumb.
    EXPECT_GT(slider.sizeHint().height(), 20);
}

TEST(CustomSliderTest, DraggingTheThumbReportsPressBeforeMovingAndReleaseAfter)
{
    CustomSlider slider;
    makeUpdateSlider(slider, 250);
    slider.setValue(1);
    std::vector<std::string> seen;
    QObject::connect(&slider, &CustomSlider::leftButtonPressed, [&] { seen.push_back("pressed@" + std::to_string(slider.value())); });
    QObject::connect(&slider, &CustomSlider::leftButtonReleased, [&] { seen.push_back("released@" + std::to_string(slider.value())); });
    QObject::connect(&slider, &QSlider::valueChanged, [&](int v) { seen.push_back("value " + std::to_string(v)); });

    sendMouse(&slider, QEvent::MouseButtonPress, {slider.positionOf(1), 10});
    EXPECT_TRUE(slider.isSliderDown());
    sendMouse(&slider, QEvent::MouseMove, {slider.positionOf(61), 10});
    sendMouse(&slider, QEvent::MouseButtonRelease, {slider.positionOf(61), 10});
    EXPECT_FALSE(slider.isSliderDown());
    EXPECT_EQ(slider.value(), 61);
    EXPECT_EQ(seen, (std::vector<std::string>{"pressed@1", "value 61", "released@61"}));
}

TEST(CustomSliderTest, ClickOnTheChannelPagesTowardThePointer)
{
    CustomSlider slider;
    makeUpdateSlider(slider, 250);
    slider.setValue(50);
    int pressed = 0;
    int released = 0;
    QObject::connect(&slider, &CustomSlider::leftButtonPressed, [&] { ++pressed; });
    QObject::connect(&slider, &CustomSlider::leftButtonReleased, [&] { ++released; });

    sendMouse(&slider, QEvent::MouseButtonPress, {230, 10});
    sendMouse(&slider, QEvent::MouseButtonRelease, {230, 10});
    EXPECT_EQ(slider.value(), 70);
    sendMouse(&slider, QEvent::MouseButtonPress, {20, 10});
    sendMouse(&slider, QEvent::MouseButtonRelease, {20, 10});
    EXPECT_EQ(slider.value(), 50);
    EXPECT_EQ(pressed, 2);
    EXPECT_EQ(released, 2);

    // A right click is no left press.
    sendMouse(&slider, QEvent::MouseButtonPress, {230, 10}, Qt::RightButton);
    EXPECT_EQ(pressed, 2);
}

TEST(CustomSliderTest, FewMarksKeepTheOrdinarySliderButStillReportTheLeftButton)
{
    CustomSlider slider;
    slider.setRange(0, 1);
    slider.resize(200, slider.sizeHint().height());
    int pressed = 0;
    int released = 0;
    QObject::connect(&slider, &CustomSlider::leftButtonPressed, [&] { ++pressed; });
    QObject::connect(&slider, &CustomSlider::leftButtonReleased, [&] { ++released; });
    sendMouse(&slider, QEvent::MouseButtonPress, {190, slider.height() / 2});
    sendMouse(&slider, QEvent::MouseButtonRelease, {190, slider.height() / 2});
    EXPECT_EQ(pressed, 1);
    EXPECT_EQ(released, 1);
    EXPECT_FALSE(slider.grab().isNull());
}

int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
