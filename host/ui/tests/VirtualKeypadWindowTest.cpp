// The virtual keypad against the host's device link: what the link submits shows on the window's
// keys upright for every orientation, clicks press the right device key, brightness dims and a
// switched-off display is black.

#include "DeviceLink.h"
#include "FrameTransform.h"
#include "KeypadArt.h"
#include "KeypadEmulator.h"
#include "PaintRecorder.h"
#include "VirtualKeypadWindow.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QPaintEvent>
#include <QPainter>
#include <QRegion>
#include <QTest>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>

using namespace std::chrono_literals;
using pixkey::VirtualKeypadWindow;

using pixkey::test::PaintRecorder;

namespace {

class Listener : public pixkey::DeviceListener {
public:
    void OnKeyPressed(int key) override
    {
        std::lock_guard lock(m_lock);
        m_keys.push_back(key);
        m_changed.notify_all();
    }
    void OnConnectionChanged(int state) override
    {
        std::lock_guard lock(m_lock);
        m_connected = state != 0;
        m_changed.notify_all();
    }
    // The next key pressed, 0 when none arrives within a generous bound.
    int nextKey()
    {
        std::unique_lock lock(m_lock);
        if (!m_changed.wait_for(lock, 10s, [this] { return !m_keys.empty(); }))
            return 0;
        const int key = m_keys.front();
        m_keys.erase(m_keys.begin());
        return key;
    }
    bool waitConnected()
    {
        std::unique_lock lock(m_lock);
        return m_changed.wait_for(lock, 10s, [this] { return m_connected; });
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<int> m_keys;
    bool m_connected = false;
};

enum class Colour { Red, Green, Blue, Black, Other };

const char *name(Colour c)
{
    switch (c) {
    case Colour::Red: return "red";
    case Colour::Green: return "green";
    case Colour::Blue: return "blue";
    case Colour::Black: return "black";
    default: return "other";
    }
}

Colour classify(QRgb c)
{
    const int r = qRed(c), g = qGreen(c), b = qBlue(c);
    if (r < 50 && g < 50 && b < 50)
        return Colour::Black;
    if (r > 120 && g < 70 && b < 70)
        return Colour::Red;
    if (g > 120 && r < 70 && b < 70)
        return Colour::Green;
    if (b > 120 && r < 70 && g < 70)
        return Colour::Blue;
    return Colour::Other;
}

// The quadrant colours of the face painted for a slot (top-left, top-right, bottom-left,
// bottom-right as the face is meant to be read); every slot has its own arrangement and no
// arrangement is a turn of another's, so position and turn are both checked.
constexpr Colour kQuadrants[3][4] = {
    {Colour::Red, Colour::Green, Colour::Blue, Colour::Black},
    {Colour::Green, Colour::Red, Colour::Black, Colour::Blue},
    {Colour::Blue, Colour::Black, Colour::Green, Colour::Red},
};

// A face as a plug-in paints it: 96x96 B,G,R top-down.
std::vector<uint8_t> face(int slot)
{
    std::vector<uint8_t> bytes(pixkey::kPictureBytes);
    for (int y = 0; y < 96; ++y)
        for (int x = 0; x < 96; ++x) {
            const Colour c = kQuadrants[slot][(y >= 48 ? 2 : 0) + (x >= 48 ? 1 : 0)];
            uint8_t *px = &bytes[size_t(y) * pixkey::kRowBytes + size_t(x) * 3];
            px[0] = c == Colour::Blue ? 255 : 0;
            px[1] = c == Colour::Green ? 255 : 0;
            px[2] = c == Colour::Red ? 255 : 0;
        }
    return bytes;
}

class VirtualKeypadWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        QString error;
        ASSERT_TRUE(m_window.start(&error)) << error.toStdString();
        ASSERT_TRUE(QFileInfo::exists(m_window.linkPath()));
        ::setenv("PIXKEY_PORT", m_window.linkPath().toLocal8Bit().constData(), 1);
        m_link = std::make_unique<pixkey::DeviceLink>(&m_listener);
        m_link->Connect();
        ASSERT_TRUE(m_listener.waitConnected()) << m_link->lastOpenError();
    }
    void TearDown() override
    {
        m_link.reset();
        ::unsetenv("PIXKEY_PORT");
    }

