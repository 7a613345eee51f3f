#include "VirtualKeypadWindow.h"

#include "FrameTransform.h"
#include "KeypadArt.h"
#include "KeypadEmulator.h"
#include "UiPictures.h"

#include <QDir>
#include <QLinearGradient>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPainter>
#include <QPaintEvent>
#include <QPainterPath>

#include <algorithm>
#include <cstring>

namespace pixkey {

namespace {

// The brightness level the keypad treats as full (the host sends 20, 40 or 60).
constexpr int kFullBrightness = 60;

} // namespace

VirtualKeypadWindow::VirtualKeypadWindow(const QString &linkPath, QWidget *parent)
    : QWidget(parent)
{
    QString path = linkPath;
    if (path.isEmpty()) {
        m_tempDir = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/pixkey-virtual-keypad-XXXXXX"));
        if (m_tempDir->isValid())
            path = m_tempDir->filePath(QStringLiteral("keypad"));
    }
    m_emulator = std::make_unique<KeypadEmulator>(path.toStdString());

    setWindowTitle(QStringLiteral("Virtual Pixkey mini three"));
    setWindowIcon(UiPictures::windowIcon());
    setAttribute(Qt::WA_OpaquePaintEvent);
    m_poll.setInterval(kPollIntervalMs);
    m_poll.setTimerType(Qt::CoarseTimer);
    connect(&m_poll, &QTimer::timeout, this, &VirtualKeypadWindow::refresh);
    for (QImage &image : m_keys) {
        image = QImage(KeypadEmulator::kFaceSize, KeypadEmulator::kFaceSize, QImage::Format_RGB888);
        image.fill(Qt::black);
    }
}

VirtualKeypadWindow::~VirtualKeypadWindow() = default;

bool VirtualKeypadWindow::start(QString *error)
{
    if (m_emulator->linkPath().empty()) {
        if (error)
            *error = QStringLiteral("No temporary folder for the virtual keypad's link: %1").arg(m_tempDir ? m_tempDir->errorString() : QString());
        return false;
    }
    std::string message;
    if (!m_emulator->start(&message)) {
        if (error)
            *error = QString::fromStdString(message);
        return false;
    }
    m_seenGeneration = ~uint64_t(0);
    refresh();
    return true;
}

void VirtualKeypadWindow::stop()
{
    m_emulator->stop();
}

bool VirtualKeypadWindow::isRunning() const
{
    return m_emulator->isRunning();
}

QString VirtualKeypadWindow::linkPath() const
{
    return QString::fromStdString(m_emulator->linkPath());
}

void VirtualKeypadWindow::setOrientation(int orientation)
{
    if (orientation < 0 || orientation > 3)
        orientation = 0;
    if (orientation == m_orientation)
        return;
    const bool turned = KeypadArt::isVertical(orientation) != KeypadArt::isVertical(m_orientation);
    m_orientation = orientation;
    if (turned) {
        updateGeometry();
        if (isWindow())
            resize(sizeHint());
    }
    update();
}

QSize VirtualKeypadWindow::sizeHint() const
{
    return KeypadArt::pictureSize(KeypadArt::isVertical(m_orientation));
}

QRectF VirtualKeypadWindow::bodyRect() const
{
    const QSizeF picture = KeypadArt::pictureSize(KeypadArt::isVertical(m_orientation));
    const QSizeF fitted = picture.scaled(QSizeF(size()), Qt::KeepAspectRatio);
    return QRectF(QPointF((width() - fitted.width()) / 2, (height() - fitted.height()) / 2), fitted);
}

int VirtualKeypadWindow::positionOfKey(int deviceKey) const
{
    return slotForDeviceKey(deviceKey, m_orientation);
}

int VirtualKeypadWindow::faceRotation() const
{
    // The keypad is mounted turned so that the faces the host turned the other way read upright.
    switch (m_orientation) {
    case 1: return 180;
    case 2: return 90;
    case 3: return 270;
    default: return 0;
    }
}

QRectF VirtualKeypadWindow::keyRect(int deviceKey) const
{
    const int position = positionOfKey(deviceKey);
    if (position < 0)
        return QRectF();
    const bool vertical = KeypadArt::isVertical(m_orientation);
    const QRectF body = bodyRect();
    const qreal scale = body.width() / KeypadArt::pictureSize(vertical).width();
    const QRectF face = KeypadArt::faceRect(vertical, position);
    return QRectF(body.left() + face.left() * scale, body.top() + face.top() * scale, face.width() * scale,
                  face.height() * scale);
}

int VirtualKeypadWindow::keyAt(const QPointF &point) const
{
    for (int key = 1; key <= KeypadEmulator::kKeys; ++key)
        if (keyRect(key).contains(point))
            return key;
    return 0;
}

void VirtualKeypadWindow::pressKey(int deviceKey)
{
    if (deviceKey >= 1 && deviceKey <= KeypadEmulator::kKeys)
        m_emulator->press(deviceKey);
}

QImage VirtualKeypadWindow::keyImage(int deviceKey) const
{
    QImage image(KeypadEmulator::kFaceSize, KeypadEmulator::kFaceSize, QImage::Format_RGB888);
    image.fill(Qt::black);
    if (deviceKey < 1 || deviceKey > KeypadEmulator::kKeys || !m_emulator->isPlugged() || !m_emulator->displayOn())
        return image;
    const int level = std::clamp(m_emulator->brightness(), 0, kFullBrightness);
    const std::vector<uint8_t> rgb = m_emulator->shownFrameRgb(deviceKey);
    if (rgb.size() != size_t(KeypadEmulator::kRgbBytes))
        return image;
    const int rowBytes = KeypadEmulator::kFaceSize * 3;
    for (int y = 0; y < KeypadEmulator::kFaceSize; ++y) {
        const uint8_t *source = &rgb[size_t(y) * rowBytes];
        uint8_t *target = image.scanLine(y);
        if (level == kFullBrightness) {
            std::memcpy(target, source, size_t(rowBytes));
            continue;
        }
        for (int i = 0; i < rowBytes; ++i)
            target[i] = uint8_t((source[i] * level + kFullBrightness / 2) / kFullBrightness);
    }
    return image;
}

bool VirtualKeypadWindow::refresh()
{
    const uint64_t generation = m_emulator->generation();
    if (generation == m_seenGeneration)
        return false;
    m_seenGeneration = generation; // read first: a change during the read shows on the next poll
    readFrames();
    return true;
}

QRect VirtualKeypadWindow::keyPaintRect(int deviceKey) const
{
    // The screen with the outline of a pressed key around it (3 pixels out, a pen of 2).
    return keyRect(deviceKey).adjusted(-5, -5, 5, 5).toAlignedRect();
}

void VirtualKeypadWindow::readFrames()
{
    // Only the screens whose picture changed are repainted: the backdrop and the body under the
    // others stay as they are.
    for (int key = 1; key <= KeypadEmulator::kKeys; ++key) {
        QImage image = keyImage(key);
        QImage &shown = m_keys[size_t(key - 1)];
        if (image == shown)
            continue;
        shown = std::move(image);
        update(keyPaintRect(key));
    }
}

void VirtualKeypadWindow::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect dirty = event->rect();

