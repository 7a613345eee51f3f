// VirtualKeypadWindow: a keypad on the screen for machines without one.
//
// The window runs a KeypadEmulator in this process on a pseudo-terminal; the host reaches it over
// the real serial wire protocol by opening linkPath() (set PIXKEY_PORT to it), exactly as it would
// open the keypad's adapter. The window shows the keypad body with the three key screens as the
// keypad shows them: the emulator's shown frames, dimmed by the brightness level (level / 60), black
// while the display is off, laid out for the orientation setting (horizontal for 0 and 1, vertical
// for 2 and 3, keys and pictures turned as the keypad is mounted so that faces read upright).
// Pressing a key screen with the mouse sends that key's press report to the host. The context menu
// unplugs the keypad and plugs it in again (the link path vanishes and comes back), so the host's
// reaction to a lost keypad can be tried by hand.
//
// The host reads PIXKEY_PORT when it builds its device link, so the window is started and the
// variable set to linkPath() before that.
//
// While visible the window polls the emulator's change counter 30 times a second and, when it
// moved, repaints only the screens whose picture changed; hidden it does not poll. The window owns the emulator; the link path lives in a
// private temporary folder that is removed with the window (or at the path given).
//
// [main-thread] like every widget. The emulator runs its own thread behind its own lock.
#pragma once

#include <QImage>
#include <QPixmap>
#include <QRectF>
#include <QString>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>

namespace pixkey {

class KeypadEmulator;

class VirtualKeypadWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kPollIntervalMs = 33;

    // linkPath: where the emulator's link is made; empty = "keypad" in a private temporary folder.
    explicit VirtualKeypadWindow(const QString &linkPath = QString(), QWidget *parent = nullptr);
    ~VirtualKeypadWindow() override;

    // Starts the emulator. False with a message in *error when the pty or the link cannot be made
    // (also when no temporary folder could be created). Starting a running keypad gives true.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const;

    // The path to hand to the host as PIXKEY_PORT.
    QString linkPath() const;
    // The emulator, for faults and inspection; owned by the window.
    KeypadEmulator &emulator() { return *m_emulator; }

    // The keypad's orientation setting 0..3 (others as 0); changes the layout and the window size.
    void setOrientation(int orientation);
    int orientation() const { return m_orientation; }

    // Where the screen of device key 1..3 is drawn, in widget coordinates; empty for other keys.
    QRectF keyRect(int deviceKey) const;
    // The device key whose screen is under `point`, 0 when none.
    int keyAt(const QPointF &point) const;
    // Sends the press report of device key 1..3, as a click on its screen does.
    void pressKey(int deviceKey);

    // What device key 1..3 looks like now: its shown frame as on the key (before turning for the
    // orientation), dimmed by brightness, black while the display is off or the keypad
    // unplugged. 96x96 RGB.
    QImage keyImage(int deviceKey) const;

    // Reads the emulator's frames now if its change counter moved; true when something changed.
    bool refresh();
    // Whether the window polls the emulator now (only while it is visible).
    bool isPolling() const { return m_poll.isActive(); }

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    // Where the keypad picture is drawn: the widget's rectangle with the picture's aspect kept.
    QRectF bodyRect() const;
    // Key position (0..2 along the body) that shows device key 1..3, and the turn of its picture.
    int positionOfKey(int deviceKey) const;
    int faceRotation() const;
    // Where device key 1..3 is repainted: its screen and the outline drawn around it when pressed.
    QRect keyPaintRect(int deviceKey) const;
    // Reads the three screens and repaints those that changed.
    void readFrames();

    std::unique_ptr<QTemporaryDir> m_tempDir; // only when no link path was given
    std::unique_ptr<KeypadEmulator> m_emulator;
    QTimer m_poll;
    int m_orientation = 0;
    uint64_t m_seenGeneration = ~uint64_t(0);
    std::array<QImage, 3> m_keys;  // device key 1..3 at index 0..2, as shown (dimmed)
    int m_pressedKey = 0;          // key under a held mouse button, drawn pressed
    QPixmap m_body;                // the keypad body as last drawn, reused while size and turn stay
    QString m_bodyKey;
};

} // namespace pixkey