    // Shows every slot's face as the host does for this orientation and waits for the uploads.
    void sendFaces(int orientation)
    {
        std::vector<uint8_t> picture(pixkey::kPictureBytes);
        for (int slot = 0; slot < 3; ++slot) {
            pixkey::orientFace(face(slot).data(), orientation, picture.data());
            ASSERT_EQ(m_link->SubmitFrame(pixkey::deviceKeyForSlot(slot, orientation), picture.data(), true), 0);
        }
    }

    // The colour in the middle of each quadrant of a key's screen, as the window draws it.
    std::array<Colour, 4> quadrantsOnScreen(const QImage &shot, int deviceKey)
    {
        const QRectF r = m_window.keyRect(deviceKey);
        std::array<Colour, 4> result{};
        for (int q = 0; q < 4; ++q) {
            const QPointF p(r.left() + r.width() * (q % 2 ? 0.75 : 0.25), r.top() + r.height() * (q / 2 ? 0.75 : 0.25));
            result[size_t(q)] = classify(shot.pixel(p.toPoint()));
        }
        return result;
    }

    QImage shot() { return m_window.grab().toImage().convertToFormat(QImage::Format_RGB32); }

    VirtualKeypadWindow m_window;
    Listener m_listener;
    std::unique_ptr<pixkey::DeviceLink> m_link;
};

TEST_F(VirtualKeypadWindowTest, FacesShowUprightAtTheirSlotsInEveryOrientation)
{
    for (int orientation = 0; orientation < 4; ++orientation) {
        SCOPED_TRACE("orientation " + std::to_string(orientation));
        m_window.setOrientation(orientation);
        m_window.resize(m_window.sizeHint());
        const QSize size = m_window.size();
        EXPECT_EQ(size.height() > size.width(), orientation >= 2);
        sendFaces(orientation);
        m_window.refresh();
        const QImage image = shot();
        for (int slot = 0; slot < 3; ++slot) {
            const auto seen = quadrantsOnScreen(image, pixkey::deviceKeyForSlot(slot, orientation));
            for (int q = 0; q < 4; ++q)
                EXPECT_EQ(seen[size_t(q)], kQuadrants[slot][q])
                    << "slot " << slot << " quadrant " << q << " shows " << name(seen[size_t(q)]);
        }
        // Slots run left to right on a horizontal keypad and top to bottom on a vertical one.
        const QPointF first = m_window.keyRect(pixkey::deviceKeyForSlot(0, orientation)).center();
        const QPointF last = m_window.keyRect(pixkey::deviceKeyForSlot(2, orientation)).center();
        if (orientation >= 2)
            EXPECT_LT(first.y(), last.y());
        else
            EXPECT_LT(first.x(), last.x());
    }
}

TEST_F(VirtualKeypadWindowTest, ClickPressesTheDeviceKeyOfTheSlotUnderTheMouse)
{
    m_window.show();
    for (int orientation = 0; orientation < 4; ++orientation) {
        m_window.setOrientation(orientation);
        m_window.resize(m_window.sizeHint());
        // Outside every key first: no press, so the next one reported is the key clicked after.
        QTest::mouseClick(&m_window, Qt::LeftButton, {}, QPoint(2, 2));
        for (int slot = 0; slot < 3; ++slot) {
            const int deviceKey = pixkey::deviceKeyForSlot(slot, orientation);
            const QPoint where = m_window.keyRect(deviceKey).center().toPoint();
            EXPECT_EQ(m_window.keyAt(where), deviceKey);
            QTest::mouseClick(&m_window, Qt::LeftButton, {}, where);
            EXPECT_EQ(m_listener.nextKey(), deviceKey) << "orientation " << orientation << " slot " << slot;
        }
    }
}