    QLinearGradient backdrop(0, 0, 0, height());
    backdrop.setColorAt(0, QColor(0xEE, 0xF1, 0xF5));
    backdrop.setColorAt(1, QColor(0xD3, 0xD9, 0xE1));
    painter.fillRect(dirty, backdrop);

    // The body is drawn from its vector picture once per size, density and turn.
    const bool vertical = KeypadArt::isVertical(m_orientation);
    const QRectF body = bodyRect();
    const qreal ratio = devicePixelRatioF();
    const QString bodyKey = QStringLiteral("%1x%2@%3/%4").arg(body.width()).arg(body.height()).arg(ratio).arg(m_orientation);
    if (bodyKey != m_bodyKey) {
        m_body = QPixmap((body.size() * ratio).toSize());
        m_body.setDevicePixelRatio(ratio);
        m_body.fill(Qt::transparent);
        QPainter bodyPainter(&m_body);
        bodyPainter.setRenderHint(QPainter::Antialiasing);
        KeypadArt::paintBody(bodyPainter, QRectF(QPointF(0, 0), body.size()), vertical, KeypadArt::isTurnedOver(m_orientation));
        m_bodyKey = bodyKey;
    }
    // Only the part of the body that is being repainted is copied (the source in the pixmap's own
    // pixels).
    const QRectF bodyPart = body.intersected(QRectF(dirty));
    if (!bodyPart.isEmpty()) {
        const QRectF source = bodyPart.translated(-body.topLeft());
        painter.drawPixmap(bodyPart, m_body,
                           QRectF(source.topLeft() * ratio, source.size() * ratio));
    }

