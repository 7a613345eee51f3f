// The configurator's keypad preview: its face refresh repaints only the faces that changed since
// they were painted.

#include "KeyPreview.h"
#include "PaintRecorder.h"

#include <QApplication>
#include <QPaintEvent>
#include <QRegion>
#include <QTest>

#include <gtest/gtest.h>

#include <array>

using pixkey::KeyPreview;

using pixkey::test::PaintRecorder;

namespace {

QImage face(Qt::GlobalColor colour)
{
    QImage image(96, 96, QImage::Format_BGR888);
    image.fill(colour);
    return image;
}

class KeyPreviewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_faces = {face(Qt::red), face(Qt::green), QImage()};
        // A fresh copy on every call, as the plug-in instances hand their faces out.
        m_preview.setFaceSource([this](int key) {
            ++m_fetched;
            return m_faces[std::size_t(key)].copy();
        });
        m_preview.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_preview));
        QTest::qWait(50); // the first paint is done
        m_preview.installEventFilter(&m_recorder);
    }

    // What the face refresh repaints, after the events it posts are handled.
    QRegion refresh()
    {
        m_recorder.painted = QRegion();
        m_preview.updateFaces();
        QTest::qWait(20);
        QApplication::processEvents();
        return m_recorder.painted;
    }

    QRect withFrame(int key) const
    {
        const int margin = KeyPreview::kFrameGap + KeyPreview::kFrameWidth;
        return m_preview.keyRect(key).adjusted(-margin, -margin, margin, margin);
    }

    std::array<QImage, 3> m_faces;
    int m_fetched = 0; // faces asked of the source
    KeyPreview m_preview;
    PaintRecorder m_recorder;
};

TEST_F(KeyPreviewTest, RefreshRepaintsOnlyTheFacesThatChanged)
{
    EXPECT_TRUE(refresh().isEmpty()) << "nothing changed: nothing is painted";

    m_faces[1] = face(Qt::blue);
    const QRegion one = refresh();
    EXPECT_TRUE(withFrame(1).contains(one.boundingRect()));
    EXPECT_TRUE(one.intersects(m_preview.keyRect(1)));
    EXPECT_FALSE(one.intersects(m_preview.keyRect(0)));
    EXPECT_FALSE(one.intersects(m_preview.keyRect(2)));
    EXPECT_TRUE(refresh().isEmpty()) << "the new face counts as painted";

    // A face that goes away and one that arrives on an empty key are changes too.
    m_faces[0] = QImage();
    m_faces[2] = face(Qt::yellow);
    const QRegion two = refresh();
    EXPECT_TRUE(two.intersects(m_preview.keyRect(0)));
    EXPECT_TRUE(two.intersects(m_preview.keyRect(2)));
    EXPECT_FALSE(two.intersects(m_preview.keyRect(1)));
}

TEST_F(KeyPreviewTest, AFaceOutsideAPaintIsNotTakenAsPainted)
{
    // Key 2 changes while only key 0 is repainted (a drag highlight, say): its new face was
    // clipped away, so the next refresh still paints it.
    m_faces[2] = face(Qt::cyan);
    m_recorder.painted = QRegion();
    m_preview.update(m_preview.keyRect(0));
    QTest::qWait(20);
    QApplication::processEvents();
    ASSERT_FALSE(m_recorder.painted.intersects(m_preview.keyRect(2)));
    EXPECT_TRUE(refresh().intersects(m_preview.keyRect(2)));
}

TEST_F(KeyPreviewTest, HiddenItFetchesNothingAndCatchesUpWhenShown)
{
    m_preview.hide();
    m_fetched = 0;
    m_faces[1] = face(Qt::magenta);
    m_preview.updateFaces();
    QApplication::processEvents();
    EXPECT_EQ(m_fetched, 0);

    m_recorder.painted = QRegion();
    m_preview.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return m_recorder.painted.intersects(m_preview.keyRect(1)); }, 5000));
    EXPECT_TRUE(m_recorder.painted.contains(m_preview.rect())) << "shown again, everything is painted once";
    EXPECT_TRUE(refresh().isEmpty());
}

} // namespace