TEST_F(VirtualKeypadWindowTest, BrightnessDimsAndDisplayOffIsBlack)
{
    sendFaces(0);
    m_window.refresh();
    const int fullRed = qRed(m_window.keyImage(1).pixel(10, 10));
    EXPECT_GT(fullRed, 200);

    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::SetBrightness, 20, true), 0);
    m_window.refresh();
    EXPECT_NEAR(qRed(m_window.keyImage(1).pixel(10, 10)), fullRed / 3, 2);

    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::DisplayOff, 0, true), 0);
    m_window.refresh();
    const QImage image = shot();
    for (int key = 1; key <= 3; ++key) {
        const QImage screen = m_window.keyImage(key);
        for (int y = 0; y < 96; y += 5)
            for (int x = 0; x < 96; x += 5)
                ASSERT_EQ(screen.pixel(x, y) & 0xFFFFFF, 0u) << "key " << key;
        EXPECT_EQ(quadrantsOnScreen(image, key), (std::array<Colour, 4>{Colour::Black, Colour::Black, Colour::Black, Colour::Black}));
    }

    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::DisplayOn, 0, true), 0);
    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::SetBrightness, 60, true), 0);
    m_window.refresh();
    EXPECT_EQ(qRed(m_window.keyImage(1).pixel(10, 10)), fullRed);

    // An unplugged keypad has no power: dark keys.
    m_window.emulator().unplug();
    m_window.refresh();
    EXPECT_EQ(m_window.keyImage(1).pixel(10, 10) & 0xFFFFFF, 0u);
}

TEST_F(VirtualKeypadWindowTest, PollsOnlyWhileVisibleAndRepaintsOnChange)
{
    EXPECT_FALSE(m_window.isPolling());
    m_window.show();
    EXPECT_TRUE(m_window.isPolling());
    sendFaces(0);
    const QPoint where = m_window.keyRect(1).topLeft().toPoint() + QPoint(20, 20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return classify(shot().pixel(where)) == Colour::Red; }, 10000))
        << "the shown window picks up new frames by itself";
    m_window.hide();
    EXPECT_FALSE(m_window.isPolling());
}

TEST_F(VirtualKeypadWindowTest, AFaceChangeRepaintsOnlyThatKeysScreen)
{
    m_window.show();
    sendFaces(0);
    const QPoint where = m_window.keyRect(1).topLeft().toPoint() + QPoint(20, 20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return classify(shot().pixel(where)) == Colour::Red; }, 10000));
    QTest::qWait(100); // the paints of the first faces are done

    PaintRecorder recorder;
    m_window.installEventFilter(&recorder);
    // The middle key (device key 2 in orientation 0) gets the first key's face; the others keep theirs.
    std::vector<uint8_t> picture(pixkey::kPictureBytes);
    pixkey::orientFace(face(0).data(), 0, picture.data());
    ASSERT_EQ(m_link->SubmitFrame(pixkey::deviceKeyForSlot(1, 0), picture.data(), true), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !recorder.painted.isEmpty(); }, 10000));
    QTest::qWait(100);
    m_window.removeEventFilter(&recorder);
    const QRect bounds = recorder.painted.boundingRect();
    EXPECT_TRUE(m_window.keyRect(2).adjusted(-6, -6, 6, 6).contains(QRectF(bounds)))
        << bounds.x() << "," << bounds.y() << " " << bounds.width() << "x" << bounds.height();
    EXPECT_FALSE(recorder.painted.intersects(m_window.keyRect(1).toRect()));
    EXPECT_FALSE(recorder.painted.intersects(m_window.keyRect(3).toRect()));
    // What the partial repaint left on the screen: the new face on key 2, the old ones beside it.
    const QImage after = m_window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    EXPECT_EQ(quadrantsOnScreen(after, 2), quadrantsOnScreen(after, 1));
    EXPECT_NE(quadrantsOnScreen(after, 3), quadrantsOnScreen(after, 1));

    // A change of brightness changes every screen: all three are repainted, the window is not.
    recorder.painted = QRegion();
    m_window.installEventFilter(&recorder);
    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::SetBrightness, 20, true), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return recorder.painted.intersects(m_window.keyRect(1).toRect())
            && recorder.painted.intersects(m_window.keyRect(3).toRect());
    }, 10000));
    m_window.removeEventFilter(&recorder);
    EXPECT_FALSE(recorder.painted.contains(QPoint(1, 1))) << "the backdrop's corner is not repainted";
}