    // The screens: pixels as the keypad lights them, unsmoothed so a pixel stays a pixel.
    painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
    for (int key = 1; key <= KeypadEmulator::kKeys; ++key) {
        const QRectF target = keyRect(key);
        if (!keyPaintRect(key).intersects(dirty))
            continue;
        painter.save();
        painter.translate(target.center());
        painter.rotate(faceRotation());
        const QRectF centred(-target.width() / 2, -target.height() / 2, target.width(), target.height());
        painter.drawImage(centred, m_keys[size_t(key - 1)]);
        painter.restore();

        // A faint reflection on the glass over the screen.
        QLinearGradient glass(target.topLeft(), target.bottomRight());
        glass.setColorAt(0, QColor(255, 255, 255, 28));
        glass.setColorAt(0.45, QColor(255, 255, 255, 6));
        glass.setColorAt(0.46, QColor(255, 255, 255, 0));
        painter.fillRect(target, glass);

        if (key == m_pressedKey && m_emulator->isPlugged()) {
            painter.setPen(QPen(QColor(0x5A, 0xB4, 0xFF, 200), 2));
            painter.setBrush(QColor(0, 0, 0, 60));
            painter.drawRoundedRect(target.adjusted(-3, -3, 3, 3), 6, 6);
        }
    }
}

void VirtualKeypadWindow::contextMenuEvent(QContextMenuEvent *event)
{
    QMenu menu(this);
    const bool plugged = m_emulator->isPlugged();
    QAction *unplug = menu.addAction(QStringLiteral("Unplug"));
    QAction *replug = menu.addAction(QStringLiteral("Plug In"));
    unplug->setEnabled(isRunning() && plugged);
    replug->setEnabled(isRunning() && !plugged);
    QAction *chosen = menu.exec(event->globalPos());
    if (chosen == unplug) {
        m_emulator->unplug();
    } else if (chosen == replug) {
        std::string error;
        if (!m_emulator->replug(&error))
            QMessageBox::warning(this, windowTitle(), QString::fromStdString(error));
    }
    refresh();
}

void VirtualKeypadWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        const int key = keyAt(event->position());
        if (key) {
            m_pressedKey = key;
            pressKey(key); // the keypad reports the press, not the release
            update(keyPaintRect(key));
            return;
        }
    }
    QWidget::mousePressEvent(event);
}

void VirtualKeypadWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (m_pressedKey) {
        update(keyPaintRect(m_pressedKey));
        m_pressedKey = 0;
    }
    QWidget::mouseReleaseEvent(event);
}

void VirtualKeypadWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    refresh();
    m_poll.start();
}

void VirtualKeypadWindow::hideEvent(QHideEvent *event)
{
    m_poll.stop();
    QWidget::hideEvent(event);
}

} // namespace pixkey