// Faces with a number and a colour wash, the way a plug-in might paint them.
std::vector<uint8_t> numberedFace(int slot)
{
    QImage image(96, 96, QImage::Format_BGR888);
    const QColor colours[3][2] = {{QColor(0x1F, 0x6F, 0xE0), QColor(0x49, 0xB6, 0xFF)},
                                  {QColor(0xF0, 0x8A, 0x14), QColor(0xFF, 0xC9, 0x4A)},
                                  {QColor(0x17, 0xA3, 0x4A), QColor(0x5F, 0xE0, 0x8A)}};
    QPainter painter(&image);
    QLinearGradient wash(0, 0, 96, 96);
    wash.setColorAt(0, colours[slot][1]);
    wash.setColorAt(1, colours[slot][0]);
    painter.fillRect(image.rect(), wash);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(44);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRect(0, 0, 96, 80), Qt::AlignCenter, QString::number(slot + 1));
    font.setPixelSize(12);
    painter.setFont(font);
    painter.drawText(QRect(0, 70, 96, 20), Qt::AlignCenter, QStringLiteral("slot %1").arg(slot));
    painter.end();
    std::vector<uint8_t> bytes(pixkey::kPictureBytes);
    for (int y = 0; y < 96; ++y)
        std::memcpy(&bytes[size_t(y) * pixkey::kRowBytes], image.constScanLine(y), pixkey::kRowBytes);
    return bytes;
}

TEST_F(VirtualKeypadWindowTest, WritesScreenshots)
{
    QDir().mkpath(QStringLiteral(PIXKEY_SCREENSHOT_DIR));
    std::vector<uint8_t> picture(pixkey::kPictureBytes);
    for (int orientation : {1, 2, 3, 0}) {
        m_window.setOrientation(orientation);
        m_window.resize(m_window.sizeHint());
        for (int slot = 0; slot < 3; ++slot) {
            pixkey::orientFace(numberedFace(slot).data(), orientation, picture.data());
            ASSERT_EQ(m_link->SubmitFrame(pixkey::deviceKeyForSlot(slot, orientation), picture.data(), true), 0);
        }
        m_window.refresh();
        for (qreal ratio : {1.0, 2.0}) {
            QPixmap shot(m_window.size() * ratio);
            shot.setDevicePixelRatio(ratio);
            m_window.render(&shot);
            const QString file = QStringLiteral(PIXKEY_SCREENSHOT_DIR "/virtual-keypad-orientation-%1@%2x.png").arg(orientation).arg(ratio);
            EXPECT_TRUE(shot.save(file)) << file.toStdString();
        }
    }
    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::SetBrightness, 20, true), 0);
    m_window.setOrientation(0);
    m_window.resize(m_window.sizeHint());
    m_window.refresh();
    EXPECT_TRUE(m_window.grab().save(QStringLiteral(PIXKEY_SCREENSHOT_DIR "/virtual-keypad-dim.png")));
    ASSERT_EQ(m_link->PostCommand(pixkey::LinkCommand::DisplayOff, 0, true), 0);
    m_window.refresh();
    EXPECT_TRUE(m_window.grab().save(QStringLiteral(PIXKEY_SCREENSHOT_DIR "/virtual-keypad-display-off.png")));
}

TEST(VirtualKeypadWindowStartTest, BadLinkPathIsReportedAndLeavesNoLink)
{
    VirtualKeypadWindow window(QStringLiteral("/nonexistent-folder/for/keypad"));
    QString error;
    EXPECT_FALSE(window.start(&error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(window.isRunning());
    window.refresh(); // an unstarted keypad still draws (black screens)
    EXPECT_EQ(window.keyImage(2).pixel(48, 48) & 0xFFFFFF, 0u);
    EXPECT_EQ(window.keyImage(0).pixel(0, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(window.keyAt(QPointF(-5, -5)), 0);
}

TEST(VirtualKeypadWindowStartTest, LinkGoesAwayWithTheWindow)
{
    QString path;
    {
        VirtualKeypadWindow window;
        ASSERT_TRUE(window.start());
        path = window.linkPath();
        EXPECT_TRUE(QFileInfo::exists(path));
    }
    EXPECT_FALSE(QFileInfo::exists(path));
    EXPECT_FALSE(QFileInfo::exists(QFileInfo(path).absolutePath()));
}

} // namespace
